#pragma once
// The multi-agent market: several agents trade the same instruments bar by
// bar, and their combined order flow moves the price all of them see. This
// unit holds the market's state, its construction and reset, the
// observations it hands out and the step driver; the clearing of one bar
// with its impact formulas lives in bar_clearing.hpp.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/observation.hpp"
#include "sim/data.hpp"
#include "support/json_writer.hpp"

namespace corvane::market {

// How much an observation discloses.
enum class RichnessLevel { kPoor, kStandard, kRich };

struct Richness {
  std::size_t lookback = 20;
  bool fundamentals = false;
  bool news = false;
};

// "data_poor", "standard", "data_rich".
std::string_view richness_label(RichnessLevel level);
Richness richness_of(RichnessLevel level);
// Exact label match; nullopt for anything else.
std::optional<RichnessLevel> richness_from_label(std::string_view label);

// Supplied by the owner on every step; none of them is validated.
struct ImpactParams {
  double kyle_lambda = 0.1;   // permanent-impact coefficient
  double eta = 0.05;          // temporary-impact coefficient
  double volume_scale = 1.0;  // the flow one unit of impact refers to
  double vol_scale = 0.0;     // strength of the volatility multiplier
};

// An ellipse of impact coefficients around the point estimates.
struct UncertaintySet {
  double lambda_radius = 0.0;
  double eta_radius = 0.0;
  double correlation = 0.0;
};

inline constexpr std::size_t kVolWindow = 20;

// A rolling window of the last 20 squared bar returns.
struct VolTracker {
  std::array<double, kVolWindow> ring{};
  std::size_t index = 0;
  std::size_t count = 0;
  double sum = 0.0;

  void push(double v);
  // sum / count, and 0.0 while nothing is held.
  double mean() const;
};

struct AgentBook {
  std::vector<double> shares;
  std::vector<double> cost_basis;  // reset to 0.0 whenever the position goes flat
  std::vector<double> last_weights;
  double cash = 0.0;
};

struct AgentFill {
  std::string symbol;
  double size = 0.0;  // shares bought, negative for a sale
  double fill_price = 0.0;
};

struct ImpactCoefficients {
  double lambda = 0.0;
  double eta = 0.0;
};

struct ClearResult {
  std::vector<double> cleared_mids;
  std::vector<double> net_flow;
  std::vector<double> rewards;
  std::vector<double> navs;
  std::vector<std::vector<AgentFill>> fills;  // per agent, per symbol
  std::vector<talmoor_protocol::MarketObservation> observations;
  bool done = false;
  std::optional<std::vector<ImpactCoefficients>> robust_impact;
};

struct MarketClearing {
  // Fixed at construction.
  std::vector<std::string> symbols;
  std::vector<std::string> dates;
  std::vector<std::vector<double>> closes;  // per symbol
  Richness richness;
  double capital = 1.0;
  std::size_t start_bar = 0;
  std::size_t n_bars = 0;

  // Changed by every step, restored by reset().
  std::vector<double> impact_factor;
  std::vector<double> mids;
  std::vector<std::vector<double>> mid_history;
  std::vector<VolTracker> trackers;
  std::vector<AgentBook> agents;
  std::size_t cursor = 0;

  // Faults (support::Fault) on no agent, no symbol or fewer than two bars.
  static MarketClearing from_dataset_with_richness(const talmoor_sim::data::Dataset& dataset,
                                                   std::size_t n_agents, Richness richness,
                                                   double capital);

  void reset();
  std::vector<talmoor_protocol::MarketObservation> initial_observations() const;

  // Clears the bar at the cursor. orders: one weight vector per agent, one
  // weight per symbol. impact_exponent 1.0 selects the linear formulas.
  ClearResult step_concave(const std::vector<std::vector<double>>& orders,
                           const ImpactParams& params,
                           const std::optional<UncertaintySet>& uncertainty,
                           double impact_exponent);

  talmoor_protocol::SymbolSnapshot snapshot(const std::string& symbol,
                                            std::span<const double> series) const;
  talmoor_protocol::MarketObservation observation(
      std::size_t agent, std::string date,
      const std::vector<talmoor_protocol::SymbolSnapshot>& snapshots) const;

  std::size_t n_agents() const { return agents.size(); }
  std::size_t n_symbols() const { return symbols.size(); }
  bool done() const { return cursor >= n_bars; }
  // dates[t], or the empty string past the calendar.
  std::string date_at(std::size_t t) const;
  // closes[k][min(t, len - 1)]; NaN for a symbol without closes.
  double close_clamped(std::size_t k, std::size_t t) const;
};

// The trend headline of one window, e.g. "SYM00: uptrend, +3.50% over 50 bars".
std::string news_headline(std::string_view symbol, double trailing_return,
                          std::size_t window_length);

// The cleared bar as one dynamic JSON object with the market cursor added;
// keys in ascending byte order at every depth, "robust_impact" only when an
// uncertainty set was used.
void write_clear_result(support::JsonWriter& w, const ClearResult& result, std::size_t cursor);
std::string clear_result_json(const ClearResult& result, std::size_t cursor);

// The reset record: capital, cursor, n_agents, n_bars, the initial
// observations, start_bar and symbols, keys in ascending byte order.
std::string reset_json(const MarketClearing& market);

// {"fundamentals":…,"lookback":…,"news":…} and
// {"correlation":…,"eta_radius":…,"lambda_radius":…}.
std::string richness_json(const Richness& richness);
std::string uncertainty_json(const UncertaintySet& set);

}  // namespace corvane::market
