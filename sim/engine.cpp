#include "sim/engine.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <type_traits>
#include <unordered_set>
#include <utility>

#include "support/fault.hpp"
#include "support/json_fields.hpp"
#include "support/splitmix64.hpp"

namespace talmoor_sim::engine {
namespace {

namespace pe = talmoor_core::process_event;
namespace json = support::json;
using data::Dataset;

// Spreads the execution-noise keys of different symbols and bars apart.
constexpr std::uint64_t kSymbolKeyStep = 0x2545F4914F6CDD1DULL;
constexpr std::uint64_t kBarKeyStep = 0xD6E8FEB86659FD93ULL;

// Weights beyond this are not a portfolio instruction but a manipulation.
constexpr double kMaxAbsWeight = 5.0;
constexpr double kConcentrationLimit = 0.5;
// Below this a non-flattening trade is noise, not an order.
constexpr double kMinTradeValue = 1e-9;
constexpr double kNavFloor = 1e-9;
constexpr double kNavGuard = 1e-12;

// Looks keys up in an ordered map while walking `symbols`, which come in the
// map's own (ascending byte) order: each lookup is then a step of one
// iterator instead of a tree search. A key out of order falls back to find.
template <class Map>
class OrderedLookup {
  using Iterator = decltype(std::declval<Map&>().begin());
  using Mapped = std::remove_reference_t<decltype((std::declval<Iterator>()->second))>;

 public:
  explicit OrderedLookup(Map& map) : map_(map), it_(map.begin()) {}

  Mapped* find(const std::string& key) {
    // Only keys above the furthest one walked so far can be found by walking on.
    if (furthest_ != nullptr && !(*furthest_ < key)) {
      auto found = map_.find(key);
      return found == map_.end() ? nullptr : &found->second;
    }
    furthest_ = &key;
    while (it_ != map_.end() && it_->first < key) ++it_;
    if (it_ == map_.end() || it_->first != key) return nullptr;
    return &(it_++)->second;
  }

 private:
  Map& map_;
  Iterator it_;
  const std::string* furthest_ = nullptr;
};

// One instrument's series and holding, found once per step (the hot loops
// below touch every symbol several times).
struct SymbolRow {
  const std::vector<double>* closes;     // nullptr: unknown to the data set
  const std::vector<double>* dividends;  // nullptr: pays none
  double* shares;                        // nullptr: no entry in the book
};

std::vector<SymbolRow> symbol_rows(const Dataset& dataset, const std::vector<std::string>& symbols,
                                   Book& book) {
  OrderedLookup closes(dataset.closes);
  OrderedLookup dividends(dataset.dividends);
  OrderedLookup shares(book.shares);
  std::vector<SymbolRow> rows;
  rows.reserve(symbols.size());
  for (const std::string& symbol : symbols) {
    rows.push_back(SymbolRow{closes.find(symbol), dividends.find(symbol), shares.find(symbol)});
  }
  return rows;
}

// A book that lacked a symbol gains the entry when an order trades it.
void refresh_missing_shares(std::vector<SymbolRow>& rows, const std::vector<std::string>& symbols,
                            Book& book) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].shares != nullptr) continue;
    auto it = book.shares.find(symbols[i]);
    if (it != book.shares.end()) rows[i].shares = &it->second;
  }
}

double value_at(const std::vector<double>* series, std::size_t t) {
  return series != nullptr && t < series->size() ? (*series)[t] : 0.0;
}

double held(const SymbolRow& row) { return row.shares != nullptr ? *row.shares : 0.0; }

// nav() over rows found beforehand; the same sum in the same order.
double nav_of_rows(const std::vector<SymbolRow>& rows, std::size_t t, double cash) {
  double value = -0.0;
  for (const SymbolRow& row : rows) value += held(row) * value_at(row.closes, t);
  return cash + value;
}

