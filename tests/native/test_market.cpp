#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "evaluation/bar_clearing.hpp"
#include "evaluation/market.hpp"
#include "sim/data.hpp"
#include "support/fault.hpp"
#include "support/json_writer.hpp"

namespace {

using corvane::bar_clearing::robust_coefficients;
using corvane::bar_clearing::spow;
using corvane::market::ImpactCoefficients;
using corvane::market::ImpactParams;
using corvane::market::MarketClearing;
using corvane::market::Richness;
using corvane::market::RichnessLevel;
using corvane::market::UncertaintySet;
using corvane::market::VolTracker;
using talmoor_sim::data::Dataset;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// One symbol whose close stays at `price` for `n_bars` bars.
Dataset flat_dataset(std::size_t n_bars, double price, std::size_t n_symbols = 1) {
  Dataset d;
  for (std::size_t i = 0; i < n_bars; ++i) {
    std::string date = "d";
    date.append(std::to_string(i));
    d.dates.push_back(date);
  }
  for (std::size_t k = 0; k < n_symbols; ++k) {
    std::string symbol = "S";
    symbol.append(std::to_string(k));
    d.closes[symbol] = std::vector<double>(n_bars, price);
  }
  return d;
}

MarketClearing flat_market(std::size_t n_agents = 1, std::size_t n_bars = 3) {
  return MarketClearing::from_dataset_with_richness(flat_dataset(n_bars, 100.0), n_agents,
                                                    Richness{20, false, false}, 1.0);
}

const ImpactParams kParams{0.1, 0.05, 1.0, 0.0};

TEST(MarketClearing, WorkedLinearExample) {
  MarketClearing m = flat_market();
  auto r = m.step_concave({{0.5}}, kParams, std::nullopt, 1.0);
  ASSERT_EQ(r.fills.size(), 1u);
  EXPECT_DOUBLE_EQ(r.fills[0][0].size, 0.005);
  EXPECT_DOUBLE_EQ(r.net_flow[0], 0.005);
  EXPECT_DOUBLE_EQ(r.fills[0][0].fill_price, 100.075);
  EXPECT_DOUBLE_EQ(m.agents[0].cash, 0.499625);
  EXPECT_DOUBLE_EQ(m.agents[0].cost_basis[0], 0.500375);
  EXPECT_DOUBLE_EQ(m.impact_factor[0], 1.0005);
  EXPECT_EQ(m.agents[0].last_weights[0], 0.5);
  EXPECT_FALSE(r.robust_impact.has_value());
}

TEST(MarketClearing, PowerPathUsesSignedPower) {
  EXPECT_EQ(spow(-4.0, 0.5), -2.0);
  EXPECT_EQ(spow(4.0, 0.5), 2.0);
  EXPECT_EQ(spow(0.0, 0.5), 0.0);
  // Net flow -4 x V at x = 0.5: the permanent factor is 1 - 2 lambda.
  MarketClearing m = flat_market();
  const double weight = -4.0 * 100.0;  // capital 1.0 at mid 100 -> q = -4
  auto r = m.step_concave({{weight}}, ImpactParams{0.1, 0.0, 1.0, 0.0}, std::nullopt, 0.5);
  EXPECT_EQ(r.net_flow[0], -4.0);
  EXPECT_DOUBLE_EQ(m.impact_factor[0], 1.0 - 2.0 * 0.1);
  EXPECT_DOUBLE_EQ(r.fills[0][0].fill_price, 100.0 * (1.0 - 0.2));
}

TEST(MarketClearing, ExponentNearOneTakesPowerFormulas) {
  MarketClearing linear = flat_market();
  MarketClearing power = flat_market();
  auto a = linear.step_concave({{0.3}}, kParams, std::nullopt, 1.0);
  auto b = power.step_concave({{0.3}}, kParams, std::nullopt, std::nextafter(1.0, 2.0));
  EXPECT_NEAR(a.fills[0][0].fill_price, b.fills[0][0].fill_price, 1e-9);
}

TEST(MarketClearing, UnchangedWeightsTradeNothing) {
  Dataset d = flat_dataset(22, 100.0);
  d.closes["S0"][21] = 110.0;
  MarketClearing m =
      MarketClearing::from_dataset_with_richness(d, 2, Richness{20, false, false}, 1.0);
  ASSERT_EQ(m.start_bar, 20u);
  (void)m.step_concave({{0.0}, {0.0}}, kParams, std::nullopt, 1.0);
  m.agents[0].shares[0] = 0.01;  // a held position, revalued at the new mid
  m.agents[0].cash = 0.0;
  auto r = m.step_concave({{0.0}, {0.0}}, kParams, std::nullopt, 1.0);
  EXPECT_EQ(r.net_flow[0], 0.0);
  EXPECT_EQ(r.fills[0][0].size, 0.0);
  EXPECT_EQ(r.fills[1][0].fill_price, 110.0);
  EXPECT_EQ(m.impact_factor[0], 1.0);
  EXPECT_EQ(r.rewards[0], (0.01 * 110.0 - 0.01 * 100.0) / (0.01 * 100.0));
  EXPECT_EQ(r.rewards[1], 0.0);
  // The second step pushes the first real move into the full window's oldest slot.
  const double move = (110.0 - 100.0) / 100.0;
  EXPECT_EQ(m.trackers[0].ring[0], move * move);
}

TEST(MarketClearing, FlatPositionRestartsCostBasis) {
  MarketClearing m = flat_market(1, 4);
  const ImpactParams no_impact{0.0, 0.0, 1.0, 0.0};
  (void)m.step_concave({{0.5}}, no_impact, std::nullopt, 1.0);
  EXPECT_EQ(m.agents[0].cost_basis[0], 0.5);
  auto r = m.step_concave({{0.0}}, no_impact, std::nullopt, 1.0);
  EXPECT_EQ(m.agents[0].shares[0], 0.0);
  EXPECT_EQ(m.agents[0].cost_basis[0], 0.0);
  EXPECT_EQ(m.agents[0].cash, 1.0);
  EXPECT_EQ(r.observations[0].portfolio[0].avg_price, 0.0);
}

TEST(MarketClearing, VolatilityMultiplierIsCapped) {
  MarketClearing m = flat_market();
  m.trackers[0] = VolTracker{};
  m.trackers[0].push(5.0);
  auto r = m.step_concave({{0.5}}, ImpactParams{0.1, 0.05, 1.0, 0.5}, std::nullopt, 1.0);
  const double q = 0.005;
  const double imp = (q * 0.05 + q * 0.1) / 1.0;
  EXPECT_EQ(r.fills[0][0].fill_price, 100.0 * (imp * 3.0 + 1.0));
}

TEST(MarketClearing, FirstStepPushesZeroIntoTrackers) {
  Dataset d = Dataset::synthetic(2, 30, 7);
  MarketClearing m =
      MarketClearing::from_dataset_with_richness(d, 1, Richness{20, false, false}, 1.0);
  ASSERT_EQ(m.trackers[0].count, 19u);  // 20 closes before start_bar give 19 returns
  (void)m.step_concave({{0.0, 0.0}}, kParams, std::nullopt, 1.0);
  EXPECT_EQ(m.trackers[0].count, 20u);
  EXPECT_EQ(m.trackers[0].ring[19], 0.0);
}

TEST(VolTracker, KeepsTheLastTwentyValues) {
  VolTracker t;
  EXPECT_EQ(t.mean(), 0.0);
  for (int i = 1; i <= 25; ++i) t.push(static_cast<double>(i));
  EXPECT_EQ(t.count, 20u);
  EXPECT_EQ(t.index, 5u);
  EXPECT_EQ(t.sum, 310.0);  // 6 + ... + 25
  EXPECT_EQ(t.mean(), 15.5);
}

struct RobustCase {
  const char* name;
  double s, a;
  UncertaintySet set;
  double lambda0, eta0;
  ImpactCoefficients expected;
};

class RobustCoefficients : public ::testing::TestWithParam<RobustCase> {};

TEST_P(RobustCoefficients, WorstCaseOnTheEllipse) {
  const RobustCase& c = GetParam();
  ImpactCoefficients got = robust_coefficients(c.s, c.a, c.set, c.lambda0, c.eta0);
  EXPECT_DOUBLE_EQ(got.lambda, c.expected.lambda) << c.name;
  EXPECT_DOUBLE_EQ(got.eta, c.expected.eta) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RobustCoefficients,
    ::testing::Values(
        RobustCase{"zero radii keep the point", 1.0, 1.0, {0.0, 0.0, 0.0}, 0.1, 0.05, {0.1, 0.05}},
        RobustCase{"no flow keeps the point", 0.0, 0.0, {1.0, 1.0, 0.5}, 0.1, 0.05, {0.1, 0.05}},
        RobustCase{"own flow only moves eta", 1.0, 0.0, {1.0, 1.0, 0.0}, 0.1, 0.05, {0.1, 1.05}},
        RobustCase{"net flow only moves lambda", 0.0, 4.0, {0.5, 1.0, 0.0}, 0.1, 0.05,
                   {0.6, 0.05}},
        // Equal flows on a circle: (lambda0, eta0) + (1, 1) / sqrt(2).
        RobustCase{"diagonal", 1.0, 1.0, {1.0, 1.0, 0.0}, 0.0, 0.0,
                   {1.0 / std::sqrt(2.0), 1.0 / std::sqrt(2.0)}},
        RobustCase{"negative lambda clipped", 0.0, 1.0, {1.0, 1.0, 0.0}, -2.0, 0.05, {0.0, 0.05}},
        RobustCase{"negative eta clipped", 1.0, 0.0, {1.0, 1.0, 0.0}, 0.1, -2.0, {0.1, 0.0}},
        // lambda clipped at e = 0.5 on a circle: eta0 + sqrt(0.75).
        RobustCase{"lambda clipped inside", 1.0, 0.01, {1.0, 1.0, 0.0}, -0.5, 0.0,
                   {0.0, std::sqrt(0.75)}}));

TEST(RobustCoefficientsNaN, NaNRadiusPropagates) {
  ImpactCoefficients got = robust_coefficients(1.0, 1.0, {kNaN, 1.0, 0.0}, 0.1, 0.05);
  EXPECT_TRUE(std::isnan(got.lambda) || std::isnan(got.eta));
}

TEST(MarketClearing, RobustImpactListedEvenAtZeroRadii) {
  MarketClearing m = MarketClearing::from_dataset_with_richness(
      flat_dataset(3, 100.0, 2), 1, Richness{20, false, false}, 1.0);
  auto r = m.step_concave({{0.1, 0.2}}, kParams, UncertaintySet{0.0, 0.0, 0.0}, 1.0);
  ASSERT_TRUE(r.robust_impact.has_value());
  ASSERT_EQ(r.robust_impact->size(), 2u);
  for (const ImpactCoefficients& c : *r.robust_impact) {
    EXPECT_EQ(c.lambda, 0.1);
    EXPECT_EQ(c.eta, 0.05);
  }
}

TEST(MarketClearing, StartBarAndDone) {
  MarketClearing five = MarketClearing::from_dataset_with_richness(
      Dataset::synthetic(1, 5, 0), 1, Richness{20, false, false}, 1.0);
  EXPECT_EQ(five.start_bar, 4u);
  auto r = five.step_concave({{0.0}}, kParams, std::nullopt, 1.0);
  EXPECT_TRUE(r.done);
  // Past the calendar the market keeps clearing at the last closes.
  auto again = five.step_concave({{0.0}}, kParams, std::nullopt, 1.0);
  EXPECT_TRUE(again.done);
  EXPECT_EQ(again.observations[0].date, "");
  EXPECT_EQ(again.cleared_mids[0], five.closes[0][4]);
  EXPECT_EQ(five.cursor, 6u);
}

TEST(MarketClearing, ResetRestoresTheInitialState) {
  Dataset d = Dataset::synthetic(3, 60, 11);
  Richness rich{50, true, true};
  MarketClearing fresh = MarketClearing::from_dataset_with_richness(d, 2, rich, 1.0);
  MarketClearing used = fresh;
  for (int i = 0; i < 5; ++i) {
    (void)used.step_concave({{0.1 * i, 0.2, -0.3}, {0.0, -0.1 * i, 0.4}}, kParams,
                            UncertaintySet{0.1, 0.1, 0.5}, 0.5);
  }
  used.reset();
  EXPECT_EQ(used.initial_observations(), fresh.initial_observations());
  EXPECT_EQ(corvane::market::reset_json(used), corvane::market::reset_json(fresh));
}

TEST(MarketSnapshot, RichWindowHasFundamentalsAndHeadline) {
  MarketClearing m = MarketClearing::from_dataset_with_richness(
      flat_dataset(3, 100.0), 1, corvane::market::richness_of(RichnessLevel::kRich), 1.0);
  std::vector<double> series(50, 101.0);
  series.front() = 100.0;
  series.back() = 103.5;
  series[10] = 99.0;
  series[20] = 104.0;
  auto s = m.snapshot("SYM00", series);
  EXPECT_EQ(s.close_history, series);
  ASSERT_EQ(s.fundamentals.size(), 3u);
  EXPECT_EQ(s.fundamentals.at("trailing_return"), 103.5 / 100.0 - 1.0);
  EXPECT_EQ(s.fundamentals.at("window_high"), 104.0);
  EXPECT_EQ(s.fundamentals.at("window_low"), 99.0);
  EXPECT_EQ(s.news, std::vector<std::string>{"SYM00: uptrend, +3.50% over 50 bars"});

  auto one = m.snapshot("SYM00", std::vector<double>{100.0});
  EXPECT_TRUE(one.fundamentals.empty());
  EXPECT_TRUE(one.news.empty());

  auto zero_first = m.snapshot("X", std::vector<double>{0.0, 5.0});
  EXPECT_EQ(zero_first.fundamentals.at("trailing_return"), 0.0);
  EXPECT_EQ(zero_first.news, std::vector<std::string>{"X: range-bound, +0.00% over 2 bars"});
}

TEST(MarketSnapshot, PoorWindowIsShortAndBare) {
  MarketClearing m = MarketClearing::from_dataset_with_richness(
      flat_dataset(3, 100.0), 1, corvane::market::richness_of(RichnessLevel::kPoor), 1.0);
  auto s = m.snapshot("S", std::vector<double>{1.0, 2.0, 3.0, 4.0, 5.0});
  EXPECT_EQ(s.close_history, (std::vector<double>{3.0, 4.0, 5.0}));
  EXPECT_TRUE(s.fundamentals.empty());
  EXPECT_TRUE(s.news.empty());
}

struct HeadlineCase {
  double trailing_return;
  std::size_t length;
  const char* expected;
};

class NewsHeadline : public ::testing::TestWithParam<HeadlineCase> {};

TEST_P(NewsHeadline, TrendThresholdsAreStrict) {
  const HeadlineCase& c = GetParam();
  EXPECT_EQ(corvane::market::news_headline("SYM01", c.trailing_return, c.length), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NewsHeadline,
    ::testing::Values(HeadlineCase{0.02, 20, "SYM01: range-bound, +2.00% over 20 bars"},
                      HeadlineCase{-0.02, 20, "SYM01: range-bound, -2.00% over 20 bars"},
                      HeadlineCase{0.0201, 3, "SYM01: uptrend, +2.01% over 3 bars"},
                      HeadlineCase{-0.125, 50, "SYM01: downtrend, -12.50% over 50 bars"},
                      HeadlineCase{0.0, 2, "SYM01: range-bound, +0.00% over 2 bars"}));

TEST(MarketClearing, ObservationAveragePrice) {
  MarketClearing m = flat_market(2);
  m.agents[0].shares[0] = -2.0;
  m.agents[0].cost_basis[0] = -210.0;
  m.agents[1].shares[0] = 1e-13;
  m.agents[1].cost_basis[0] = 5.0;
  auto obs = m.initial_observations();
  ASSERT_EQ(obs.size(), 2u);
  EXPECT_EQ(obs[0].portfolio[0].avg_price, 105.0);
  EXPECT_EQ(obs[1].portfolio[0].avg_price, 0.0);
  EXPECT_EQ(obs[0].symbols, obs[1].symbols);
  EXPECT_EQ(obs[0].date, "d2");
  EXPECT_EQ(obs[0].symbols[0].close_history, (std::vector<double>{100.0, 100.0, 100.0}));
}

TEST(MarketClearingFaults, ConstructionPreconditions) {
  Richness r{20, false, false};
  auto message = [](auto&& f) {
    try {
      f();
    } catch (const support::Fault& e) {
      return std::string(e.what());
    }
    return std::string("no fault");
  };
  EXPECT_EQ(message([&] { MarketClearing::from_dataset_with_richness(flat_dataset(3, 1.0), 0, r,
                                                                     1.0); }),
            "a market needs at least one agent");
  EXPECT_EQ(message([&] { MarketClearing::from_dataset_with_richness(flat_dataset(1, 1.0), 1, r,
                                                                     1.0); }),
            "need at least one symbol and two bars");
  EXPECT_EQ(message([&] { MarketClearing::from_dataset_with_richness(flat_dataset(3, 1.0, 0), 1,
                                                                     r, 1.0); }),
            "need at least one symbol and two bars");

  MarketClearing m = flat_market();
  EXPECT_EQ(message([&] { m.step_concave({{0.0}}, kParams, std::nullopt, 0.0); }),
            "impact_exponent must be positive (1.0 = linear)");
  EXPECT_EQ(message([&] { m.step_concave({{0.0}}, kParams, std::nullopt, kNaN); }),
            "impact_exponent must be positive (1.0 = linear)");
  EXPECT_EQ(message([&] { m.step_concave({}, kParams, std::nullopt, 1.0); }),
            "one order vector per agent");
  EXPECT_EQ(message([&] { m.step_concave({{0.0, 1.0}}, kParams, std::nullopt, 1.0); }),
            "each order vector must cover every symbol");
  EXPECT_EQ(message([&] {
              corvane::bar_clearing::clear_bar_concave({}, {{0.0}}, kParams, std::nullopt, 1.0,
                                                       m);
            }),
            "exo_mid must cover every symbol");
  EXPECT_EQ(m.cursor, m.start_bar);  // nothing moved
}

// The observations of one step share their snapshot text; the result must be
// byte for byte what writing each observation on its own gives, also when an
// observation's snapshots differ or hold NaN (which never compares equal).
std::string plain_observations(const std::vector<talmoor_protocol::MarketObservation>& list) {
  std::string out;
  support::JsonWriter w(out);
  w.begin_array();
  for (const auto& obs : list) {
    talmoor_protocol::write_observation(w, obs, support::KeyOrder::kSorted);
  }
  w.end_array();
  return out;
}

TEST(MarketJson, SharedSnapshotsWriteTheSameBytes) {
  Dataset d = Dataset::synthetic(3, 40, 3);
  MarketClearing m = MarketClearing::from_dataset_with_richness(
      d, 3, corvane::market::richness_of(RichnessLevel::kRich), 1.0);
  auto r = m.step_concave({{0.1, 0.0, -0.2}, {0.0, 0.3, 0.0}, {0.2, 0.2, 0.2}}, kParams,
                          std::nullopt, 1.0);
  auto differing = r;
  differing.observations[1].symbols[0].close_history.back() = 1.5;
  auto with_nan = r;
  for (auto& obs : with_nan.observations) obs.symbols[2].close_history.front() = kNaN;
  for (const auto* result : {&r, &differing, &with_nan}) {
    std::string text = corvane::market::clear_result_json(*result, m.cursor);
    std::string expected = "\"observations\":" + plain_observations(result->observations) +
                           ",\"rewards\":";
    EXPECT_NE(text.find(expected), std::string::npos);
  }
}

}  // namespace
