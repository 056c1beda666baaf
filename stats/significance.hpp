#pragma once
// Seeded stationary (geometric-block) bootstrap: the p-value of a positive
// mean and an interval on the deflated Sharpe ratio. A given seed replays bit
// for bit, so the order of draws below is fixed.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "stats/validation.hpp"
#include "support/result.hpp"
#include "support/splitmix64.hpp"

namespace talmoor_stats::significance {

using Series = std::span<const double>;
using validation::StatisticalError;

struct DsrInterval {
  double point;  // deflated Sharpe ratio of the series itself
  double se;     // population standard deviation of the replicates
  double lo;
  double hi;
};

// Uniform index below n (n > 0): truncate u * n, clamp to n - 1.
std::size_t next_index(support::SplitMix64& rng, std::size_t n);

// Fills `out` (resized to x.size(), x not empty) with one stationary-bootstrap
// resample drawn from `rng`: 1 + n + (number of jumps) draws.
void stationary_resample(Series x, support::SplitMix64& rng, double block_prob,
                         std::vector<double>& out);

// One-sided p-value of a positive mean, in [1 / (n_boot + 1), 1].
[[nodiscard]] support::Result<double, StatisticalError> bootstrap_pvalue(Series x,
                                                                         std::uint64_t seed,
                                                                         std::size_t n_boot,
                                                                         double block_prob);

[[nodiscard]] support::Result<DsrInterval, StatisticalError> bootstrap_dsr_ci_against_null(
    Series x, std::uint32_t n_trials, std::uint64_t seed, std::size_t n_boot,
    double null_mean_sharpe, double trials_sr_std, double block_prob, double ci);

}  // namespace talmoor_stats::significance