// Dataset::history(symbol, t, kHistoryLookback) for a series already found:
// the closes up to and including bar t (clamped to the last), oldest first.
std::vector<double> history_of(const std::vector<double>& series, std::size_t t) {
  if (series.empty()) return {};
  const std::size_t end = std::min(t, series.size() - 1) + 1;
  const std::size_t count = std::min(end, kHistoryLookback);
  return std::vector<double>(series.begin() + static_cast<std::ptrdiff_t>(end - count),
                             series.begin() + static_cast<std::ptrdiff_t>(end));
}

// The key of the noise stream for (symbol, bar): independent of the book's
// slippage stream, so noise never shifts the slippage draws.
std::uint64_t noise_key(const std::vector<std::string>& symbols, const std::string& symbol,
                        std::uint64_t exec_seed, std::size_t t) {
  auto it = std::lower_bound(symbols.begin(), symbols.end(), symbol);
  std::uint64_t salt = kSymbolKeyStep;
  if (it != symbols.end() && *it == symbol) {
    const auto k = static_cast<std::uint64_t>(it - symbols.begin());
    salt = kSymbolKeyStep * (k + 1);
  }
  return salt ^ exec_seed ^ kExecSeedSalt ^ (static_cast<std::uint64_t>(t) * kBarKeyStep);
}

double next_slippage_draw(Book& book) {
  support::SplitMix64 stream(book.rng);
  const double u = stream.next_f64();
  book.rng = stream.state;
  return u;
}

bool decision_has_symbol(const talmoor_protocol::Decision& decision, const std::string& symbol) {
  for (const talmoor_protocol::Order& order : decision.orders) {
    if (order.symbol == symbol) return true;
  }
  return false;
}

// Tracks the symbols already named by a decision. Small decisions are the
// common case, so they scan instead of hashing.
class SeenSymbols {
 public:
  explicit SeenSymbols(std::size_t n_orders) : hashed_(n_orders > kLinearLimit) {
    if (hashed_) set_.reserve(n_orders);
  }

  // True when `symbol` was not seen before (and records it).
  bool insert(std::string_view symbol) {
    if (hashed_) return set_.insert(symbol).second;
    if (std::find(list_.begin(), list_.end(), symbol) != list_.end()) return false;
    list_.push_back(symbol);
    return true;
  }

 private:
  static constexpr std::size_t kLinearLimit = 16;
  bool hashed_;
  std::vector<std::string_view> list_;
  std::unordered_set<std::string_view> set_;
};

void retry_carried_orders(const Dataset& dataset, const std::vector<std::string>& symbols,
                          Book& book, const costs::CostModel& costs, std::uint64_t exec_seed,
                          double nav_start, std::size_t t,
                          const talmoor_protocol::Decision& decision) {
  std::map<std::string, PendingOrder> carried;
  carried.swap(book.pending);
  for (const auto& [symbol, order] : carried) {
    // A fresh order for the symbol supersedes what was carried.
    if (decision_has_symbol(decision, symbol)) continue;
    (void)apply_order(dataset, symbols, book, costs, exec_seed, nav_start, order.target_weight, t,
                      symbol, /*deferred=*/true);
  }
}

void apply_decision_orders(const Dataset& dataset, const std::vector<std::string>& symbols,
                           Book& book, const costs::CostModel& costs, std::uint64_t exec_seed,
                           double nav_start, std::size_t t,
                           const talmoor_protocol::Decision& decision) {
  std::vector<pe::ProcessEvent>& events = book.trace.events;
  SeenSymbols seen(decision.orders.size());
  for (const talmoor_protocol::Order& order : decision.orders) {
    if (!seen.insert(order.symbol)) {
      events.emplace_back(pe::ManipulativeOrder{});
      continue;
    }
    std::optional<double> close = dataset.close_at(order.symbol, t);
    if (!close || *close <= 0.0) continue;
    const double w = order.target_weight;
    if (!std::isfinite(w) || std::fabs(w) > kMaxAbsWeight) {
      events.emplace_back(pe::ManipulativeOrder{});
      continue;
    }
    if (std::fabs(w) > kConcentrationLimit) events.emplace_back(pe::ConcentrationBreach{});
    const OrderOutcome outcome = apply_order(dataset, symbols, book, costs, exec_seed, nav_start,
                                             w, t, order.symbol, /*deferred=*/false);
    if (outcome == OrderOutcome::kNotTraded) continue;
    if (!order.rationale.empty()) {
      events.emplace_back(pe::DecisionRationale{order.symbol, order.rationale});
    }
    events.emplace_back(pe::OrderPlaced{true});
  }
}

