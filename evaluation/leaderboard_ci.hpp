#pragma once
// Leaderboard intervals over a band of held-out seeds: the seed is the
// sampling unit, resampled whole with replacement, so the interval brackets
// the pooled deflated Sharpe ratio the scoring kernel reports.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/result.hpp"

namespace corvane::leaderboard_ci {

// The scoring kernel's baseline search budget, added to a caller's n_trials.
inline constexpr std::uint32_t kKernelBaseTrials = 50;
// Cross-trial spread of the Sharpe ratio in annual units (the kernel's).
inline constexpr double kTrialsSrStdAnnualized = 0.5;

// One of a fixed set of messages; the display text is the message itself.
struct ConfidenceError {
  std::string message;
  const std::string& display() const { return message; }
  bool operator==(const ConfidenceError&) const = default;
};

using Series = std::span<const double>;
using SeedBand = std::span<const std::vector<double>>;

struct DsrCi {
  double point;
  double lo;
  double hi;
  double width;
  double confidence;
  std::uint64_t n_boot;
};

struct PairedDiff {
  double point_diff;
  double lo;
  double hi;
  double p_value;
  double confidence;
  bool significant;
  std::string verdict;
  std::uint64_t n_boot;
};

// n_trials + kKernelBaseTrials, saturating at the largest 32-bit value.
std::uint32_t kernel_trials(std::uint32_t n_trials);

// Deflated Sharpe ratio against the expected maximum of n_trials trials, with
// sr_std the per-period cross-trial spread.
[[nodiscard]] support::Result<double, ConfidenceError> checked_dsr(Series returns,
                                                                   std::uint32_t n_trials,
                                                                   double sr_std);

[[nodiscard]] support::Result<DsrCi, ConfidenceError> bootstrap_dsr_ci(
    SeedBand per_seed_returns, std::uint32_t n_trials, std::uint64_t n_boot,
    std::uint64_t resample_seed, double trials_sr_std, double periods_per_year, double alpha);

[[nodiscard]] support::Result<PairedDiff, ConfidenceError> paired_dsr_diff(
    SeedBand a_per_seed_returns, SeedBand b_per_seed_returns, std::uint32_t n_trials,
    double trials_sr_std, double periods_per_year, double alpha, std::uint64_t n_boot,
    std::uint64_t resample_seed);

// Linear interpolation between order statistics; q clamped to [0, 1]; 0.0 for
// no values.
double quantile(std::span<const double> values, double q);

// "a_better", "b_better" or "tied".
std::string_view verdict_for(bool significant, double point_diff);

// Compact JSON, keys in field order.
std::string to_json(const DsrCi& ci);
std::string to_json(const PairedDiff& diff);

}  // namespace corvane::leaderboard_ci
