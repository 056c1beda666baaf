#include "evaluation/market.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "evaluation/bar_clearing.hpp"
#include "support/fault.hpp"
#include "support/json_record.hpp"

namespace corvane::market {

namespace tp = talmoor_protocol;

// Prices this close to zero are treated as zero: no return is taken over them.
constexpr double kTinyPrice = 1e-12;
// A position this small counts as flat.
constexpr double kFlatShares = 1e-12;
constexpr double kTrendThreshold = 0.02;
constexpr std::size_t kMaxStartBar = 20;

std::string_view richness_label(RichnessLevel level) {
  switch (level) {
    case RichnessLevel::kPoor:
      return "data_poor";
    case RichnessLevel::kStandard:
      return "standard";
    case RichnessLevel::kRich:
      return "data_rich";
  }
  return "standard";
}

Richness richness_of(RichnessLevel level) {
  switch (level) {
    case RichnessLevel::kPoor:
      return Richness{3, false, false};
    case RichnessLevel::kStandard:
      return Richness{20, false, false};
    case RichnessLevel::kRich:
      return Richness{50, true, true};
  }
  return Richness{20, false, false};
}

std::optional<RichnessLevel> richness_from_label(std::string_view label) {
  for (RichnessLevel level : {RichnessLevel::kPoor, RichnessLevel::kStandard,
                              RichnessLevel::kRich}) {
    if (label == richness_label(level)) return level;
  }
  return std::nullopt;
}

void VolTracker::push(double v) {
  if (count == kVolWindow) {
    sum = sum - ring[index];
  } else {
    count = count + 1;
  }
  ring[index] = v;
  sum = v + sum;
  index = (index + 1) % kVolWindow;
}

double VolTracker::mean() const {
  if (count == 0) return 0.0;
  return sum / static_cast<double>(count);
}

MarketClearing MarketClearing::from_dataset_with_richness(
    const talmoor_sim::data::Dataset& dataset, std::size_t n_agents, Richness richness,
    double capital) {
  if (n_agents == 0) throw support::Fault("a market needs at least one agent");
  MarketClearing m;
  m.symbols = dataset.symbols();
  m.n_bars = dataset.dates.size();
  if (m.symbols.empty() || m.n_bars < 2) {
    throw support::Fault("need at least one symbol and two bars");
  }
  m.closes.reserve(m.symbols.size());
  for (const std::string& symbol : m.symbols) {
    auto it = dataset.closes.find(symbol);
    m.closes.push_back(it == dataset.closes.end() ? std::vector<double>{} : it->second);
  }
  m.dates = dataset.dates;
  m.start_bar = std::min(m.n_bars - 1, kMaxStartBar);
  m.richness = richness;
  m.capital = capital;
  m.agents.resize(n_agents);
  m.reset();
  return m;
}

std::string MarketClearing::date_at(std::size_t t) const {
  return t < dates.size() ? dates[t] : std::string();
}

double MarketClearing::close_clamped(std::size_t k, std::size_t t) const {
  const std::vector<double>& series = closes[k];
  // A symbol without closes has no price at all; NaN flows through the
  // results instead of reading outside the series.
  if (series.empty()) return std::numeric_limits<double>::quiet_NaN();
  return series[std::min(t, series.size() - 1)];
}

void MarketClearing::reset() {
  const std::size_t n = symbols.size();
  cursor = start_bar;
  impact_factor.assign(n, 1.0);
  mids.resize(n);
  mid_history.assign(n, {});
  trackers.assign(n, VolTracker{});
  for (std::size_t k = 0; k < n; ++k) {
    mids[k] = close_clamped(k, start_bar);
    const std::vector<double>& series = closes[k];
    std::size_t len = std::min(series.size(), start_bar);
    mid_history[k].assign(series.begin(), series.begin() + static_cast<std::ptrdiff_t>(len));
    const std::vector<double>& hist = mid_history[k];
    for (std::size_t i = 1; i < hist.size(); ++i) {
      double prev = hist[i - 1];
      if (std::fabs(prev) > kTinyPrice) {
        double r = (hist[i] - prev) / prev;
        trackers[k].push(r * r);
      }
    }
  }
  for (AgentBook& book : agents) {
    book.shares.assign(n, 0.0);
    book.cost_basis.assign(n, 0.0);
    book.last_weights.assign(n, 0.0);
    book.cash = capital;
  }
}

std::string news_headline(std::string_view symbol, double trailing_return,
                          std::size_t window_length) {
  std::string out(symbol);
  if (trailing_return > kTrendThreshold) {
    out += ": uptrend, ";
  } else if (trailing_return < -kTrendThreshold) {
    out += ": downtrend, ";
  } else {
    out += ": range-bound, ";
  }
  // to_chars, unlike printf, ignores the process locale: the headline must
  // read the same whatever locale the host application set.
  const double percent = 100.0 * trailing_return;
  char digits[400];
  auto written =
      std::to_chars(digits, digits + sizeof digits, percent, std::chars_format::fixed, 2);
  if (!std::signbit(percent)) out += '+';
  out.append(digits, written.ptr);
  out += "% over ";
  out += std::to_string(window_length);
  out += " bars";
  return out;
}

tp::SymbolSnapshot MarketClearing::snapshot(const std::string& symbol,
                                            std::span<const double> series) const {
  tp::SymbolSnapshot s;
  s.symbol = symbol;
  std::size_t len = std::min(series.size(), richness.lookback);
  std::span<const double> window = series.subspan(series.size() - len);
  s.close_history.assign(window.begin(), window.end());
  if (window.size() < 2 || (!richness.fundamentals && !richness.news)) return s;

  double first = window.front();
  double last = window.back();
  double trailing_return = std::fabs(first) <= kTinyPrice ? 0.0 : last / first - 1.0;
  if (richness.fundamentals) {
    double high = window.front();
    double low = window.front();
    for (double v : window.subspan(1)) {
      high = std::fmax(high, v);
      low = std::fmin(low, v);
    }
    s.fundamentals.emplace("trailing_return", trailing_return);
    s.fundamentals.emplace("window_high", high);
    s.fundamentals.emplace("window_low", low);
  }
  if (richness.news) s.news.push_back(news_headline(symbol, trailing_return, window.size()));
  return s;
}

tp::MarketObservation MarketClearing::observation(
    std::size_t agent, std::string date, const std::vector<tp::SymbolSnapshot>& snapshots) const {
  const AgentBook& book = agents[agent];
  tp::MarketObservation obs;
  obs.date = std::move(date);
  obs.cash = book.cash;
  obs.symbols = snapshots;
  obs.portfolio.reserve(symbols.size());
  for (std::size_t k = 0; k < symbols.size(); ++k) {
    double shares = book.shares[k];
    double avg_price =
        std::fabs(shares) > kFlatShares ? std::fabs(book.cost_basis[k] / shares) : 0.0;
    obs.portfolio.push_back(tp::PositionState{symbols[k], shares, avg_price});
  }
  return obs;
}

std::vector<tp::MarketObservation> MarketClearing::initial_observations() const {
  std::vector<tp::SymbolSnapshot> snapshots;
  snapshots.reserve(symbols.size());
  std::vector<double> series;
  for (std::size_t k = 0; k < symbols.size(); ++k) {
    series.assign(mid_history[k].begin(), mid_history[k].end());
    series.push_back(close_clamped(k, start_bar));
    snapshots.push_back(snapshot(symbols[k], series));
  }
  std::string date = date_at(start_bar);
  std::vector<tp::MarketObservation> out;
  out.reserve(agents.size());
  for (std::size_t a = 0; a < agents.size(); ++a) out.push_back(observation(a, date, snapshots));
  return out;
}

ClearResult MarketClearing::step_concave(const std::vector<std::vector<double>>& orders,
                                         const ImpactParams& params,
                                         const std::optional<UncertaintySet>& uncertainty,
                                         double impact_exponent) {
  std::size_t bar = std::min(cursor, n_bars - 1);
  std::vector<double> exo_mid(symbols.size());
  for (std::size_t k = 0; k < symbols.size(); ++k) exo_mid[k] = close_clamped(k, bar);
  return bar_clearing::clear_bar_concave(exo_mid, orders, params, uncertainty, impact_exponent,
                                         *this);
}

// ---------------------------------------------------------------------------
// JSON forms. The market's outputs are dynamic values: keys in ascending byte
// order at every depth.

namespace {

using support::JsonWriter;
using support::KeyOrder;

const support::RecordFields<AgentFill>& agent_fill_fields() {
  static const support::RecordFields<AgentFill> fields({
      {"symbol", [](JsonWriter& w, const AgentFill& f, KeyOrder) { w.string(f.symbol); }},
      {"size", [](JsonWriter& w, const AgentFill& f, KeyOrder) { w.number(f.size); }},
      {"fill_price", [](JsonWriter& w, const AgentFill& f, KeyOrder) { w.number(f.fill_price); }},
  });
  return fields;
}

const support::RecordFields<ImpactCoefficients>& impact_coefficient_fields() {
  static const support::RecordFields<ImpactCoefficients> fields({
      {"lambda",
       [](JsonWriter& w, const ImpactCoefficients& c, KeyOrder) { w.number(c.lambda); }},
      {"eta", [](JsonWriter& w, const ImpactCoefficients& c, KeyOrder) { w.number(c.eta); }},
  });
  return fields;
}

constexpr std::string_view kEmptySymbolsTail = "\"symbols\":[]}";

// True when the sorted form of an observation ends with its symbols list
// ("symbols" is the last key in byte order); checked on the writer itself.
bool symbols_written_last() {
  static const bool last = tp::observation_json(tp::MarketObservation{}, KeyOrder::kSorted)
                               .ends_with(kEmptySymbolsTail);
  return last;
}

std::string snapshots_json(const std::vector<tp::SymbolSnapshot>& snapshots) {
  std::string out;
  JsonWriter w(out);
  w.begin_array();
  for (const tp::SymbolSnapshot& s : snapshots) tp::write_symbol_snapshot(w, s, KeyOrder::kSorted);
  w.end_array();
  return out;
}

// Every agent of a step sees the same snapshot list, and writing it would
// dominate the cost of a step (agents x symbols x lookback numbers). So it is
// written once: each observation is written with an empty list, which is then
// replaced in place by the shared text. An observation whose list differs
// takes the plain path.
void write_observations(JsonWriter& w, const std::vector<tp::MarketObservation>& observations) {
  w.begin_array();
  const bool can_share = !observations.empty() && symbols_written_last();
  std::string shared;
  for (std::size_t a = 0; a < observations.size(); ++a) {
    const tp::MarketObservation& obs = observations[a];
    const std::size_t before = w.out().size();
    if (can_share && obs.symbols == observations.front().symbols) {
      if (shared.empty()) shared = snapshots_json(obs.symbols);
      tp::write_observation(w, tp::MarketObservation{obs.date, obs.cash, {}, obs.portfolio},
                            KeyOrder::kSorted);
      std::string& out = w.out();
      out.resize(out.size() - 3);  // drop "[]}" of the empty list
      out += shared;
      out += '}';
    } else {
      tp::write_observation(w, obs, KeyOrder::kSorted);
    }
    // The observations are nearly all of a step's text: growing the output
    // once, instead of by repeated doubling, avoids copying megabytes.
    if (a == 0) {
      std::string& out = w.out();
      out.reserve(out.size() + observations.size() * (out.size() - before + 1) + 256);
    }
  }
  w.end_array();
}

}  // namespace

void write_clear_result(JsonWriter& w, const ClearResult& result, std::size_t cursor) {
  w.begin_object();
  w.member("cleared_mids", result.cleared_mids);
  w.key("cursor");
  w.unsigned_integer(cursor);
  w.member("done", result.done);
  w.key("fills");
  w.begin_array();
  for (const std::vector<AgentFill>& agent_fills : result.fills) {
    w.begin_array();
    for (const AgentFill& fill : agent_fills) {
      agent_fill_fields().write(w, fill, KeyOrder::kSorted);
    }
    w.end_array();
  }
  w.end_array();
  w.member("navs", result.navs);
  w.member("net_flow", result.net_flow);
  w.key("observations");
  write_observations(w, result.observations);
  w.member("rewards", result.rewards);
  if (result.robust_impact) {
    w.key("robust_impact");
    w.begin_array();
    for (const ImpactCoefficients& c : *result.robust_impact) {
      impact_coefficient_fields().write(w, c, KeyOrder::kSorted);
    }
    w.end_array();
  }
  w.end_object();
}

std::string clear_result_json(const ClearResult& result, std::size_t cursor) {
  std::string out;
  JsonWriter w(out);
  write_clear_result(w, result, cursor);
  return out;
}

std::string reset_json(const MarketClearing& market) {
  std::string out;
  JsonWriter w(out);
  w.begin_object();
  w.member("capital", market.capital);
  w.key("cursor");
  w.unsigned_integer(market.cursor);
  w.key("n_agents");
  w.unsigned_integer(market.n_agents());
  w.key("n_bars");
  w.unsigned_integer(market.n_bars);
  w.key("observations");
  write_observations(w, market.initial_observations());
  w.key("start_bar");
  w.unsigned_integer(market.start_bar);
  w.member("symbols", market.symbols);
  w.end_object();
  return out;
}

std::string richness_json(const Richness& richness) {
  std::string out;
  JsonWriter w(out);
  w.begin_object();
  w.member("fundamentals", richness.fundamentals);
  w.key("lookback");
  w.unsigned_integer(richness.lookback);
  w.member("news", richness.news);
  w.end_object();
  return out;
}

std::string uncertainty_json(const UncertaintySet& set) {
  std::string out;
  JsonWriter w(out);
  w.begin_object();
  w.member("correlation", set.correlation);
  w.member("eta_radius", set.eta_radius);
  w.member("lambda_radius", set.lambda_radius);
  w.end_object();
  return out;
}

}  // namespace corvane::market