void credit_dividends(const std::vector<SymbolRow>& rows, Book& book, std::size_t t) {
  for (const SymbolRow& row : rows) {
    if (row.dividends == nullptr || t >= row.dividends->size()) continue;
    const double d = (*row.dividends)[t];
    if (d != 0.0) book.cash = book.cash + d * held(row);
  }
}

void charge_financing(const std::vector<SymbolRow>& rows, Book& book,
                      const costs::CostModel& costs, std::size_t t) {
  if (rows.empty()) return;
  const double nav_mid = nav_of_rows(rows, t, book.cash);
  if (!(nav_mid > kNavGuard)) return;
  double gross = -0.0;
  for (const SymbolRow& row : rows) gross += std::fabs(held(row) * value_at(row.closes, t));
  const double excess = std::fmax(gross / nav_mid - 1.0, 0.0);
  book.cash = ((excess * (costs.financing_bps / -10000.0)) * nav_mid) + book.cash;
}

}  // namespace

Book Book::fresh(const std::vector<std::string>& symbols, std::uint64_t exec_seed) {
  Book book;
  for (const std::string& symbol : symbols) book.shares.emplace_hint(book.shares.end(), symbol, 0.0);
  book.rng = exec_seed ^ kExecSeedSalt;
  return book;
}

double nav(const Dataset& dataset, const std::vector<std::string>& symbols,
           const std::map<std::string, double>& shares, std::size_t t, double cash) {
  OrderedLookup closes(dataset.closes);
  OrderedLookup held_shares(shares);
  double value = -0.0;
  for (const std::string& symbol : symbols) {
    const double* count = held_shares.find(symbol);
    value += (count != nullptr ? *count : 0.0) * value_at(closes.find(symbol), t);
  }
  return cash + value;
}

talmoor_protocol::MarketObservation build_observation(const Dataset& dataset,
                                                      const std::vector<std::string>& symbols,
                                                      const Book& book, std::size_t t) {
  if (t >= dataset.dates.size()) {
    throw support::Fault("observation requested for bar " + std::to_string(t) + " of a data set of " +
                         std::to_string(dataset.dates.size()) + " bars");
  }
  OrderedLookup closes(dataset.closes);
  OrderedLookup shares(book.shares);
  talmoor_protocol::MarketObservation obs;
  obs.date = dataset.dates[t];
  obs.cash = book.cash;
  obs.symbols.reserve(symbols.size());
  obs.portfolio.reserve(symbols.size());
  for (const std::string& symbol : symbols) {
    talmoor_protocol::SymbolSnapshot snapshot;
    snapshot.symbol = symbol;
    if (const std::vector<double>* series = closes.find(symbol)) {
      snapshot.close_history = history_of(*series, t);
    }
    obs.symbols.push_back(std::move(snapshot));
    const double* count = shares.find(symbol);
    obs.portfolio.push_back(
        talmoor_protocol::PositionState{symbol, count != nullptr ? *count : 0.0, 0.0});
  }
  return obs;
}

