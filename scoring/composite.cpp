#include "scoring/composite.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "scoring/decay.hpp"
#include "scoring/econrationality.hpp"
#include "scoring/measures.hpp"
#include "scoring/roles.hpp"
#include "stats/deflated_sharpe.hpp"
#include "stats/moments.hpp"
#include "stats/selection.hpp"
#include "stats/significance.hpp"
#include "stats/validation.hpp"
#include "support/fault.hpp"

namespace talmoor_core::composite {

namespace {

namespace moments = talmoor_stats::moments;
namespace deflated_sharpe = talmoor_stats::deflated_sharpe;
namespace significance = talmoor_stats::significance;
using talmoor_stats::validation::StatisticalError;

bool valid_periods_per_year(double periods_per_year) {
  return std::isfinite(periods_per_year) && periods_per_year > 0.0;
}

StatisticalError periods_per_year_error() {
  return StatisticalError::invalid_parameter("periods_per_year", "must be finite and positive");
}

struct Deflation {
  double dsr = 0.0;
  double bar = 0.0;  // expected maximum Sharpe + null mean
  std::optional<std::string> error;
};

Deflation deflate(std::span<const double> x, std::uint32_t n_eff, const ScoreConfig& config,
                  const TrialsSrStd& trials) {
  Deflation out;
  if (!valid_periods_per_year(config.periods_per_year)) {
    out.error = periods_per_year_error().display();
    return out;
  }
  auto expected = deflated_sharpe::expected_max_sharpe(n_eff, trials.per_period);
  if (!expected.ok()) {
    out.error = expected.error().display();
    return out;
  }
  auto dsr = deflated_sharpe::deflated_sharpe_ratio_against_null(
      x, n_eff, trials.null_mean_per_period, trials.per_period);
  if (!dsr.ok()) {
    out.error = dsr.error().display();
    return out;
  }
  out.dsr = dsr.value();
  out.bar = expected.value() + trials.null_mean_per_period;
  return out;
}

// pass^k: every run's own PSR clears the threshold; no runs never passes.
bool every_run_passes(std::span<const Run> runs, const ScoreConfig& config) {
  if (runs.empty()) return false;
  double benchmark = config.run_benchmark_sharpe_annualized / std::sqrt(config.periods_per_year);
  for (const Run& run : runs) {
    double psr = deflated_sharpe::probabilistic_sharpe_ratio(run.returns, benchmark);
    if (!(psr >= config.run_psr_threshold)) return false;
  }
  return true;
}

struct ProcessVerdict {
  bool ok = true;
  std::uint64_t warnings = 0;
  double score = 1.0;
};

ProcessVerdict grade_process(std::span<const Run> runs) {
  ProcessVerdict out;
  for (const Run& run : runs) {
    process_event::ProcessScore grade = process_event::process_score(run.trace);
    if (grade.block_violations > 0) out.ok = false;
    out.warnings += grade.warnings;  // blocked runs' warnings count too
  }
  out.score = out.ok ? std::max(0.0, static_cast<double>(out.warnings) * -0.1 + 1.0) : 0.0;
  return out;
}

void check_whole_windows(const AgentSubmission& submission, std::size_t k) {
  std::size_t runs = submission.runs.size();
  if (runs % k != 0) {
    throw support::Fault(std::to_string(runs) + " runs cannot form complete " +
                         std::to_string(k) + "-execution window blocks");
  }
  for (std::size_t start = 0; start < runs; start += k) {
    std::size_t length = submission.runs[start].returns.size();
    for (std::size_t i = start + 1; i < start + k; ++i) {
      if (submission.runs[i].returns.size() != length) {
        throw support::Fault("execution replicates in one window must have equal return lengths");
      }
    }
  }
}

void fill_descriptive_measures(CompositeScore& s, std::span<const double> x,
                               const AgentSubmission& submission, const ScoreConfig& config) {
  std::span<const Run> runs = submission.runs;
  s.raw_mean_return = moments::mean(x);
  measures::Calibration calibration = measures::calibration(runs);
  s.calibration_brier = calibration.brier;
  s.calibration_observations = calibration.observations;
  s.edge_half_life =
      decay::edge_half_life(measures::window_edges(runs, config.executions_per_window));
  s.max_drawdown = measures::max_drawdown(x);
  s.worst_run_drawdown = measures::worst_run_drawdown(runs);
  s.turnover = measures::turnover(runs);
  s.confidence_weighted_return = measures::confidence_weighted_return(runs, s.raw_mean_return);
  s.cost = measures::total_cost(runs);
  if (s.cost > 0.0) {
    s.return_per_cost = s.raw_mean_return / s.cost;
    s.dsr_per_cost = s.deflated_sharpe / s.cost;
  }
  s.dsr_percentile = measures::dsr_percentile(config.reference_dsrs, s.deflated_sharpe);
  measures::RollingSharpe rolling = measures::rolling_sharpe(x, config.rolling_window);
  s.rolling_min_sharpe = rolling.min_sharpe;
  s.rolling_frac_positive = rolling.frac_positive;
  s.rolling_windows = rolling.windows;
  s.sortino = moments::sortino_ratio(x, 0.0);
  s.downside_deviation = moments::downside_deviation(x, 0.0);
}

void fill_selection_robustness(CompositeScore& s, const AgentSubmission& submission,
                               const ScoreConfig& config, const TrialsSrStd& trials) {
  if (submission.candidates.empty()) return;
  if (!valid_periods_per_year(config.periods_per_year)) {
    s.selection_error = periods_per_year_error().display();
    return;
  }
  auto robustness = talmoor_stats::selection::selection_robustness(
      submission.candidates, s.effective_n_trials, trials.per_period);
  if (!robustness.ok()) {
    s.selection_error = robustness.error().display();
    return;
  }
  s.selection_median_dsr = robustness.value().median_dsr;
  s.selection_gap = robustness.value().gap;
}

void fill_interval(CompositeScore& s, std::span<const double> x, const ScoreConfig& config,
                   const TrialsSrStd& trials) {
  if (!valid_periods_per_year(config.periods_per_year)) return;
  auto interval = significance::bootstrap_dsr_ci_against_null(
      x, s.effective_n_trials, config.resample_seed, config.n_boot, trials.null_mean_per_period,
      trials.per_period, config.block_prob, config.ci_confidence);
  if (!interval.ok()) {
    // The first deflation error is the one reported.
    if (!s.deflation_error) s.deflation_error = interval.error().display();
    return;
  }
  s.dsr_ci_low = interval.value().lo;
  s.dsr_ci_high = interval.value().hi;
  s.dsr_se = interval.value().se;
}

void fill_revealed_selection(CompositeScore& s, std::span<const double> x,
                             const AgentSubmission& submission) {
  auto selection = econrationality::elicit_revealed_selection(submission.candidates, x);
  if (!selection) return;
  s.econ_dominance_violations = econrationality::dominance_violations(*selection);
  s.econ_rationality_score = econrationality::rationality_score(*selection);
}

}  // namespace

ScoreConfig ScoreConfig::for_periods_per_year(double periods_per_year) {
  ScoreConfig config;
  config.periods_per_year = periods_per_year;
  return config;
}

std::uint32_t effective_trials(std::uint32_t base_trials, std::uint32_t declared_trials) {
  std::uint32_t headroom = std::numeric_limits<std::uint32_t>::max() - base_trials;
  if (declared_trials > headroom) return std::numeric_limits<std::uint32_t>::max();
  return base_trials + declared_trials;
}

std::vector<double> pooled_returns(const AgentSubmission& submission, std::size_t k) {
  std::vector<double> pooled;
  if (k <= 1) {
    for (const Run& run : submission.runs) {
      pooled.insert(pooled.end(), run.returns.begin(), run.returns.end());
    }
    return pooled;
  }
  check_whole_windows(submission, k);
  for (std::size_t start = 0; start < submission.runs.size(); start += k) {
    std::size_t bars = submission.runs[start].returns.size();
    for (std::size_t t = 0; t < bars; ++t) {
      double sum = -0.0;
      for (std::size_t i = start; i < start + k; ++i) sum += submission.runs[i].returns[t];
      pooled.push_back(sum / static_cast<double>(k));
    }
  }
  return pooled;
}

CompositeScore score_agent(const AgentSubmission& submission, const ScoreConfig& config) {
  TrialsSrStd trials;
  trials.annualized = config.trials_sr_std_annualized;
  trials.per_period = config.trials_sr_std_annualized / std::sqrt(config.periods_per_year);
  trials.null_mean_per_period = config.deflation_null_mean_per_period;
  trials.source = TrialsSrStdSource::kConfigured;
  return score_agent_with(submission, config, trials);
}

CompositeScore score_agent_with(const AgentSubmission& submission, const ScoreConfig& config,
                                const TrialsSrStd& trials) {
  CompositeScore s;
  s.agent_id = submission.agent_id;
  std::span<const Run> runs = submission.runs;

  // 1-3. Pooled returns, undeflated PSR, trial accounting.
  std::vector<double> x = pooled_returns(submission, config.executions_per_window);
  s.psr = deflated_sharpe::probabilistic_sharpe_ratio(x, 0.0);
  s.in_sample_trials = submission.in_sample_trials;
  s.effective_n_trials = effective_trials(config.base_trials, submission.in_sample_trials);

  // 4. Deflation.
  Deflation deflation = deflate(x, s.effective_n_trials, config, trials);
  s.deflated_sharpe = deflation.dsr;
  s.deflation_bar_per_period = deflation.bar;
  s.deflation_error = deflation.error;

  // 5. Repeatability.
  s.passed_k = every_run_passes(runs, config);

  // 6. Process verdict.
  ProcessVerdict process = grade_process(runs);
  s.process_ok = process.ok;
  s.process_warnings = process.warnings;
  s.process_score = process.score;
  s.process_floored = !process.ok;

  // 7. Significance.
  auto p = significance::bootstrap_pvalue(x, config.resample_seed, config.n_boot,
                                          config.block_prob);
  if (p.ok()) {
    s.bootstrap_p = p.value();
  } else {
    s.bootstrap_p = 1.0;
    s.bootstrap_error = p.error().display();
  }

  // 8-10. Descriptive measures, selection robustness, interval, revealed
  // selection and behaviour roles.
  fill_descriptive_measures(s, x, submission, config);
  fill_selection_robustness(s, submission, config, trials);
  fill_interval(s, x, config, trials);
  fill_revealed_selection(s, x, submission);
  std::size_t k = std::max<std::size_t>(config.executions_per_window, 1);
  s.role_contributions = roles::attribute_behavior_roles(roles::elicit_behavior_roles(runs, k));

  // 11. Drawdown mandate.
  s.mandate_ok = s.max_drawdown <= config.max_drawdown_limit &&
                 s.worst_run_drawdown <= config.worst_run_drawdown_limit;

  // 12-13. Eligibility and the composite. NaN comparisons are false.
  s.rank_eligible = s.process_ok && s.passed_k && !s.bootstrap_error && !s.deflation_error &&
                    s.deflated_sharpe >= config.dsr_threshold &&
                    config.bootstrap_alpha > s.bootstrap_p && s.mandate_ok;
  s.composite = s.rank_eligible ? s.deflated_sharpe : 0.0;

  // The rest of the record.
  s.realized_floored_return = s.process_ok ? s.raw_mean_return : 0.0;
  double sqrt_periods = std::sqrt(config.periods_per_year);
  s.trials_sr_std = trials.per_period;
  s.trials_sr_std_annualized = trials.annualized;
  s.trials_sr_std_annualized_equivalent = sqrt_periods * trials.per_period;
  s.deflation_bar_annualized_equivalent = sqrt_periods * s.deflation_bar_per_period;
  s.deflation_null_mean_per_period = trials.null_mean_per_period;
  s.pooled_observations = x.size();
  s.trials_sr_std_source = trials.source;
  s.runs_submitted = runs.size();
  s.runs_scored = runs.size();
  return s;
}

}  // namespace talmoor_core::composite
