#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "evaluation/scenario_gen.hpp"
#include "sim/data.hpp"
#include "support/fnv1a.hpp"
#include "support/splitmix64.hpp"

namespace {

using talmoor_sim::data::Dataset;
namespace sg = corvane::scenario_gen;

TEST(DataSynthetic, DateLabelsArePaddedToThreeDigits) {
  Dataset ds = Dataset::synthetic(1, 1000, 7);
  ASSERT_EQ(ds.dates.size(), 1000u);
  EXPECT_EQ(ds.dates[0], "2025-001");
  EXPECT_EQ(ds.dates[9], "2025-010");
  EXPECT_EQ(ds.dates[119], "2025-120");
  EXPECT_EQ(ds.dates[998], "2025-999");
  EXPECT_EQ(ds.dates[999], "2025-1000");
}

TEST(DataSynthetic, SymbolsComeInByteOrderNotIndexOrder) {
  Dataset ds = Dataset::synthetic(101, 2, 1);
  std::vector<std::string> symbols = ds.symbols();
  ASSERT_EQ(symbols.size(), 101u);
  EXPECT_EQ(symbols[0], "SYM00");
  EXPECT_EQ(symbols[10], "SYM10");
  EXPECT_EQ(symbols[11], "SYM100");
  EXPECT_EQ(symbols[12], "SYM11");
  EXPECT_EQ(symbols[100], "SYM99");
}

TEST(DataSynthetic, FirstCloseIsOneStepFromOneHundred) {
  // seed 0: the first draw of the stream seeded 0x123456789ABCDEF0.
  Dataset ds = Dataset::synthetic(1, 1, 0);
  support::SplitMix64 rng(0x123456789ABCDEF0ULL);
  const double e = ((rng.next_f64() - 0.5) * 0.02) * 1.0;
  const double m = e * 0.1 + 0.0 * 0.9;
  const double r = e * 0.5 + (0.0002 + m);
  EXPECT_EQ(ds.closes.at("SYM00"), std::vector<double>{100.0 * (r + 1.0)});
}

TEST(DataSynthetic, InstrumentsShareOneStreamInIndexOrder) {
  Dataset short_ds = Dataset::synthetic(3, 10, 99);
  Dataset long_ds = Dataset::synthetic(3, 20, 99);
  const auto& first_short = short_ds.closes.at("SYM00");
  const auto& first_long = long_ds.closes.at("SYM00");
  EXPECT_EQ(first_short, std::vector<double>(first_long.begin(), first_long.begin() + 10));
  // The second instrument starts where the first stopped, so a longer first
  // instrument shifts its stream.
  EXPECT_NE(short_ds.closes.at("SYM01")[0], long_ds.closes.at("SYM01")[0]);
}

TEST(DataSynthetic, IsDeterministicAndSeedSensitive) {
  EXPECT_EQ(to_json(Dataset::synthetic(4, 50, 5)), to_json(Dataset::synthetic(4, 50, 5)));
  EXPECT_NE(to_json(Dataset::synthetic(4, 50, 5)), to_json(Dataset::synthetic(4, 50, 6)));
}

TEST(DataSynthetic, EmptyShapes) {
  Dataset no_symbols = Dataset::synthetic(0, 3, 1);
  EXPECT_EQ(to_json(no_symbols),
            R"({"dates":["2025-001","2025-002","2025-003"],"closes":{},"dividends":{}})");
  Dataset no_days = Dataset::synthetic(2, 0, 1);
  EXPECT_EQ(to_json(no_days), R"({"dates":[],"closes":{"SYM00":[],"SYM01":[]},"dividends":{}})");
}

TEST(DataSynthetic, FactorFloorKeepsClosesPositive) {
  // A shock this large drives r + 1 below zero on many bars; the floored
  // factor 1e-9 keeps every close positive (20 bars cannot underflow).
  Dataset ds = Dataset::synthetic_parameterized(2, 20, 3, 300.0, 0.0, 0.0);
  int floored = 0;
  for (const auto& [symbol, series] : ds.closes) {
    double previous = 100.0;
    for (double close : series) {
      EXPECT_GT(close, 0.0) << symbol;
      if (close == previous * 1e-9) ++floored;
      previous = close;
    }
  }
  EXPECT_GT(floored, 0);
}

TEST(DataSynthetic, JumpsDrawExtraUniformsOnlyWhenEnabled) {
  EXPECT_EQ(to_json(Dataset::synthetic_parameterized(2, 30, 4, 1.0, 0.0, 0.5)),
            to_json(Dataset::synthetic(2, 30, 4)));
  EXPECT_EQ(to_json(Dataset::synthetic_parameterized(2, 30, 4, 1.0, -1.0, 0.5)),
            to_json(Dataset::synthetic(2, 30, 4)));
  EXPECT_NE(to_json(Dataset::synthetic_parameterized(2, 30, 4, 1.0, 0.5, 0.0)),
            to_json(Dataset::synthetic(2, 30, 4)));
}

TEST(DataSynthetic, GoldenFingerprint) {
  // Guards the tape: the default data set of every environment.
  EXPECT_EQ(support::fnv1a64(to_json(Dataset::synthetic(4, 120, 42))), 0x9f89a20c453ba3d0ULL);
  EXPECT_EQ(support::fnv1a64(to_json(Dataset::synthetic(101, 252, 0))), 0x677d333af6d9c74aULL);
}

Dataset small_dataset() {
  Dataset ds;
  ds.dates = {"d0", "d1", "d2", "d3", "d4"};
  ds.closes["A"] = {10.0, 11.0, 12.0, 13.0, 14.0};
  ds.closes["E"] = {};
  return ds;
}

struct HistoryCase {
  const char* symbol;
  std::size_t t;
  std::size_t lookback;
  std::vector<double> expected;
};

class DataHistoryTest : public ::testing::TestWithParam<HistoryCase> {};

TEST_P(DataHistoryTest, EndsAtBarT) {
  const HistoryCase& c = GetParam();
  EXPECT_EQ(small_dataset().history(c.symbol, c.t, c.lookback), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DataHistoryTest,
    ::testing::Values(HistoryCase{"A", 0, 20, {10.0}}, HistoryCase{"A", 2, 2, {11.0, 12.0}},
                      HistoryCase{"A", 4, 5, {10.0, 11.0, 12.0, 13.0, 14.0}},
                      HistoryCase{"A", 3, 100, {10.0, 11.0, 12.0, 13.0}},
                      HistoryCase{"A", 99, 2, {13.0, 14.0}}, HistoryCase{"A", 2, 0, {}},
                      HistoryCase{"E", 0, 5, {}}, HistoryCase{"ZZ", 0, 5, {}}));

TEST(DataHistory, TwentyClosesEndingAtBarOneHundred) {
  Dataset ds = Dataset::synthetic(1, 150, 8);
  const auto& series = ds.closes.at("SYM00");
  EXPECT_EQ(ds.history("SYM00", 100, 20),
            std::vector<double>(series.begin() + 81, series.begin() + 101));
}

TEST(DataCloseAt, LastBarAndBeyond) {
  Dataset ds = small_dataset();
  EXPECT_EQ(ds.close_at("A", 0), std::optional<double>(10.0));
  EXPECT_EQ(ds.close_at("A", 4), std::optional<double>(14.0));
  EXPECT_EQ(ds.close_at("A", 5), std::nullopt);
  EXPECT_EQ(ds.close_at("E", 0), std::nullopt);
  EXPECT_EQ(ds.close_at("B", 0), std::nullopt);
}

TEST(DataJson, WritesBothMapsInByteOrderAndNonFiniteAsNull) {
  Dataset ds;
  ds.dates = {"x\"y", "2"};
  ds.closes["b"] = {1.0, std::numeric_limits<double>::quiet_NaN()};
  ds.closes["B"] = {100.0, 1e-7};
  ds.closes["a"] = {std::numeric_limits<double>::infinity(), -0.0};
  ds.dividends["b"] = {0.0, 0.25};
  EXPECT_EQ(to_json(ds),
            R"({"dates":["x\"y","2"],"closes":{"B":[100.0,1e-7],"a":[null,-0.0],"b":[1.0,null]},)"
            R"("dividends":{"b":[0.0,0.25]}})");
}