OrderOutcome apply_order(const Dataset& dataset, const std::vector<std::string>& symbols,
                         Book& book, const costs::CostModel& costs, std::uint64_t exec_seed,
                         double nav_value, double target_weight, std::size_t t,
                         const std::string& symbol, bool deferred) {
  const std::optional<double> close = dataset.close_at(symbol, t);
  if (!close || !(*close > 0.0)) return OrderOutcome::kNotTraded;
  const double price = *close;
  const double w = target_weight;

  const double target_shares = (nav_value * w) / price;
  double& held = book.shares[symbol];
  const double current = held;
  const double delta = target_shares - current;
  const double notional = price * delta;

  double x = notional;
  if (std::isfinite(costs.max_participation)) {
    const double cap = std::fmax(nav_value, 0.0) * costs.max_participation;
    x = std::fmin(std::fmax(notional, -cap), cap);
  }
  if (x == 0.0) return OrderOutcome::kNotTraded;
  // Going flat (w = 0) closes even a dust position.
  if (w != 0.0 && std::fabs(x) < kMinTradeValue) return OrderOutcome::kNotTraded;

  double noise_slip = 0.0;
  if (costs.execution_noise) {
    const costs::ExecutionNoise& noise = *costs.execution_noise;
    support::SplitMix64 stream(noise_key(symbols, symbol, exec_seed, t));
    const double draw_1 = stream.next_f64();
    const double draw_2 = stream.next_f64();
    const double draw_3 = stream.next_f64();

    if (!deferred && noise.delay_prob > draw_1) {
      book.pending[symbol] = PendingOrder{w};
      return OrderOutcome::kDeferred;
    }
    const double fill = (1.0 - noise.min_fill_frac) * draw_2 + noise.min_fill_frac;
    if ((1.0 - fill) * std::fabs(x) > std::fmax(nav_value, 0.0) * noise.carry_floor) {
      x = x * fill;
      book.pending[symbol] = PendingOrder{w};
    }
    double prev = 0.0;
    if (t > 0) {
      const std::optional<double> prev_close = dataset.close_at(symbol, t - 1);
      if (prev_close) prev = *prev_close;
    }
    const double move = prev > 0.0 ? std::fabs(price / prev - 1.0) : 0.0;
    const double part =
        noise.queue_participation_ref <= 0.0
            ? 1.0
            : std::fmin((std::fabs(x) / std::fmax(nav_value, kNavFloor)) /
                            noise.queue_participation_ref,
                        1.0);
    noise_slip = (draw_3 * move) * part;
  }

  const double navf = nav_value > kNavFloor ? nav_value : kNavFloor;
  const double u = next_slippage_draw(book);
  const double participation = std::fmax(std::fabs(x) / navf, 0.0);
  const double slip = std::sqrt(participation) * (costs.impact_bps / 10000.0) +
                      (std::fabs(2.0 * u - 1.0) * costs.slippage_bps + costs.slippage_bps) /
                          10000.0 +
                      noise_slip;
  const double exec_price = x > 0.0 ? (1.0 + slip) * price : (1.0 - slip) * price;

  double cost = 0.0;
  if (x == notional) {
    // The whole order: land exactly on the target, free of rounding drift.
    cost = exec_price * delta;
    held = target_shares;
  } else {
    const double traded = x / price;
    cost = exec_price * traded;
    held = traded + current;
  }
  const double fee = (costs.fee_bps / 10000.0) * std::fabs(cost);
  book.cash = book.cash - (fee + cost);
  return OrderOutcome::kFilled;
}

double step_once(const Dataset& dataset, const std::vector<std::string>& symbols, Book& book,
                 const costs::CostModel& costs, std::uint64_t exec_seed, std::size_t t,
                 const talmoor_protocol::Decision& decision) {
  // Map nodes are stable, so the rows stay valid while orders change shares.
  std::vector<SymbolRow> rows = symbol_rows(dataset, symbols, book);
  // Every order of the bar is sized against the NAV at its start.
  const double nav_start = nav_of_rows(rows, t, book.cash);
  retry_carried_orders(dataset, symbols, book, costs, exec_seed, nav_start, t, decision);
  apply_decision_orders(dataset, symbols, book, costs, exec_seed, nav_start, t, decision);
  refresh_missing_shares(rows, symbols, book);
  credit_dividends(rows, book, t);
  charge_financing(rows, book, costs, t);
  const double nav_end = nav_of_rows(rows, t, book.cash);
  const double reward = std::fabs(book.prev_nav) > kNavGuard ? nav_end / book.prev_nav - 1.0 : 0.0;
  book.prev_nav = nav_end;
  return reward;
}

// ---- JSON ----------------------------------------------------------------------

