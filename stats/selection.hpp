#pragma once
// Selection robustness: how far the best in-sample candidate stands above the
// rest of an agent's candidates, in deflated Sharpe ratio.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "stats/validation.hpp"
#include "support/result.hpp"

namespace talmoor_stats::selection {

using validation::StatisticalError;

struct SelectionRobustness {
  std::size_t candidates;
  double max_dsr;
  double median_dsr;
  double gap;  // max_dsr - median_dsr
};

// Each candidate is deflated against a null mean of 0.0; no candidates give
// all zeros.
[[nodiscard]] support::Result<SelectionRobustness, StatisticalError> selection_robustness(
    std::span<const std::vector<double>> candidates, std::uint32_t n_trials,
    double trials_sr_std);

}  // namespace talmoor_stats::selection
