#pragma once
// CompositeScore: what the scoring kernel returns, written directly as one
// compact JSON object with its keys in declaration order. Optional fields are
// of two kinds: those written null without a value, and those left out of
// the object entirely (the error texts, the interval and the mandate block).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "protocol/observation.hpp"
#include "scoring/certification.hpp"
#include "scoring/roles.hpp"
#include "support/json_writer.hpp"

namespace talmoor_core::score_record {

// Where the cross-trial Sharpe spread used for deflation came from.
enum class TrialsSrStdSource : std::uint8_t { kConfigured, kMeasured, kMeasuredFloored };

// "configured", "measured", "measured_floored".
std::string_view trials_sr_std_source_label(TrialsSrStdSource source);

// The verdict a declared mandate was judged under; tagged by "kind".
struct AbsoluteReturnVerdict {
  friend bool operator==(const AbsoluteReturnVerdict&, const AbsoluteReturnVerdict&) = default;
};
struct RelativeToVerdict {
  std::string benchmark_id;
  friend bool operator==(const RelativeToVerdict&, const RelativeToVerdict&) = default;
};
struct DrawdownCappedVerdict {
  double max_per_run_drawdown = 0.0;
  friend bool operator==(const DrawdownCappedVerdict&, const DrawdownCappedVerdict&) = default;
};
using MandateVerdict =
    std::variant<AbsoluteReturnVerdict, RelativeToVerdict, DrawdownCappedVerdict>;

// {"kind":"absolute_return"}, {"kind":"relative_to","benchmark_id":...},
// {"kind":"drawdown_capped","max_per_run_drawdown":...}.
void write_mandate_verdict(support::JsonWriter& w, const MandateVerdict& verdict);

// Fields in JSON order. The field-relative placeholders keep their fixed
// values: no comparison against a field of other agents happens here.
struct CompositeScore {
  std::string agent_id;
  double deflated_sharpe = 0.0;
  double psr = 0.0;
  bool passed_k = false;
  bool process_ok = false;
  double bootstrap_p = 1.0;
  std::optional<std::string> bootstrap_error;   // absent if none
  std::optional<std::string> deflation_error;   // absent if none
  std::optional<std::string> selection_error;   // absent if none
  double raw_mean_return = 0.0;
  bool rank_eligible = false;
  double composite = 0.0;
  double alpha = 0.0;
  double beta = 0.0;
  std::optional<double> calibration_brier;
  std::uint64_t calibration_observations = 0;
  std::optional<double> edge_half_life;
  double field_reality_check_p = 1.0;
  double max_drawdown = 0.0;
  bool mandate_ok = false;
  double worst_run_drawdown = 0.0;
  double turnover = 0.0;
  bool pareto_optimal = false;
  bool step_down_significant = false;
  double confidence_weighted_return = 0.0;
  double cost = 0.0;
  std::optional<double> return_per_cost;
  double field_spa_p = 1.0;
  double field_spa_consistent_p = 1.0;
  std::string field_significance_benchmark = "unscored";
  std::optional<double> field_crowdedness;
  std::uint64_t field_crowdedness_peers = 0;
  std::uint32_t in_sample_trials = 0;
  std::uint32_t effective_n_trials = 0;
  std::optional<double> dsr_percentile;
  std::optional<double> selection_median_dsr;
  std::optional<double> selection_gap;
  std::uint64_t rank_ordinal = 0;
  std::optional<double> rolling_min_sharpe;
  std::optional<double> rolling_frac_positive;
  std::uint64_t rolling_windows = 0;
  std::optional<double> sortino;
  double downside_deviation = 0.0;
  std::optional<double> dsr_per_cost;
  bool process_floored = false;
  double realized_floored_return = 0.0;
  std::optional<double> dsr_ci_low;   // absent if none
  std::optional<double> dsr_ci_high;  // absent if none
  std::optional<double> dsr_se;       // absent if none
  std::uint64_t tie_group = 0;
  bool dsr_tied = false;
  double trials_sr_std = 0.0;
  std::optional<double> trials_sr_std_annualized;
  double trials_sr_std_annualized_equivalent = 0.0;
  double deflation_bar_per_period = 0.0;
  double deflation_bar_annualized_equivalent = 0.0;
  double deflation_null_mean_per_period = 0.0;
  std::uint64_t pooled_observations = 0;
  TrialsSrStdSource trials_sr_std_source = TrialsSrStdSource::kConfigured;
  std::uint64_t runs_submitted = 0;
  std::uint64_t runs_scored = 0;
  double process_score = 0.0;
  std::uint64_t process_warnings = 0;
  std::optional<double> econ_rationality_score;
  std::optional<std::uint32_t> econ_dominance_violations;
  std::vector<roles::RoleContribution> role_contributions;
  std::optional<talmoor_protocol::DeclaredMandate> declared_mandate;  // absent if none
  std::optional<MandateVerdict> verdict_applied;                      // absent if none
  std::optional<bool> declared_passed_k;                              // absent if none
  std::optional<bool> declared_mandate_eligible;                      // absent if none
  std::optional<std::uint64_t> declared_mandate_ordinal;              // absent if none
  std::optional<certification::Certification> certification;         // absent if none
};

void write_composite_score(support::JsonWriter& w, const CompositeScore& score);
std::string composite_score_json(const CompositeScore& score);

}  // namespace talmoor_core::score_record
