#include "evaluation/bar_clearing.hpp"

#include <cmath>

#include "support/fault.hpp"

namespace corvane::bar_clearing {

namespace tp = talmoor_protocol;
using market::AgentBook;
using market::AgentFill;
using market::ClearResult;
using market::ImpactCoefficients;
using market::ImpactParams;
using market::MarketClearing;
using market::UncertaintySet;

namespace {

constexpr double kTinyPrice = 1e-12;
constexpr double kFlatShares = 1e-12;
constexpr double kTinyValue = 1e-12;
constexpr double kVolMultCap = 3.0;

void check_preconditions(const std::vector<double>& exo_mid,
                         const std::vector<std::vector<double>>& orders, double x,
                         const MarketClearing& market) {
  if (!(x > 0.0)) throw support::Fault("impact_exponent must be positive (1.0 = linear)");
  const std::size_t n_symbols = market.n_symbols();
  if (exo_mid.size() != n_symbols) throw support::Fault("exo_mid must cover every symbol");
  if (orders.size() != market.n_agents()) throw support::Fault("one order vector per agent");
  for (const std::vector<double>& weights : orders) {
    if (weights.size() != n_symbols) {
      throw support::Fault("each order vector must cover every symbol");
    }
  }
}

// Scales the temporary impact by recent volatility, capped so that a burst
// of returns cannot blow prices up without bound.
double vol_multiplier(const market::VolTracker& tracker, double vol_scale) {
  if (!(vol_scale > 0.0)) return 1.0;
  double g = vol_scale * tracker.mean() + 1.0;
  return g > kVolMultCap ? kVolMultCap : g;
}

// One agent's trades at this bar: updates its book and writes its fills,
// net asset value and reward into the result.
void trade_agent(std::size_t a, const std::vector<double>& pre_mid,
                 const std::vector<double>& vol_mult, const std::vector<std::vector<double>>& trade,
                 const std::vector<double>& net_flow,
                 const std::vector<ImpactCoefficients>& coefficients,
                 const std::vector<std::vector<double>>& orders, double v, double x,
                 MarketClearing& market, ClearResult& result) {
  AgentBook& book = market.agents[a];
  const std::size_t n_symbols = market.n_symbols();
  const bool linear = x == 1.0;

  // The old position, valued at the previous bar's mids.
  double position_value = -0.0;
  for (std::size_t k = 0; k < n_symbols; ++k) {
    position_value = position_value + book.shares[k] * market.mids[k];
  }
  const double cash0 = book.cash;

  std::vector<AgentFill>& fills = result.fills[a];
  fills.reserve(n_symbols);
  for (std::size_t k = 0; k < n_symbols; ++k) {
    const double q = trade[a][k];
    const double lambda = coefficients[k].lambda;
    const double eta = coefficients[k].eta;
    double imp = linear ? (q * eta + net_flow[k] * lambda) / v
                        : (eta * q) / v + lambda * spow(net_flow[k] / v, x);
    double price = pre_mid[k] * (imp * vol_mult[k] + 1.0);
    double cost = q * price;
    book.cash = book.cash - cost;
    double s = book.shares[k] + q;
    book.cost_basis[k] = std::fabs(s) < kFlatShares ? 0.0 : cost + book.cost_basis[k];
    book.shares[k] = s;
    book.last_weights[k] = orders[a][k];
    fills.push_back(AgentFill{market.symbols[k], q, price});
  }

  // The new position, valued at this bar's pre-trade mids.
  double new_position_value = -0.0;
  for (std::size_t k = 0; k < n_symbols; ++k) {
    new_position_value = new_position_value + book.shares[k] * pre_mid[k];
  }
  double nav = new_position_value + book.cash;
  double prev = cash0 + position_value;
  result.navs[a] = nav;
  result.rewards[a] = std::fabs(prev) > kTinyValue ? (nav - prev) / prev : 0.0;
}

}  // namespace

double spow(double z, double x) {
  if (z >= 0.0) return std::pow(z, x);
  return -std::pow(-z, x);
}

ImpactCoefficients robust_coefficients(double own_flow_sq, double net_flow_sq,
                                       const UncertaintySet& set, double lambda0, double eta0) {
  const double s = own_flow_sq;
  const double a = net_flow_sq;
  const double rl = set.lambda_radius;
  const double re = set.eta_radius;
  const double c = set.correlation;

  const double k1 = (rl * c) * re;
  const double l = s * k1 + (rl * rl) * a;
  const double h = (re * re) * s + k1 * a;
  const double q = s * h + a * l;
  if (q <= 0.0) return ImpactCoefficients{lambda0, eta0};

  const double r = std::sqrt(q);
  const double lambda_star = l / r + lambda0;
  if (lambda_star < 0.0) {
    // Clip lambda to zero and move eta to the ellipse's extreme there.
    double e = -lambda0 / rl;
    double o = (1.0 - c * c) * (1.0 - e * e);
    return ImpactCoefficients{0.0, eta0 + re * (std::sqrt(std::fmax(o, 0.0)) + e * c)};
  }
  const double eta_star = h / r + eta0;
  if (eta_star < 0.0) {
    double e = -eta0 / re;
    double o = (1.0 - e * e) * (1.0 - c * c);
    return ImpactCoefficients{lambda0 + rl * (std::sqrt(std::fmax(o, 0.0)) + e * c), 0.0};
  }
  return ImpactCoefficients{lambda_star, eta_star};
}

ClearResult clear_bar_concave(const std::vector<double>& exo_mid,
                              const std::vector<std::vector<double>>& orders,
                              const ImpactParams& params,
                              const std::optional<UncertaintySet>& uncertainty, double x,
                              MarketClearing& market) {
  check_preconditions(exo_mid, orders, x, market);
  const std::size_t n_symbols = market.n_symbols();
  const std::size_t n_agents = market.n_agents();
  const double v = params.volume_scale;

  std::vector<double> pre_mid(n_symbols);
  std::vector<double> vol_mult(n_symbols);
  for (std::size_t k = 0; k < n_symbols; ++k) {
    pre_mid[k] = exo_mid[k] * market.impact_factor[k];
    vol_mult[k] = vol_multiplier(market.trackers[k], params.vol_scale);
  }

  // A weight change is converted at the market's fixed capital, not at the
  // agent's current net asset value.
  std::vector<std::vector<double>> trade(n_agents, std::vector<double>(n_symbols));
  std::vector<double> net_flow(n_symbols, 0.0);
  for (std::size_t a = 0; a < n_agents; ++a) {
    const AgentBook& book = market.agents[a];
    for (std::size_t k = 0; k < n_symbols; ++k) {
      double q = ((orders[a][k] - book.last_weights[k]) * market.capital) / pre_mid[k];
      trade[a][k] = q;
      net_flow[k] = q + net_flow[k];
    }
  }

  std::vector<ImpactCoefficients> coefficients(
      n_symbols, ImpactCoefficients{params.kyle_lambda, params.eta});
  if (uncertainty) {
    for (std::size_t k = 0; k < n_symbols; ++k) {
      double own_flow_sq = 0.0;
      for (std::size_t a = 0; a < n_agents; ++a) {
        own_flow_sq = own_flow_sq + trade[a][k] * trade[a][k];
      }
      coefficients[k] = robust_coefficients(own_flow_sq, net_flow[k] * net_flow[k], *uncertainty,
                                            params.kyle_lambda, params.eta);
    }
  }

  ClearResult result;
  result.rewards.resize(n_agents);
  result.navs.resize(n_agents);
  result.fills.resize(n_agents);
  for (std::size_t a = 0; a < n_agents; ++a) {
    trade_agent(a, pre_mid, vol_mult, trade, net_flow, coefficients, orders, v, x, market,
                result);
  }

  for (std::size_t k = 0; k < n_symbols; ++k) market.mid_history[k].push_back(pre_mid[k]);

  // The books are already updated, so every observation shows this bar's
  // trades; all agents see the same snapshots.
  std::string date = market.date_at(market.cursor);
  std::vector<tp::SymbolSnapshot> snapshots;
  snapshots.reserve(n_symbols);
  for (std::size_t k = 0; k < n_symbols; ++k) {
    snapshots.push_back(market.snapshot(market.symbols[k], market.mid_history[k]));
  }
  result.observations.reserve(n_agents);
  for (std::size_t a = 0; a < n_agents; ++a) {
    result.observations.push_back(market.observation(a, date, snapshots));
  }

  // The permanent impact moves the price level from the next bar on.
  const bool linear = x == 1.0;
  for (std::size_t k = 0; k < n_symbols; ++k) {
    const double lambda = coefficients[k].lambda;
    double g = linear ? (lambda * net_flow[k]) / v + 1.0
                      : lambda * spow(net_flow[k] / v, x) + 1.0;
    market.impact_factor[k] = g * market.impact_factor[k];
  }

  for (std::size_t k = 0; k < n_symbols; ++k) {
    double prev_mid = market.mids[k];
    if (std::fabs(prev_mid) > kTinyPrice) {
      double r = (pre_mid[k] - prev_mid) / prev_mid;
      market.trackers[k].push(r * r);
    }
  }
  market.mids = pre_mid;

  market.cursor = market.cursor + 1;
  result.done = market.cursor >= market.n_bars;
  result.cleared_mids = std::move(pre_mid);
  result.net_flow = std::move(net_flow);
  if (uncertainty) result.robust_impact = std::move(coefficients);
  return result;
}

}  // namespace corvane::bar_clearing
