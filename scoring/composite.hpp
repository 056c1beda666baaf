#pragma once
// The composite scoring kernel: one agent's runs in, one CompositeScore out.
// The headline is the deflated Sharpe ratio of the pooled returns; the
// composite equals it only when the agent passes every gate (process,
// repeatability, significance, drawdown) and is 0.0 otherwise. The kernel
// never fails as a whole: a statistical error becomes text in the record and
// the values that depend on it take neutral values.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "scoring/score_record.hpp"
#include "scoring/submission.hpp"

namespace talmoor_core::composite {

using score_record::CompositeScore;
using score_record::TrialsSrStdSource;
using submission::AgentSubmission;
using submission::Run;

// Trials the kernel charges on top of the agent's declared search.
inline constexpr std::uint32_t kKernelBaseTrials = 50;

struct ScoreConfig {
  double periods_per_year = 252.0;
  double trials_sr_std_annualized = 0.5;
  double deflation_null_mean_per_period = 0.0;
  double dsr_threshold = 0.95;
  double run_psr_threshold = 0.9;
  double run_benchmark_sharpe_annualized = 0.0;
  double bootstrap_alpha = 0.05;
  std::uint64_t resample_seed = 1537679398;
  std::size_t n_boot = 2000;
  double block_prob = 0.1;
  double max_drawdown_limit = 1.0;
  double worst_run_drawdown_limit = 1.0;
  std::size_t rolling_window = 21;
  double ci_confidence = 0.9;
  std::size_t executions_per_window = 1;
  std::uint32_t base_trials = kKernelBaseTrials;
  std::vector<double> reference_dsrs;

  // The fixed configuration at the given annualisation; not validated here.
  static ScoreConfig for_periods_per_year(double periods_per_year);
};

// The deflation input of the kernel.
struct TrialsSrStd {
  std::optional<double> annualized;
  double per_period = 0.0;
  double null_mean_per_period = 0.0;  // used as it is, not rescaled
  TrialsSrStdSource source = TrialsSrStdSource::kConfigured;
};

// base + declared, saturating at the largest u32 instead of wrapping.
std::uint32_t effective_trials(std::uint32_t base_trials, std::uint32_t declared_trials);

// The runs' returns concatenated (k <= 1), or averaged bar by bar over each
// window of k replicate runs. Throws support::Fault when the runs do not form
// whole windows of equal-length replicates: a caller's programming error.
std::vector<double> pooled_returns(const AgentSubmission& submission, std::size_t k);

// Scores with the configured cross-trial spread and no declared mandate.
CompositeScore score_agent(const AgentSubmission& submission, const ScoreConfig& config);

// The kernel body.
CompositeScore score_agent_with(const AgentSubmission& submission, const ScoreConfig& config,
                                const TrialsSrStd& trials_sr_std);

}  // namespace talmoor_core::composite
