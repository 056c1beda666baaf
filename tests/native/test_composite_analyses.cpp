// Behaviour roles, revealed selection, edge half-life and the descriptive
// measures of a composite score.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "scoring/decay.hpp"
#include "scoring/econrationality.hpp"
#include "scoring/measures.hpp"
#include "scoring/process_event.hpp"
#include "scoring/roles.hpp"
#include "scoring/submission.hpp"

namespace {

namespace pe = talmoor_core::process_event;
using talmoor_core::decay::edge_half_life;
using talmoor_core::econrationality::elicit_revealed_selection;
using talmoor_core::roles::attribute_behavior_roles;
using talmoor_core::roles::BehaviorRole;
using talmoor_core::roles::classify_run;
using talmoor_core::roles::elicit_behavior_roles;
// Not "Run": every gtest fixture has a member of that name.
using TestRun = talmoor_core::submission::Run;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TestRun make_run(std::vector<double> returns, std::vector<pe::ProcessEvent> events = {}) {
  TestRun run;
  run.returns = std::move(returns);
  run.trace.events = std::move(events);
  return run;
}

// ---- Behaviour roles ------------------------------------------------------

TEST(BehaviorRoles, ClassifiesByWorstSeverityThenOrders) {
  EXPECT_EQ(classify_run(pe::Trace{}), BehaviorRole::kIdle);
  EXPECT_EQ(classify_run(pe::Trace{{pe::OrderPlaced{true}}}), BehaviorRole::kCleanActive);
  EXPECT_EQ(classify_run(pe::Trace{{pe::OrderPlaced{true}, pe::ConcentrationBreach{}}}),
            BehaviorRole::kWarned);
  // An unhedged tail sale blocks even beside warnings and orders.
  EXPECT_EQ(classify_run(pe::Trace{{pe::OrderPlaced{true}, pe::ConcentrationBreach{},
                                    pe::TailSellingExposure{true},
                                    pe::TailSellingExposure{false}}}),
            BehaviorRole::kBlockViolating);
}

TEST(BehaviorRoles, RoleFillingEveryWindowGivesNoStream) {
  std::vector<TestRun> single = {make_run({0.01, 0.02, 0.03}, {pe::OrderPlaced{true}})};
  EXPECT_TRUE(elicit_behavior_roles(single, 1).empty());
  // Different roles, but each window holds one run.
  std::vector<TestRun> two = {make_run({0.01, 0.02, 0.03}, {pe::OrderPlaced{true}}),
                          make_run({0.0, 0.0, 0.0})};
  EXPECT_TRUE(elicit_behavior_roles(two, 1).empty());
  // Three runs cannot form windows of two.
  two.push_back(make_run({0.0, 0.0, 0.0}));
  EXPECT_TRUE(elicit_behavior_roles(two, 2).empty());
  EXPECT_TRUE(elicit_behavior_roles(std::vector<TestRun>{}, 1).empty());
}

TEST(BehaviorRoles, SharedWindowGivesStreamsInRoleOrder) {
  // The idle run comes first in the window; the streams still follow role order.
  std::vector<TestRun> runs = {make_run({0.0, 0.0, 0.0}),
                           make_run({0.01, 0.02, 0.03}, {pe::OrderPlaced{true}})};
  auto streams = elicit_behavior_roles(runs, 2);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].role, "clean_active");
  EXPECT_EQ(streams[1].role, "idle");
  std::vector<double> team = {0.005, 0.01, 0.015};
  EXPECT_EQ(streams[0].team_returns, team);
  EXPECT_EQ(streams[0].role_returns, (std::vector<double>{0.01, 0.02, 0.03}));
  EXPECT_EQ(streams[1].team_returns, team);
  EXPECT_EQ(streams[1].role_returns, (std::vector<double>{0.0, 0.0, 0.0}));

  auto contributions = attribute_behavior_roles(streams);
  ASSERT_EQ(contributions.size(), 2u);
  // The team moves half as much as the active run; the idle run has no variance.
  EXPECT_EQ(contributions[0].role, "clean_active");
  EXPECT_EQ(contributions[0].beta_to_team, 0.5);
  EXPECT_DOUBLE_EQ(contributions[0].mean_return, 0.02);
  EXPECT_EQ(contributions[0].periods, 3u);
  EXPECT_EQ(contributions[1].role, "idle");
  EXPECT_EQ(contributions[1].beta_to_team, 0.0);
  EXPECT_EQ(contributions[1].mean_return, 0.0);
  EXPECT_EQ(contributions[1].periods, 3u);
}

TEST(BehaviorRoles, TeamBarsStopAtShortestRunOfWindow) {
  std::vector<TestRun> runs = {make_run({0.02, 0.04, 0.06, 0.08}, {pe::OrderPlaced{true}}),
                           make_run({0.0, 0.0})};
  auto streams = elicit_behavior_roles(runs, 2);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].role_returns, (std::vector<double>{0.02, 0.04}));
  EXPECT_EQ(streams[0].team_returns, (std::vector<double>{0.01, 0.02}));
}