TEST(ScenarioDistributionMode, ParsesTheFiveLabelsExactly) {
  const std::pair<const char*, sg::DistributionMode> labels[] = {
      {"calm", sg::DistributionMode::kCalm},
      {"hard", sg::DistributionMode::kHard},
      {"extreme", sg::DistributionMode::kExtreme},
      {"cointegrated_pairs", sg::DistributionMode::kCointegratedPairs},
      {"regime_shift", sg::DistributionMode::kRegimeShift}};
  for (const auto& [label, mode] : labels) {
    auto parsed = sg::parse_distribution_mode(label);
    ASSERT_TRUE(parsed.ok()) << label;
    EXPECT_EQ(parsed.value(), mode);
    EXPECT_EQ(sg::distribution_mode_label(mode), label);
  }
}

TEST(ScenarioDistributionMode, RefusesOtherLabelsQuoted) {
  const std::pair<std::string, std::string> cases[] = {
      {"HARD", R"("HARD")"},
      {"", R"("")"},
      {" calm", R"(" calm")"},
      {"a\"b\\c\n", R"("a\"b\\c\n")"}};
  for (const auto& [label, quoted] : cases) {
    auto parsed = sg::parse_distribution_mode(label);
    ASSERT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.error(), "unknown distribution_mode " + quoted +
                                  " (expected calm | hard | extreme | cointegrated_pairs | "
                                  "regime_shift)");
  }
}

TEST(ScenarioGenerate, PlainCalmIsTheSyntheticDataSet) {
  for (std::uint64_t seed : {0ULL, 1ULL, 42ULL, ~0ULL}) {
    sg::ScenarioSpec spec;
    spec.n_symbols = 5;
    spec.n_days = 60;
    ASSERT_TRUE(spec.is_plain_calm());
    EXPECT_EQ(to_json(sg::generate_scenario(spec, seed)), to_json(Dataset::synthetic(5, 60, seed)));
  }
}

TEST(ScenarioGenerate, CalibrationPreset) {
  sg::ScenarioSpec spec = sg::ScenarioSpec::calm_calibration_candidate();
  EXPECT_EQ(spec.n_symbols, 4u);
  EXPECT_EQ(spec.n_days, 120u);
  EXPECT_EQ(spec.distribution_mode, sg::DistributionMode::kCalm);
  EXPECT_EQ(spec.vol_clustering, 0.5);
  EXPECT_EQ(spec.jump_burst_probability, 0.02);
  EXPECT_EQ(spec.jump_burst_persistence, 0.0);
  EXPECT_EQ(spec.jump_burst_size, 0.015);
  EXPECT_FALSE(spec.is_plain_calm());
}

}  // namespace
