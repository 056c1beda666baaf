#pragma once
// Clearing of one bar of the multi-agent market: weight changes become share
// orders, each agent trades at the pre-trade mid moved by a temporary impact
// (its own flow, scaled by recent volatility) and a permanent impact (the net
// flow), and the net flow then shifts the price level for later bars. Every
// formula is evaluated in a fixed order without fused multiply-add, because
// the results are pinned byte for byte.

#include <optional>
#include <vector>

#include "evaluation/market.hpp"

namespace corvane::bar_clearing {

// z^x for z >= 0, -((-z)^x) below.
double spow(double z, double x);

// The worst-case (lambda, eta) on the uncertainty ellipse around
// (lambda0, eta0) for a bar whose own flows square-sum to `own_flow_sq` and
// whose net flow squares to `net_flow_sq`.
market::ImpactCoefficients robust_coefficients(double own_flow_sq, double net_flow_sq,
                                               const market::UncertaintySet& set,
                                               double lambda0, double eta0);

// Clears the bar whose exogenous mids are `exo_mid` and updates the market in
// place (books, mid history, impact factors, trackers, mids, cursor).
// Violated preconditions (x not positive, vectors of the wrong length) are
// support::Fault; nothing else is rejected.
market::ClearResult clear_bar_concave(const std::vector<double>& exo_mid,
                                      const std::vector<std::vector<double>>& orders,
                                      const market::ImpactParams& params,
                                      const std::optional<market::UncertaintySet>& uncertainty,
                                      double x, market::MarketClearing& market);

}  // namespace corvane::bar_clearing