TEST(BehaviorRoles, ContributionJsonKeepsDeclaredKeyOrder) {
  talmoor_core::roles::RoleContribution c{"warned", 0.5, -0.25, 7};
  std::string out;
  support::JsonWriter w(out);
  talmoor_core::roles::role_contribution_fields().write(w, c, support::KeyOrder::kDeclared);
  EXPECT_EQ(out, R"({"role":"warned","beta_to_team":0.5,"mean_return":-0.25,"periods":7})");
}

// ---- Revealed selection ---------------------------------------------------

TEST(RevealedSelection, NoneWithoutUsableSeries) {
  std::vector<double> own = {0.01, 0.02, 0.0};
  EXPECT_FALSE(elicit_revealed_selection({}, own).has_value());
  std::vector<std::vector<double>> flat = {{0.5, 0.5, 0.5, 0.5}, {0.5}};
  EXPECT_FALSE(elicit_revealed_selection(flat, own).has_value());
  std::vector<std::vector<double>> good = {{0.01, 0.03}};
  EXPECT_FALSE(elicit_revealed_selection(good, std::vector<double>{0.01}).has_value());
  EXPECT_FALSE(elicit_revealed_selection(good, std::vector<double>{0.01, kNaN}).has_value());
}

TEST(RevealedSelection, SkipsUnusableCandidatesAndFlagsDomination) {
  std::vector<double> own = {0.01, 0.03, 0.02};  // Sharpe 2
  std::vector<std::vector<double>> candidates = {
      {0.5, 0.5, 0.5, 0.5}, {0.02, 0.04, 0.03}, {0.01, kNaN}};
  auto selection = elicit_revealed_selection(candidates, own);
  ASSERT_TRUE(selection.has_value());
  ASSERT_EQ(selection->values.size(), 2u);
  EXPECT_EQ(selection->chosen, 1u);
  EXPECT_EQ(talmoor_core::econrationality::dominance_violations(*selection), 1u);
  EXPECT_EQ(talmoor_core::econrationality::rationality_score(*selection), 0.0);

  std::vector<std::vector<double>> weaker = {{0.01, -0.01, 0.02}};
  auto undominated = elicit_revealed_selection(weaker, own);
  ASSERT_TRUE(undominated.has_value());
  EXPECT_EQ(talmoor_core::econrationality::dominance_violations(*undominated), 0u);
  EXPECT_EQ(talmoor_core::econrationality::rationality_score(*undominated), 1.0);
}

// ---- Edge half-life -------------------------------------------------------

TEST(EdgeHalfLife, HalvingEdgeHasHalfLifeOfOneWindow) {
  std::optional<double> h = edge_half_life(std::vector<double>{0.04, 0.02, 0.01});
  ASSERT_TRUE(h.has_value());
  EXPECT_EQ(*h, 1.0000000000000002);
}

TEST(EdgeHalfLife, NoneForGrowingFlatOrTooFewPoints) {
  EXPECT_FALSE(edge_half_life(std::vector<double>{0.01, 0.02, 0.04}).has_value());
  EXPECT_FALSE(edge_half_life(std::vector<double>{0.02, 0.02, 0.02}).has_value());
  EXPECT_FALSE(edge_half_life(std::vector<double>{0.04, 0.02}).has_value());
  EXPECT_FALSE(edge_half_life(std::vector<double>{0.04, 0.0, 1e-10, 0.01}).has_value());
  EXPECT_FALSE(edge_half_life(std::vector<double>{}).has_value());
}

TEST(EdgeHalfLife, SkippedEdgesKeepTheirPositions) {
  // Quartering every two windows is halving every window...
  std::optional<double> spaced = edge_half_life(std::vector<double>{0.04, 0.0, 0.01, kNaN, 0.0025});
  ASSERT_TRUE(spaced.has_value());
  EXPECT_NEAR(*spaced, 1.0, 1e-12);
  // ...while the same values side by side halve in half a window.
  std::optional<double> packed = edge_half_life(std::vector<double>{0.04, 0.01, 0.0025});
  ASSERT_TRUE(packed.has_value());
  EXPECT_NEAR(*packed, 0.5, 1e-12);
  // Negative edges count by magnitude.
  std::optional<double> negative = edge_half_life(std::vector<double>{-0.04, -0.02, -0.01});
  ASSERT_TRUE(negative.has_value());
  EXPECT_EQ(*negative, 1.0000000000000002);
}

// ---- Descriptive measures -------------------------------------------------

namespace measures = talmoor_core::measures;

TEST(ScoreMeasures, MaxDrawdown) {
  EXPECT_EQ(measures::max_drawdown(std::vector<double>{}), 0.0);
  EXPECT_EQ(measures::max_drawdown(std::vector<double>{0.1, 0.2}), 0.0);
  EXPECT_EQ(measures::max_drawdown(std::vector<double>{1.0, -0.5}), 0.5);
  // Wealth wiped out stays wiped out.
  EXPECT_EQ(measures::max_drawdown(std::vector<double>{0.1, -1.0, 0.5, 2.0}), 1.0);
  // A NaN freezes wealth at NaN: the drawdown reached before it stays.
  EXPECT_EQ(measures::max_drawdown(std::vector<double>{1.0, -0.5, kNaN, -0.9}), 0.5);
}

