#pragma once
// The cost settings an environment is built with: fees, random slippage,
// square-root impact, financing of leverage, a participation cap and optional
// execution noise.

#include <limits>
#include <optional>
#include <string>

#include "support/result.hpp"

namespace talmoor_sim::costs {

// Stochastic delays, partial fills and adverse slippage.
struct ExecutionNoise {
  double delay_prob = 0.0;
  double min_fill_frac = 1.0;
  double carry_floor = 0.0;
  double queue_participation_ref = 1.0;

  // Checks each field in declaration order; the error is the message of the
  // first field out of its domain.
  [[nodiscard]] static support::Status<std::string> validate(const ExecutionNoise& noise);

  friend bool operator==(const ExecutionNoise&, const ExecutionNoise&) = default;
};

struct CostModel {
  std::optional<ExecutionNoise> execution_noise;
  double fee_bps = 2.0;       // of traded value
  double slippage_bps = 3.0;  // realised slippage is random in [1, 2] times this
  double impact_bps = 50.0;   // at 100% participation, scaled by its square root
  double financing_bps = 5.0;  // per bar, on gross exposure above one times NAV
  // Cap on one trade's value as a fraction of NAV; not finite means no cap.
  // The engine requires it not to be negative.
  double max_participation = std::numeric_limits<double>::infinity();

  friend bool operator==(const CostModel&, const CostModel&) = default;
};

}  // namespace talmoor_sim::costs
