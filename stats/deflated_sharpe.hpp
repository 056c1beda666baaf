#pragma once
// Sharpe ratio, probabilistic Sharpe ratio, the expected maximum Sharpe ratio
// of a search over many trials, and the deflated Sharpe ratio. All per period:
// no risk-free rate, no annualisation.

#include <cstdint>
#include <span>

#include "stats/moments.hpp"
#include "stats/validation.hpp"
#include "support/result.hpp"

namespace talmoor_stats::deflated_sharpe {

using Series = std::span<const double>;
using validation::StatisticalError;

// mean / sample standard deviation; 0.0 below two values or for zero variance.
double sharpe_ratio(Series x);

// Lenient: the probability that the Sharpe ratio beats `benchmark_sharpe`;
// 0.0 below two values.
double probabilistic_sharpe_ratio(Series x, double benchmark_sharpe);

// The same two from moments already taken of a series of n values (bit-identical
// to the functions above on that series).
double sharpe_ratio(const moments::SeriesMoments& m);
double probabilistic_sharpe_ratio(const moments::SeriesMoments& m, std::size_t n,
                                  double benchmark_sharpe);

// 0.0 for fewer than two trials or a zero spread.
[[nodiscard]] support::Result<double, StatisticalError> expected_max_sharpe(
    std::uint32_t n_trials, double trials_sr_std);

// The probabilistic Sharpe ratio against null_mean_sharpe + expected maximum,
// with every input and intermediate checked in a fixed order.
[[nodiscard]] support::Result<double, StatisticalError> deflated_sharpe_ratio_against_null(
    Series x, std::uint32_t n_trials, double null_mean_sharpe, double trials_sr_std);

}  // namespace talmoor_stats::deflated_sharpe