TEST(ScoreMeasures, WorstRunDrawdownAndTurnover) {
  std::vector<TestRun> runs = {
      make_run({1.0, -0.5}, {pe::OrderPlaced{true}, pe::OrderPlaced{false}}),
      make_run({0.1, -0.25}, {pe::OrderPlaced{true}, pe::ConcentrationBreach{}}),
      make_run({}, {pe::DecisionRationale{"SYM0", "why"}})};
  EXPECT_EQ(measures::worst_run_drawdown(runs), 0.5);
  EXPECT_EQ(measures::turnover(runs), 1.0);
  EXPECT_EQ(measures::worst_run_drawdown(std::vector<TestRun>{}), 0.0);
  EXPECT_EQ(measures::turnover(std::vector<TestRun>{}), 0.0);
}

TEST(ScoreMeasures, CalibrationZipsEachRunToItsShorterList) {
  TestRun a = make_run({});
  a.confidences = {0.5, 0.5, 0.5};
  a.outcomes = {true, false};
  TestRun b = make_run({});
  b.confidences = {2.0, -1.0};  // clamped to 1 and 0
  b.outcomes = {true, true, false};
  measures::Calibration c = measures::calibration(std::vector<TestRun>{a, b});
  EXPECT_EQ(c.observations, 4u);
  ASSERT_TRUE(c.brier.has_value());
  EXPECT_EQ(*c.brier, (0.25 + 0.25 + 0.0 + 1.0) / 4.0);
  measures::Calibration none = measures::calibration(std::vector<TestRun>{make_run({0.1})});
  EXPECT_EQ(none.observations, 0u);
  EXPECT_FALSE(none.brier.has_value());
}

TEST(ScoreMeasures, ConfidenceWeightedReturn) {
  TestRun a = make_run({0.25, 0.75});     // mean 0.5
  a.confidences = {1.0, 0.5};         // weight 0.75
  TestRun b = make_run({-0.125, -0.375});  // mean -0.25; no confidences: weight 1
  EXPECT_EQ(measures::confidence_weighted_return(std::vector<TestRun>{a, b}, 9.0),
            (0.5 * 0.75 + -0.25 * 1.0) / 1.75);
  TestRun zero = make_run({0.5});
  zero.confidences = {0.0};
  EXPECT_EQ(measures::confidence_weighted_return(std::vector<TestRun>{zero}, 9.0), 9.0);
  EXPECT_EQ(measures::confidence_weighted_return(std::vector<TestRun>{}, 9.0), 9.0);
}

TEST(ScoreMeasures, WindowEdgesAverageRunMeans) {
  std::vector<TestRun> runs = {make_run({0.25, 0.75}), make_run({}), make_run({0.125})};
  EXPECT_EQ(measures::window_edges(runs, 1), (std::vector<double>{0.5, 0.0, 0.125}));
  EXPECT_EQ(measures::window_edges(runs, 2), (std::vector<double>{0.25, 0.125}));
}

TEST(ScoreMeasures, RollingSharpeNeedsAFullWindow) {
  std::vector<double> x;
  for (int i = 0; i < 21; ++i) x.push_back(i % 3 == 0 ? -0.01 : 0.02);
  measures::RollingSharpe one = measures::rolling_sharpe(x, 21);
  EXPECT_EQ(one.windows, 1u);
  ASSERT_TRUE(one.min_sharpe.has_value());
  EXPECT_GT(*one.min_sharpe, 0.0);
  EXPECT_EQ(one.frac_positive, 1.0);

  x.pop_back();
  measures::RollingSharpe none = measures::rolling_sharpe(x, 21);
  EXPECT_EQ(none.windows, 0u);
  EXPECT_FALSE(none.min_sharpe.has_value());
  EXPECT_FALSE(none.frac_positive.has_value());
  EXPECT_EQ(measures::rolling_sharpe(x, 1).windows, 0u);

  // Four windows of two: Sharpe NaN, positive, zero (flat), negative.
  measures::RollingSharpe mixed =
      measures::rolling_sharpe(std::vector<double>{kNaN, 0.01, 0.03, 0.03, -0.05}, 2);
  EXPECT_EQ(mixed.windows, 4u);
  EXPECT_EQ(*mixed.frac_positive, 0.25);
  EXPECT_LT(*mixed.min_sharpe, 0.0);
}

TEST(ScoreMeasures, DsrPercentile) {
  EXPECT_FALSE(measures::dsr_percentile(std::vector<double>{}, 0.5).has_value());
  EXPECT_EQ(*measures::dsr_percentile(std::vector<double>{0.1, 0.5, 0.9}, 0.5),
            2.0 * 100.0 / 3.0);
}

}  // namespace
