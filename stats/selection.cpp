#include "stats/selection.hpp"

#include <algorithm>

#include "stats/deflated_sharpe.hpp"

namespace talmoor_stats::selection {

support::Result<SelectionRobustness, StatisticalError> selection_robustness(
    std::span<const std::vector<double>> candidates, std::uint32_t n_trials,
    double trials_sr_std) {
  if (candidates.empty()) return SelectionRobustness{0, 0.0, 0.0, 0.0};
  std::vector<double> dsr;
  dsr.reserve(candidates.size());
  for (const std::vector<double>& candidate : candidates) {
    // Candidates are deflated against a zero null mean, whatever the caller's.
    auto d = deflated_sharpe::deflated_sharpe_ratio_against_null(candidate, n_trials, 0.0,
                                                                  trials_sr_std);
    if (!d.ok()) return support::err(d.error());
    dsr.push_back(d.value());
  }
  std::sort(dsr.begin(), dsr.end());
  std::size_t k = dsr.size();
  double max_dsr = dsr.back();
  double median_dsr = k % 2 == 1 ? dsr[k / 2] : (dsr[k / 2 - 1] + dsr[k / 2]) * 0.5;
  return SelectionRobustness{k, max_dsr, median_dsr, max_dsr - median_dsr};
}

}  // namespace talmoor_stats::selection
