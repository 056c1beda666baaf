#pragma once
// The descriptive measures a composite score reports beside its verdict:
// drawdowns, calibration, turnover, confidence-weighted return, the rolling
// Sharpe ratio and the percentile against a reference population.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "scoring/submission.hpp"

namespace talmoor_core::measures {

using submission::Run;

// Largest fall of compounded wealth from its running peak. A return of -1
// wipes wealth out for good, so the drawdown stays at 1.
double max_drawdown(std::span<const double> returns);

// The largest per-run maximum drawdown; 0.0 without runs.
double worst_run_drawdown(std::span<const Run> runs);

struct Calibration {
  std::optional<double> brier;  // nullopt without pairs
  std::uint64_t observations = 0;
};

// Brier score of the runs' (confidence, outcome) pairs, run by run, each run
// zipped up to the shorter of its two lists; confidences clamped to [0, 1].
Calibration calibration(std::span<const Run> runs);

// OrderPlaced events per run, whatever their gate outcome; 0.0 without runs.
double turnover(std::span<const Run> runs);

// Run means weighted by each run's mean confidence (1.0 for a run without
// confidences); `fallback` without runs or without positive total weight.
double confidence_weighted_return(std::span<const Run> runs, double fallback);

// Sum of the runs' costs in run order, from -0.0.
double total_cost(std::span<const Run> runs);

// One value per window of k consecutive runs: the mean of its runs' mean
// returns (a short last window is averaged over the runs it has).
std::vector<double> window_edges(std::span<const Run> runs, std::size_t k);

struct RollingSharpe {
  std::optional<double> min_sharpe;    // nullopt without windows
  std::optional<double> frac_positive;
  std::uint64_t windows = 0;
};

// Sharpe ratio over every window of `window` consecutive returns.
RollingSharpe rolling_sharpe(std::span<const double> returns, std::size_t window);

// 100 * (reference values <= dsr) / size; nullopt for an empty population.
std::optional<double> dsr_percentile(std::span<const double> reference_dsrs, double dsr);

}  // namespace talmoor_core::measures