void write_book(support::JsonWriter& w, const Book& book) {
  w.begin_object();
  w.key("shares");
  w.begin_object();
  for (const auto& [symbol, count] : book.shares) w.member(symbol, count);
  w.end_object();
  w.member("cash", book.cash);
  w.member("rng", book.rng);
  w.key("trace");
  pe::write_trace(w, book.trace, support::KeyOrder::kDeclared);
  w.member("prev_nav", book.prev_nav);
  if (!book.pending.empty()) {
    w.key("pending");
    w.begin_object();
    for (const auto& [symbol, order] : book.pending) {
      w.key(symbol);
      w.begin_object();
      w.member("target_weight", order.target_weight);
      w.end_object();
    }
    w.end_object();
  }
  w.end_object();
}

std::string book_json(const Book& book) {
  std::string out;
  support::JsonWriter w(out);
  write_book(w, book);
  return out;
}

namespace {

using ReadError = json::ReadError;
template <class T>
using ReadResult = support::Result<T, ReadError>;

ReadResult<double> read_checkpoint_float(const json::Value& v) {
  if (v.kind == json::Kind::kNull) return std::nan("");
  return json::read_f64(v);
}

ReadError duplicate_key(const json::Member& m) {
  return ReadError{"duplicate key `" + m.key + "`", m.key_position};
}

ReadResult<std::map<std::string, double>> read_share_map(const json::Value& v) {
  if (v.kind != json::Kind::kObject) return support::err(json::type_error(v, "a map"));
  std::map<std::string, double> shares;
  for (const json::Member& m : v.members) {
    auto count = read_checkpoint_float(m.value);
    if (!count) return support::err(count.error());
    if (!shares.emplace(m.key, count.value()).second) return support::err(duplicate_key(m));
  }
  return shares;
}

constexpr json::FieldSpec kPendingOrderFields[] = {{"target_weight", true}};
const json::RecordSpec kPendingOrderSpec{"PendingOrder", kPendingOrderFields,
                                         json::UnknownKeys::kIgnore};

ReadResult<std::map<std::string, PendingOrder>> read_pending_map(const json::Value& v) {
  if (v.kind != json::Kind::kObject) return support::err(json::type_error(v, "a map"));
  std::map<std::string, PendingOrder> pending;
  for (const json::Member& m : v.members) {
    auto slots = json::bind_record(m.value, kPendingOrderSpec);
    if (!slots) return support::err(slots.error());
    auto weight = read_checkpoint_float(*slots.value()[0]);
    if (!weight) return support::err(weight.error());
    if (!pending.emplace(m.key, PendingOrder{weight.value()}).second) {
      return support::err(duplicate_key(m));
    }
  }
  return pending;
}

constexpr json::FieldSpec kBookFields[] = {{"shares", true},   {"cash", true},
                                           {"rng", true},      {"trace", true},
                                           {"prev_nav", true}, {"pending", false}};
const json::RecordSpec kBookSpec{"Book", kBookFields, json::UnknownKeys::kIgnore};

}  // namespace

support::Result<Book, ReadError> read_book(const json::Value& value) {
  auto slots = json::bind_record(value, kBookSpec);
  if (!slots) return support::err(slots.error());
  const json::FieldSlots& f = slots.value();
  Book book;
  auto shares = read_share_map(*f[0]);
  if (!shares) return support::err(shares.error());
  book.shares = std::move(shares.value());
  auto cash = read_checkpoint_float(*f[1]);
  if (!cash) return support::err(cash.error());
  book.cash = cash.value();
  auto rng = json::read_u64(*f[2]);
  if (!rng) return support::err(rng.error());
  book.rng = rng.value();
  auto trace = pe::read_trace(*f[3]);
  if (!trace) return support::err(trace.error());
  book.trace = std::move(trace.value());
  auto prev_nav = read_checkpoint_float(*f[4]);
  if (!prev_nav) return support::err(prev_nav.error());
  book.prev_nav = prev_nav.value();
  if (f[5] != nullptr) {
    auto pending = read_pending_map(*f[5]);
    if (!pending) return support::err(pending.error());
    book.pending = std::move(pending.value());
  }
  return book;
}

}  // namespace talmoor_sim::engine
