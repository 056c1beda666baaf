// The composite scoring kernel and its record.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "scoring/composite.hpp"
#include "scoring/process_event.hpp"
#include "scoring/score_record.hpp"
#include "support/fault.hpp"

namespace {

namespace pe = talmoor_core::process_event;
using talmoor_core::composite::AgentSubmission;
using talmoor_core::composite::CompositeScore;
// Not "Run": every gtest fixture has a member of that name.
using TestRun = talmoor_core::composite::Run;
using talmoor_core::composite::ScoreConfig;
using talmoor_core::composite::score_agent;
using talmoor_core::score_record::composite_score_json;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::uint32_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();

// A steady positive series that clears every statistical gate.
std::vector<double> strong_returns(std::size_t n = 252) {
  std::vector<double> r;
  for (std::size_t t = 0; t < n; ++t) r.push_back(0.01 + 0.004 * std::sin(1.3 * t));
  return r;
}

TestRun make_run(std::vector<double> returns, std::vector<pe::ProcessEvent> events = {}) {
  TestRun run;
  run.returns = std::move(returns);
  run.trace.events = std::move(events);
  return run;
}

AgentSubmission submit(std::vector<TestRun> runs, std::uint32_t trials = 0) {
  AgentSubmission s;
  s.agent_id = "agent-7";
  s.runs = std::move(runs);
  s.in_sample_trials = trials;
  return s;
}

CompositeScore score(const AgentSubmission& s, double periods_per_year = 252.0) {
  return score_agent(s, ScoreConfig::for_periods_per_year(periods_per_year));
}

// Top-level keys of a flat-enough record: every key at depth one.
std::vector<std::string> top_level_keys(const std::string& json) {
  std::vector<std::string> keys;
  int depth = 0;
  bool in_string = false;
  std::string current;
  bool expecting_key = false;
  for (std::size_t i = 0; i < json.size(); ++i) {
    char c = json[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
        if (expecting_key) keys.push_back(current);
        expecting_key = false;
      } else {
        current += c;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
      current.clear();
      expecting_key = depth == 1 && (json[i - 1] == '{' || json[i - 1] == ',');
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return keys;
}

TEST(CompositeKernel, PooledReturnsConcatenateOrAverageReplicates) {
  AgentSubmission s = submit({make_run({0.25, 0.5}), make_run({0.75, -0.5}), make_run({1.0})});
  EXPECT_EQ(talmoor_core::composite::pooled_returns(s, 1),
            (std::vector<double>{0.25, 0.5, 0.75, -0.5, 1.0}));
  EXPECT_EQ(talmoor_core::composite::pooled_returns(s, 0),
            talmoor_core::composite::pooled_returns(s, 1));
  s.runs.pop_back();
  EXPECT_EQ(talmoor_core::composite::pooled_returns(s, 2), (std::vector<double>{0.5, 0.0}));
}

TEST(CompositeKernel, IncompleteReplicateWindowsAreFaults) {
  AgentSubmission s = submit({make_run({0.1}), make_run({0.2}), make_run({0.3})});
  try {
    (void)talmoor_core::composite::pooled_returns(s, 2);
    FAIL() << "expected a fault";
  } catch (const support::Fault& f) {
    EXPECT_STREQ(f.what(), "3 runs cannot form complete 2-execution window blocks");
  }
  s.runs.push_back(make_run({0.4, 0.5}));
  try {
    ScoreConfig config = ScoreConfig::for_periods_per_year(252.0);
    config.executions_per_window = 2;
    (void)score_agent(s, config);
    FAIL() << "expected a fault";
  } catch (const support::Fault& f) {
    EXPECT_STREQ(f.what(), "execution replicates in one window must have equal return lengths");
  }
}

TEST(CompositeKernel, EffectiveTrialsSaturate) {
  using talmoor_core::composite::effective_trials;
  EXPECT_EQ(effective_trials(50, 0), 50u);
  EXPECT_EQ(effective_trials(50, kMaxU32 - 50), kMaxU32);
  EXPECT_EQ(effective_trials(50, kMaxU32 - 49), kMaxU32);
  EXPECT_EQ(effective_trials(50, kMaxU32), kMaxU32);
  CompositeScore s = score(submit({make_run(strong_returns())}, kMaxU32));
  EXPECT_EQ(s.in_sample_trials, kMaxU32);
  EXPECT_EQ(s.effective_n_trials, kMaxU32);
}

TEST(CompositeKernel, StrongSeriesPassingEveryGateScoresItsDeflatedSharpe) {
  CompositeScore s = score(submit({make_run(strong_returns())}));
  EXPECT_TRUE(s.rank_eligible);
  EXPECT_TRUE(s.passed_k);
  EXPECT_TRUE(s.process_ok);
  EXPECT_TRUE(s.mandate_ok);
  EXPECT_FALSE(s.bootstrap_error.has_value());
  EXPECT_FALSE(s.deflation_error.has_value());
  EXPECT_GE(s.deflated_sharpe, 0.95);
  EXPECT_EQ(s.composite, s.deflated_sharpe);
  EXPECT_EQ(s.bootstrap_p, 1.0 / 2001.0);
  ASSERT_TRUE(s.dsr_ci_low.has_value());
  EXPECT_LE(*s.dsr_ci_low, *s.dsr_ci_high);
  EXPECT_EQ(s.effective_n_trials, 50u);
  EXPECT_EQ(s.trials_sr_std, 0.5 / std::sqrt(252.0));
  EXPECT_EQ(s.rolling_windows, 232u);
  EXPECT_EQ(top_level_keys(composite_score_json(s)).size(), 63u);
}

TEST(CompositeKernel, BlockViolationFloorsEverything) {
  CompositeScore s = score(submit({make_run(strong_returns(), {pe::DenylistBypass{}})}));
  EXPECT_FALSE(s.process_ok);
  EXPECT_TRUE(s.process_floored);
  EXPECT_EQ(s.process_score, 0.0);
  EXPECT_FALSE(s.rank_eligible);
  EXPECT_EQ(s.composite, 0.0);
  EXPECT_GE(s.deflated_sharpe, 0.95);  // the statistics themselves are untouched
  EXPECT_EQ(s.realized_floored_return, 0.0);
  EXPECT_GT(s.raw_mean_return, 0.0);
}

struct ProcessCase {
  std::vector<std::vector<pe::ProcessEvent>> traces;
  bool ok;
  std::uint64_t warnings;
  double score;
};

class CompositeProcessVerdict : public ::testing::TestWithParam<ProcessCase> {};

TEST_P(CompositeProcessVerdict, SumsWarningsOverRuns) {
  std::vector<TestRun> runs;
  for (const auto& events : GetParam().traces) runs.push_back(make_run({0.01, 0.02}, events));
  CompositeScore s = score(submit(runs));
  EXPECT_EQ(s.process_ok, GetParam().ok);
  EXPECT_EQ(s.process_warnings, GetParam().warnings);
  EXPECT_EQ(s.process_score, GetParam().score);
}

std::vector<pe::ProcessEvent> warnings(int n) {
  return std::vector<pe::ProcessEvent>(n, pe::ConcentrationBreach{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompositeProcessVerdict,
    ::testing::Values(ProcessCase{{{}}, true, 0, 1.0},
                      ProcessCase{{warnings(3), warnings(4)}, true, 7, 0.29999999999999993},
                      ProcessCase{{warnings(12)}, true, 12, 0.0},
                      // A blocked run's warnings still count.
                      ProcessCase{{{pe::ManipulativeOrder{}, pe::ConcentrationBreach{}},
                                   warnings(2)},
                                  false, 3, 0.0}));

TEST(CompositeKernel, MoreDeclaredTrialsDeflateHarder) {
  std::vector<double> r = strong_returns(40);
  for (std::size_t i = 0; i < r.size(); i += 3) r[i] = -0.02;
  CompositeScore few = score(submit({make_run(r)}, 0));
  CompositeScore many = score(submit({make_run(r)}, 100000));
  EXPECT_GT(many.deflation_bar_per_period, few.deflation_bar_per_period);
  EXPECT_LT(many.deflated_sharpe, few.deflated_sharpe);
  EXPECT_EQ(many.effective_n_trials, 100050u);
}

class CompositeBadPeriods : public ::testing::TestWithParam<double> {};

TEST_P(CompositeBadPeriods, ReachTheRecordAsDeflationAndSelectionErrors) {
  AgentSubmission sub = submit({make_run(strong_returns())});
  sub.candidates = {strong_returns(30)};
  CompositeScore s = score(sub, GetParam());
  ASSERT_TRUE(s.deflation_error.has_value());
  EXPECT_EQ(*s.deflation_error, "periods_per_year must be finite and positive");
  ASSERT_TRUE(s.selection_error.has_value());
  EXPECT_EQ(*s.selection_error, "periods_per_year must be finite and positive");
  EXPECT_EQ(s.deflated_sharpe, 0.0);
  EXPECT_EQ(s.deflation_bar_per_period, 0.0);
  EXPECT_FALSE(s.dsr_ci_low.has_value());
  EXPECT_FALSE(s.selection_median_dsr.has_value());
  EXPECT_FALSE(s.rank_eligible);
  EXPECT_EQ(s.composite, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Values, CompositeBadPeriods,
                         ::testing::Values(0.0, -252.0, kNaN,
                                           std::numeric_limits<double>::infinity()));

TEST(CompositeKernel, EmptySeriesFailsBothBootstraps) {
  CompositeScore s = score(submit({make_run({})}));
  EXPECT_EQ(s.deflated_sharpe, 0.0);
  EXPECT_EQ(s.bootstrap_p, 1.0);
  EXPECT_EQ(s.bootstrap_error, "at least 2 observations are required, got 0");
  EXPECT_EQ(s.deflation_error, "at least 2 observations are required, got 0");
  EXPECT_FALSE(s.dsr_ci_low.has_value());
  EXPECT_EQ(s.composite, 0.0);
  EXPECT_FALSE(s.passed_k);
}

TEST(CompositeKernel, NoRunsIsScoredNotRefused) {
  CompositeScore s = score(submit({}));
  EXPECT_FALSE(s.passed_k);
  EXPECT_TRUE(s.process_ok);
  EXPECT_EQ(s.runs_submitted, 0u);
  EXPECT_EQ(s.turnover, 0.0);
  EXPECT_EQ(s.worst_run_drawdown, 0.0);
  EXPECT_FALSE(s.calibration_brier.has_value());
  EXPECT_EQ(s.composite, 0.0);
}

TEST(CompositeKernel, CandidatesFeedSelectionAndRevealedSelection) {
  AgentSubmission sub = submit({make_run(strong_returns())});
  std::vector<double> better = strong_returns();
  for (double& v : better) v += 0.01;
  std::vector<double> worse = strong_returns();
  for (std::size_t i = 0; i < worse.size(); i += 2) worse[i] = -0.01;
  sub.candidates = {worse, better};
  CompositeScore s = score(sub);
  EXPECT_FALSE(s.selection_error.has_value());
  ASSERT_TRUE(s.selection_median_dsr.has_value());
  ASSERT_TRUE(s.selection_gap.has_value());
  EXPECT_GE(*s.selection_gap, 0.0);
  EXPECT_EQ(s.econ_dominance_violations, 1u);
  EXPECT_EQ(s.econ_rationality_score, 0.0);

  sub.candidates = {worse};
  CompositeScore rational = score(sub);
  EXPECT_EQ(rational.econ_dominance_violations, 0u);
  EXPECT_EQ(rational.econ_rationality_score, 1.0);
  EXPECT_EQ(rational.selection_gap, 0.0);
}

TEST(CompositeKernel, CostNormalisedColumnsNeedPositiveCost) {
  AgentSubmission sub = submit({make_run(strong_returns()), make_run(strong_returns())});
  sub.runs[0].cost = 1.5;
  sub.runs[1].cost = 0.5;
  CompositeScore s = score(sub);
  EXPECT_EQ(s.cost, 2.0);
  EXPECT_EQ(s.return_per_cost, s.raw_mean_return / 2.0);
  EXPECT_EQ(s.dsr_per_cost, s.deflated_sharpe / 2.0);
  sub.runs[1].cost = -1.5;
  CompositeScore zero = score(sub);
  EXPECT_EQ(zero.cost, 0.0);
  EXPECT_FALSE(zero.return_per_cost.has_value());
  EXPECT_FALSE(zero.dsr_per_cost.has_value());
}

TEST(CompositeKernel, ReplicatesPoolBarByBarAndFormRoles) {
  AgentSubmission sub = submit({make_run(strong_returns(30), {pe::OrderPlaced{true}}),
                                make_run(strong_returns(30))});
  ScoreConfig config = ScoreConfig::for_periods_per_year(252.0);
  config.executions_per_window = 2;
  CompositeScore s = score_agent(sub, config);
  EXPECT_EQ(s.pooled_observations, 30u);
  ASSERT_EQ(s.role_contributions.size(), 2u);
  EXPECT_EQ(s.role_contributions[0].role, "clean_active");
  EXPECT_EQ(s.role_contributions[1].role, "idle");
  EXPECT_EQ(s.role_contributions[0].periods, 30u);
  EXPECT_EQ(s.turnover, 0.5);
}

TEST(CompositeKernel, DrawdownLimitGatesEligibility) {
  std::vector<double> r = strong_returns();
  r[100] = -1.0;
  CompositeScore s = score(submit({make_run(r)}));
  EXPECT_EQ(s.max_drawdown, 1.0);
  EXPECT_TRUE(s.mandate_ok);  // 1.0 is at the limit, not over it
  r[100] = -1.5;
  CompositeScore over = score(submit({make_run(r)}));
  EXPECT_GT(over.max_drawdown, 1.0);
  EXPECT_FALSE(over.mandate_ok);
  EXPECT_FALSE(over.rank_eligible);
}

TEST(ScoreRecord, MandateBlockKeysFollowInOrderWhenPresent) {
  CompositeScore s = score(submit({make_run(strong_returns(30))}));
  std::string plain = composite_score_json(s);
  ASSERT_EQ(top_level_keys(plain).size(), 63u);

  s.bootstrap_error = "b";
  s.deflation_error = "d";
  s.selection_error = "s";
  s.declared_mandate = talmoor_protocol::DrawdownCapped{0.25};
  s.verdict_applied = talmoor_core::score_record::RelativeToVerdict{"SPX"};
  s.declared_passed_k = true;
  s.declared_mandate_eligible = false;
  s.declared_mandate_ordinal = 3;
  talmoor_core::certification::Certification c;
  c.mode = "strict";
  c.lifecycle_warnings = 2;
  c.withheld = {talmoor_core::certification::HostIneligible{},
                talmoor_core::certification::LifecycleEvidenceAbsent{4},
                talmoor_core::certification::LifecycleOrderingBlocked{5, 6}};
  s.certification = c;
  std::string full = composite_score_json(s);
  std::vector<std::string> keys = top_level_keys(full);
  ASSERT_EQ(keys.size(), 72u);
  EXPECT_EQ(keys[6], "bootstrap_error");
  EXPECT_EQ(keys[7], "deflation_error");
  EXPECT_EQ(keys[8], "selection_error");
  std::string tail = full.substr(full.find(",\"declared_mandate\""));
  EXPECT_EQ(tail,
            ",\"declared_mandate\":{\"kind\":\"drawdown_capped\",\"max_per_run_drawdown\":0.25},"
            "\"verdict_applied\":{\"kind\":\"relative_to\",\"benchmark_id\":\"SPX\"},"
            "\"declared_passed_k\":true,\"declared_mandate_eligible\":false,"
            "\"declared_mandate_ordinal\":3,"
            "\"certification\":{\"mode\":\"strict\",\"certified\":false,"
            "\"lifecycle_warnings\":2,\"withheld\":[{\"property\":\"host_ineligible\"},"
            "{\"property\":\"lifecycle_evidence_absent\",\"run\":4},"
            "{\"property\":\"lifecycle_ordering_blocked\",\"run\":5,\"block_violations\":6}]}}");
}

}  // namespace
