// score_run and process_event_contract: the scoring kernel and the published
// process-event vocabulary, as JSON text.

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "bindings/args.hpp"
#include "bindings/errors.hpp"
#include "bindings/registry.hpp"
#include "scoring/composite.hpp"
#include "scoring/event_contract.hpp"
#include "scoring/score_record.hpp"

namespace bindings {

namespace {

namespace composite = talmoor_core::composite;

constexpr const char* kScoreRunAgentId = "verifiers-rollout";
constexpr std::uint32_t kDefaultTrials = 0;
constexpr double kDefaultPeriodsPerYear = 252.0;
// Every period is stated at even odds, so calibration measures nothing here.
constexpr double kNeutralConfidence = 0.5;

// One run with an empty trace and no cost; outcomes are "the period made
// money" (NaN does not).
composite::AgentSubmission single_run_submission(std::vector<double> returns,
                                                 std::uint32_t n_trials) {
  composite::Run run;
  run.confidences.assign(returns.size(), kNeutralConfidence);
  run.outcomes.reserve(returns.size());
  for (double r : returns) run.outcomes.push_back(r > 0.0);
  run.returns = std::move(returns);
  run.cost = 0.0;

  composite::AgentSubmission submission;
  submission.agent_id = kScoreRunAgentId;
  submission.runs.push_back(std::move(run));
  submission.in_sample_trials = n_trials;
  return submission;
}

}  // namespace

void register_score_run(py::module_& m) {
  m.def(
      "score_run",
      [](py::args args, py::kwargs kwargs) {
        CallArgs a("score_run",
                   {{"returns", true}, {"n_trials", false}, {"periods_per_year", false}}, args,
                   kwargs);
        std::vector<double> returns = to_f64_list(a[0], "returns");
        std::uint32_t n_trials =
            a.given(1) ? to_unsigned<std::uint32_t>(a[1], "n_trials") : kDefaultTrials;
        double periods_per_year =
            a.given(2) ? to_f64(a[2], "periods_per_year") : kDefaultPeriodsPerYear;
        if (!(std::isfinite(periods_per_year) && periods_per_year > 0.0)) {
          raise_engine_err(kInvalidArgument, "periods_per_year must be finite and positive");
        }
        composite::AgentSubmission submission =
            single_run_submission(std::move(returns), n_trials);
        composite::ScoreConfig config = composite::ScoreConfig::for_periods_per_year(
            periods_per_year);
        composite::CompositeScore score = composite::score_agent(submission, config);
        return py::str(talmoor_core::score_record::composite_score_json(score));
      },
      doc_with_signature(
          "score_run(returns, n_trials=0, periods_per_year=252.0)",
          "Scores one per-period return series with the benchmark's composite kernel and "
          "returns the CompositeScore as compact JSON text.\n\n"
          "`n_trials` is the agent's declared in-sample search budget (the kernel adds its own "
          "50 trials); `periods_per_year` annualises the deflation spread. NaN or infinite "
          "returns are scored, not refused: their effect shows as nulls and error texts in the "
          "record. Raises InvalidArgument when periods_per_year is not finite and positive.")
          .c_str());
}

void register_process_event_contract(py::module_& m) {
  m.def(
      "process_event_contract",
      [](py::args args, py::kwargs kwargs) {
        CallArgs a("process_event_contract", {}, args, kwargs);
        return py::str(talmoor_core::event_contract::process_event_contract_json());
      },
      doc_with_signature(
          "process_event_contract()",
          "The process-event vocabulary as compact JSON: one sample of every event variant "
          "(one per value of its boolean, true first) with the severity (\"block\", \"warn\" "
          "or \"none\") the kernel's own grading gives it.")
          .c_str());
}

}  // namespace bindings
