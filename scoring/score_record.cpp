#include "scoring/score_record.hpp"

namespace talmoor_core::score_record {

namespace {

using support::JsonWriter;

// A key that is always written: null without a value.
void nullable_number(JsonWriter& w, std::string_view key, const std::optional<double>& v) {
  w.key(key);
  if (v) {
    w.number(*v);
  } else {
    w.null();
  }
}

// A key that is left out without a value.
void absent_number(JsonWriter& w, std::string_view key, const std::optional<double>& v) {
  if (v) w.member(key, *v);
}

void absent_string(JsonWriter& w, std::string_view key, const std::optional<std::string>& v) {
  if (v) w.member(key, *v);
}

struct VerdictWriter {
  JsonWriter& w;
  void operator()(const AbsoluteReturnVerdict&) const { w.member("kind", "absolute_return"); }
  void operator()(const RelativeToVerdict& v) const {
    w.member("kind", "relative_to");
    w.member("benchmark_id", v.benchmark_id);
  }
  void operator()(const DrawdownCappedVerdict& v) const {
    w.member("kind", "drawdown_capped");
    w.member("max_per_run_drawdown", v.max_per_run_drawdown);
  }
};

}  // namespace

std::string_view trials_sr_std_source_label(TrialsSrStdSource source) {
  switch (source) {
    case TrialsSrStdSource::kConfigured:
      return "configured";
    case TrialsSrStdSource::kMeasured:
      return "measured";
    case TrialsSrStdSource::kMeasuredFloored:
      return "measured_floored";
  }
  return "configured";
}

void write_mandate_verdict(JsonWriter& w, const MandateVerdict& verdict) {
  w.begin_object();
  std::visit(VerdictWriter{w}, verdict);
  w.end_object();
}

void write_composite_score(JsonWriter& w, const CompositeScore& s) {
  w.begin_object();
  w.member("agent_id", s.agent_id);
  w.member("deflated_sharpe", s.deflated_sharpe);
  w.member("psr", s.psr);
  w.member("passed_k", s.passed_k);
  w.member("process_ok", s.process_ok);
  w.member("bootstrap_p", s.bootstrap_p);
  absent_string(w, "bootstrap_error", s.bootstrap_error);
  absent_string(w, "deflation_error", s.deflation_error);
  absent_string(w, "selection_error", s.selection_error);
  w.member("raw_mean_return", s.raw_mean_return);
  w.member("rank_eligible", s.rank_eligible);
  w.member("composite", s.composite);
  w.member("alpha", s.alpha);
  w.member("beta", s.beta);
  nullable_number(w, "calibration_brier", s.calibration_brier);
  w.member("calibration_observations", s.calibration_observations);
  nullable_number(w, "edge_half_life", s.edge_half_life);
  w.member("field_reality_check_p", s.field_reality_check_p);
  w.member("max_drawdown", s.max_drawdown);
  w.member("mandate_ok", s.mandate_ok);
  w.member("worst_run_drawdown", s.worst_run_drawdown);
  w.member("turnover", s.turnover);
  w.member("pareto_optimal", s.pareto_optimal);
  w.member("step_down_significant", s.step_down_significant);
  w.member("confidence_weighted_return", s.confidence_weighted_return);
  w.member("cost", s.cost);
  nullable_number(w, "return_per_cost", s.return_per_cost);
  w.member("field_spa_p", s.field_spa_p);
  w.member("field_spa_consistent_p", s.field_spa_consistent_p);
  w.member("field_significance_benchmark", s.field_significance_benchmark);
  nullable_number(w, "field_crowdedness", s.field_crowdedness);
  w.member("field_crowdedness_peers", s.field_crowdedness_peers);
  w.member("in_sample_trials", static_cast<std::uint64_t>(s.in_sample_trials));
  w.member("effective_n_trials", static_cast<std::uint64_t>(s.effective_n_trials));
  nullable_number(w, "dsr_percentile", s.dsr_percentile);
  nullable_number(w, "selection_median_dsr", s.selection_median_dsr);
  nullable_number(w, "selection_gap", s.selection_gap);
  w.member("rank_ordinal", s.rank_ordinal);
  nullable_number(w, "rolling_min_sharpe", s.rolling_min_sharpe);
  nullable_number(w, "rolling_frac_positive", s.rolling_frac_positive);
  w.member("rolling_windows", s.rolling_windows);
  nullable_number(w, "sortino", s.sortino);
  w.member("downside_deviation", s.downside_deviation);
  nullable_number(w, "dsr_per_cost", s.dsr_per_cost);
  w.member("process_floored", s.process_floored);
  w.member("realized_floored_return", s.realized_floored_return);
  absent_number(w, "dsr_ci_low", s.dsr_ci_low);
  absent_number(w, "dsr_ci_high", s.dsr_ci_high);
  absent_number(w, "dsr_se", s.dsr_se);
  w.member("tie_group", s.tie_group);
  w.member("dsr_tied", s.dsr_tied);
  w.member("trials_sr_std", s.trials_sr_std);
  nullable_number(w, "trials_sr_std_annualized", s.trials_sr_std_annualized);
  w.member("trials_sr_std_annualized_equivalent", s.trials_sr_std_annualized_equivalent);
  w.member("deflation_bar_per_period", s.deflation_bar_per_period);
  w.member("deflation_bar_annualized_equivalent", s.deflation_bar_annualized_equivalent);
  w.member("deflation_null_mean_per_period", s.deflation_null_mean_per_period);
  w.member("pooled_observations", s.pooled_observations);
  w.member("trials_sr_std_source", trials_sr_std_source_label(s.trials_sr_std_source));
  w.member("runs_submitted", s.runs_submitted);
  w.member("runs_scored", s.runs_scored);
  w.member("process_score", s.process_score);
  w.member("process_warnings", s.process_warnings);
  nullable_number(w, "econ_rationality_score", s.econ_rationality_score);
  w.key("econ_dominance_violations");
  if (s.econ_dominance_violations) {
    w.unsigned_integer(*s.econ_dominance_violations);
  } else {
    w.null();
  }
  w.key("role_contributions");
  w.begin_array();
  for (const roles::RoleContribution& c : s.role_contributions) {
    roles::role_contribution_fields().write(w, c, support::KeyOrder::kDeclared);
  }
  w.end_array();
  if (s.declared_mandate) {
    w.key("declared_mandate");
    talmoor_protocol::write_declared_mandate(w, *s.declared_mandate);
  }
  if (s.verdict_applied) {
    w.key("verdict_applied");
    write_mandate_verdict(w, *s.verdict_applied);
  }
  if (s.declared_passed_k) w.member("declared_passed_k", *s.declared_passed_k);
  if (s.declared_mandate_eligible) {
    w.member("declared_mandate_eligible", *s.declared_mandate_eligible);
  }
  if (s.declared_mandate_ordinal) {
    w.member("declared_mandate_ordinal", *s.declared_mandate_ordinal);
  }
  if (s.certification) {
    w.key("certification");
    certification::write_certification(w, *s.certification);
  }
  w.end_object();
}

std::string composite_score_json(const CompositeScore& score) {
  std::string out;
  support::JsonWriter w(out);
  write_composite_score(w, score);
  return out;
}

}  // namespace talmoor_core::score_record
