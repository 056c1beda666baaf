#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "stats/deflated_sharpe.hpp"
#include "stats/moments.hpp"
#include "stats/selection.hpp"
#include "stats/significance.hpp"
#include "stats/validation.hpp"
#include "support/splitmix64.hpp"

namespace {

namespace moments = talmoor_stats::moments;
namespace ds = talmoor_stats::deflated_sharpe;
namespace sig = talmoor_stats::significance;
using talmoor_stats::selection::selection_robustness;
using talmoor_stats::validation::StatisticalError;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

#include "tests/native/stats_reference_table.inc"

// Fingerprints of the two bootstraps on a fixed series; computed once from
// this implementation after checking it, they change only if the draw order or
// an operation order changes.
constexpr double kPinnedPvalue = 0.0014992503748125937;
constexpr sig::DsrInterval kPinnedInterval{0.8683961049429607, 0.0785715898959468,
                                           0.7039072378555243, 0.980479891345199};

template <class T>
std::string error_text(const support::Result<T, StatisticalError>& r) {
  return r.ok() ? std::string("<ok>") : r.error().display();
}

TEST(StatsErrorTest, DisplayTexts) {
  EXPECT_EQ(StatisticalError::non_finite_observation(3).display(), "observation 3 must be finite");
  EXPECT_EQ(StatisticalError::invalid_parameter("n_boot", "must be positive").display(),
            "n_boot must be positive");
  EXPECT_EQ(StatisticalError::insufficient_observations(2, 0).display(),
            "at least 2 observations are required, got 0");
  EXPECT_EQ(StatisticalError::non_finite_statistic("Sharpe ratio").display(),
            "Sharpe ratio is not finite");
}

TEST(StatsMomentsTest, DegenerateSeriesGiveNeutralValues) {
  std::vector<double> empty;
  std::vector<double> one{0.7};
  EXPECT_EQ(moments::mean(empty), 0.0);
  EXPECT_EQ(moments::mean(one), 0.7);
  for (double v : {moments::variance(one), moments::std_dev(one), ds::sharpe_ratio(one),
                   ds::probabilistic_sharpe_ratio(one, 0.0), moments::skewness(one),
                   moments::downside_deviation(one, 0.0)}) {
    EXPECT_EQ(v, 0.0);
  }
  EXPECT_EQ(moments::kurtosis(one), 3.0);
  EXPECT_EQ(moments::kurtosis(empty), 3.0);

  std::vector<double> halves(4, 0.5);
  EXPECT_EQ(moments::variance(halves), 0.0);
  EXPECT_EQ(moments::skewness(halves), 0.0);
  EXPECT_EQ(moments::kurtosis(halves), 3.0);
  EXPECT_EQ(ds::sharpe_ratio(halves), 0.0);
}

// 0.1 has no exact binary form, so three of them do not average to 0.1 and
// the spread is tiny but not zero; no tolerance may hide that.
TEST(StatsMomentsTest, ThreeTenthsAreNotAConstantSeries) {
  std::vector<double> x(3, 0.1);
  EXPECT_EQ(moments::sum(x), 0.30000000000000004);
  EXPECT_EQ(moments::mean(x), 0.10000000000000002);
  EXPECT_EQ(moments::variance(x), 2.8888949165808538e-34);
  EXPECT_EQ(ds::sharpe_ratio(x), 5883477916184627.0);
}

TEST(StatsMomentsTest, SumStartsFromNegativeZero) {
  std::vector<double> zeros{-0.0, -0.0};
  EXPECT_TRUE(std::signbit(moments::sum(zeros)));
  EXPECT_TRUE(std::signbit(moments::sum({})));
}

TEST(StatsMomentsTest, SkewnessAndKurtosisMatchScipy) {
  for (const MomentCase& c : kScipyMoments) {
    EXPECT_NEAR(moments::skewness(c.x), c.skewness, 1e-12 * std::fabs(c.skewness)) << c.x[0];
    EXPECT_NEAR(moments::kurtosis(c.x), c.kurtosis, 1e-12 * std::fabs(c.kurtosis)) << c.x[0];
    moments::SeriesMoments m = moments::series_moments(c.x);
    EXPECT_EQ(m.skewness, moments::skewness(c.x));
    EXPECT_EQ(m.kurtosis, moments::kurtosis(c.x));
    EXPECT_EQ(m.std_dev, moments::std_dev(c.x));
  }
}

TEST(StatsMomentsTest, SortinoAndDownsideDeviation) {
  std::vector<double> above{0.01, 0.02, 0.03};
  EXPECT_FALSE(moments::sortino_ratio(above, 0.0).has_value());
  EXPECT_EQ(moments::downside_deviation(above, 0.0), 0.0);
  std::vector<double> x{0.02, -0.01, 0.03, -0.02};
  // Downside squares 0.0001 and 0.0004 over four values.
  EXPECT_EQ(moments::downside_deviation(x, 0.0), std::sqrt((0.0001 + 0.0004) / 4.0));
  ASSERT_TRUE(moments::sortino_ratio(x, 0.0).has_value());
  EXPECT_EQ(*moments::sortino_ratio(x, 0.0), moments::mean(x) / std::sqrt((0.0001 + 0.0004) / 4.0));
  for (auto series : {std::vector<double>{}, std::vector<double>{-0.1},
                      std::vector<double>{-0.1, kNaN}, std::vector<double>{-0.1, kInf}}) {
    EXPECT_FALSE(moments::sortino_ratio(series, 0.0).has_value()) << series.size();
  }
  EXPECT_TRUE(std::isnan(moments::downside_deviation(std::vector<double>{0.1, kNaN}, 0.0)));
  EXPECT_EQ(moments::downside_deviation(std::vector<double>{kInf, 0.1}, 0.0), 0.0);
  EXPECT_EQ(moments::downside_deviation(std::vector<double>{-kInf, 0.1}, 0.0), kInf);
  EXPECT_FALSE(moments::sortino_ratio(x, kNaN).has_value());
  EXPECT_FALSE(moments::sortino_ratio(x, kInf).has_value());
}

TEST(StatsNormalTest, ExactValues) {
  EXPECT_EQ(moments::norm_cdf(0.0), 0.5000000005);
  EXPECT_EQ(moments::norm_cdf(-0.0), 0.5000000005);
  EXPECT_EQ(moments::norm_cdf(1.0), 0.8413447361676363);
  EXPECT_EQ(moments::norm_cdf(-1.0), 0.15865526383236372);
  EXPECT_EQ(moments::norm_ppf(0.5), 0.0);
  EXPECT_EQ(moments::norm_ppf(0.0), -kInf);
  EXPECT_EQ(moments::norm_ppf(-1.0), -kInf);
  EXPECT_EQ(moments::norm_ppf(1.0), kInf);
  EXPECT_EQ(moments::norm_ppf(2.0), kInf);
  EXPECT_TRUE(std::isnan(moments::norm_ppf(kNaN)));
}

// Both boundaries belong to the central region: they must give the central
// expression's value, which differs from the tail expression's there.
TEST(StatsNormalTest, RegionBoundariesAreCentral) {
  auto central = [](double p) {
    double q = p - 0.5;
    double r = q * q;
    return (((((-39.69683028665376 * r + 220.9460984245205) * r - 275.9285104469687) * r +
              138.357751867269) * r - 30.66479806614716) * r + 2.506628277459239) * q /
           (((((-54.47609879822406 * r + 161.5858368580409) * r - 155.6989798598866) * r +
              66.80131188771972) * r - 13.28068155288572) * r + 1.0);
  };
  EXPECT_EQ(moments::norm_ppf(0.02425), central(0.02425));
  EXPECT_EQ(moments::norm_ppf(0.97575), central(0.97575));
  EXPECT_NE(moments::norm_ppf(std::nextafter(0.02425, 0.0)), central(std::nextafter(0.02425, 0.0)));
}

TEST(StatsNormalTest, MatchesScipy) {
  for (const CdfCase& c : kScipyNormCdf) {
    EXPECT_NEAR(moments::norm_cdf(c.z), c.expected, 1.5e-7) << c.z;
  }
  for (const PpfCase& c : kScipyNormPpf) {
    EXPECT_NEAR(moments::norm_ppf(c.p), c.expected, 1.2e-9 * std::fabs(c.expected)) << c.p;
  }
}

TEST(StatsDeflatedSharpeTest, ExpectedMaxSharpe) {
  EXPECT_EQ(ds::expected_max_sharpe(1, 0.5).value(), 0.0);
  EXPECT_EQ(ds::expected_max_sharpe(0, 0.5).value(), 0.0);
  EXPECT_EQ(ds::expected_max_sharpe(10, 0.0).value(), 0.0);
  EXPECT_EQ(ds::expected_max_sharpe(10, -0.0).value(), 0.0);
  for (double bad : {-1.0, kNaN, kInf, -kInf}) {
    EXPECT_EQ(error_text(ds::expected_max_sharpe(10, bad)),
              "trials_sr_std must be finite and non-negative")
        << bad;
  }
  // Grows with the number of trials, in proportion to the spread.
  double e10 = ds::expected_max_sharpe(10, 1.0).value();
  EXPECT_GT(ds::expected_max_sharpe(100, 1.0).value(), e10);
  EXPECT_EQ(ds::expected_max_sharpe(10, 2.0).value(), 2.0 * e10);
  EXPECT_NEAR(e10, 1.5745, 1e-3);
  EXPECT_TRUE(ds::expected_max_sharpe(4294967295u, 1.0).ok());
}

TEST(StatsDeflatedSharpeTest, ChecksInOrder) {
  std::vector<double> nan_at_3{0.1, 0.2, 0.3, kNaN, 0.5};
  std::vector<double> fine{0.01, -0.02, 0.03, 0.015};
  struct Case {
    std::vector<double> x;
    double null_mean;
    double sr_std;
    const char* text;
  };
  for (const Case& c : std::vector<Case>{
           {nan_at_3, kNaN, -1.0, "observation 3 must be finite"},
           {{kInf}, 0.0, 0.1, "observation 0 must be finite"},
           {fine, kNaN, -1.0, "null_mean_sharpe must be finite"},
           {fine, kInf, 0.1, "null_mean_sharpe must be finite"},
           {fine, 0.0, -1.0, "trials_sr_std must be finite and non-negative"},
           {fine, 1e308, 1e308, "deflation benchmark is not finite"},
           {{1e308, -1e308, 1e308, 1e308}, 0.0, 0.1, "return mean is not finite"},
           {{1e200, -1e200}, 0.0, 0.1, "return standard deviation is not finite"},
       }) {
    EXPECT_EQ(error_text(ds::deflated_sharpe_ratio_against_null(c.x, 10, c.null_mean, c.sr_std)),
              c.text);
  }
  EXPECT_EQ(ds::deflated_sharpe_ratio_against_null(std::vector<double>{0.4}, 10, 0.0, 0.1).value(),
            0.0);
  EXPECT_EQ(ds::deflated_sharpe_ratio_against_null({}, 10, 0.0, 0.1).value(), 0.0);
}

TEST(StatsDeflatedSharpeTest, ConstantSeriesIsCdfOfScaledBenchmark) {
  std::vector<double> halves(5, 0.5);
  double e = ds::expected_max_sharpe(20, 0.1).value();
  double b = 0.05 + e;
  EXPECT_EQ(ds::deflated_sharpe_ratio_against_null(halves, 20, 0.05, 0.1).value(),
            moments::norm_cdf(-(std::sqrt(4.0) * b)));
}

// With a zero null mean and at least two trials the deflated ratio is the
// lenient PSR against the expected maximum, bit for bit.
TEST(StatsDeflatedSharpeTest, AgreesWithPsrAgainstExpectedMaximum) {
  for (const MomentCase& c : kScipyMoments) {
    double e = ds::expected_max_sharpe(50, 0.03).value();
    EXPECT_EQ(ds::deflated_sharpe_ratio_against_null(c.x, 50, 0.0, 0.03).value(),
              ds::probabilistic_sharpe_ratio(c.x, e));
  }
  std::vector<double> positive{0.01, 0.02, 0.015, -0.005, 0.012};
  double psr = ds::probabilistic_sharpe_ratio(positive, 0.0);
  EXPECT_GT(psr, 0.5);
  EXPECT_LT(ds::deflated_sharpe_ratio_against_null(positive, 1000, 0.0, 0.5).value(), psr);
}

// The p-value's stream with block_prob 1: every element is a fresh index, and
// each element's jump decision is drawn before the next index.
TEST(StatsBootstrapTest, ResampleDrawOrder) {
  std::vector<double> x{0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0};
  const std::size_t n = x.size();
  support::SplitMix64 rng(99);
  std::vector<double> out;
  sig::stationary_resample(x, rng, 1.0, out);
  support::SplitMix64 ref(99);
  for (std::size_t k = 0; k < n; ++k) {
    double expected = std::floor(ref.next_f64() * static_cast<double>(n));
    EXPECT_EQ(out[k], expected) << k;
    ref.next();  // the decision, always a jump
  }
  ref.next();  // the jump after the last element still draws its index
  EXPECT_EQ(rng.state, ref.state);  // 1 + 2n draws

  // With a negligible jump probability the resample is one wrapped block of
  // n + 1 draws.
  support::SplitMix64 block_rng(5);
  sig::stationary_resample(x, block_rng, 1e-300, out);
  support::SplitMix64 block_ref(5);
  std::size_t start = static_cast<std::size_t>(block_ref.next_f64() * static_cast<double>(n));
  for (std::size_t k = 0; k < n; ++k) EXPECT_EQ(out[k], static_cast<double>((start + k) % n));
  for (std::size_t k = 0; k < n; ++k) block_ref.next();
  EXPECT_EQ(block_rng.state, block_ref.state);
}

TEST(StatsBootstrapTest, NextIndexStaysBelowLength) {
  support::SplitMix64 rng(1);
  for (int i = 0; i < 1000; ++i) EXPECT_LT(sig::next_index(rng, 3), 3u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(sig::next_index(rng, 1), 0u);
}

TEST(StatsBootstrapTest, PvalueChecksInOrder) {
  struct Case {
    std::vector<double> x;
    std::size_t n_boot;
    double block_prob;
    const char* text;
  };
  std::vector<double> fine{0.01, 0.02, -0.01};
  for (const Case& c : std::vector<Case>{
           {{}, 0, 0.0, "at least 2 observations are required, got 0"},
           {{0.1, kNaN}, 0, 0.0, "observation 1 must be finite"},
           {{0.1}, 0, 0.0, "at least 2 observations are required, got 1"},
           {fine, 0, 0.0, "n_boot must be positive"},
           {fine, 10, 0.0, "block_prob must be finite and in (0, 1]"},
           {fine, 10, -0.5, "block_prob must be finite and in (0, 1]"},
           {fine, 10, 1.0000000000000002, "block_prob must be finite and in (0, 1]"},
           {fine, 10, kNaN, "block_prob must be finite and in (0, 1]"},
           {{1e308, 1e308}, 10, 0.5, "observed mean is not finite"},
       }) {
    EXPECT_EQ(error_text(sig::bootstrap_pvalue(c.x, 7, c.n_boot, c.block_prob)), c.text);
  }
}

TEST(StatsBootstrapTest, PvalueValues) {
  for (std::uint64_t seed : {0ull, 1ull, 12345ull}) {
    EXPECT_EQ(sig::bootstrap_pvalue(std::vector<double>{0.01, -0.01}, seed, 100, 0.1).value(), 1.0);
    EXPECT_EQ(sig::bootstrap_pvalue(std::vector<double>{-0.01, -0.02}, seed, 100, 0.1).value(),
              1.0);
  }
  // Every centred deviation of three 0.1s is slightly negative, so no
  // resample is extreme: the floor 1 / (n_boot + 1).
  EXPECT_EQ(sig::bootstrap_pvalue(std::vector<double>(3, 0.1), 3, 99, 0.5).value(), 0.01);
  EXPECT_EQ(sig::bootstrap_pvalue(std::vector<double>(3, 0.1), 3, 99, 1.0).value(), 0.01);

  std::vector<double> x{0.012, -0.004, 0.007, 0.001, -0.009, 0.015, 0.003, -0.002, 0.006, 0.004};
  double p = sig::bootstrap_pvalue(x, 1537679398, 2000, 0.1).value();
  EXPECT_GE(p, 1.0 / 2001.0);
  EXPECT_LE(p, 1.0);
  EXPECT_EQ(sig::bootstrap_pvalue(x, 1537679398, 2000, 0.1).value(), p);
  EXPECT_NE(sig::bootstrap_pvalue(x, 1537679399, 2000, 0.1).value(), p);
  EXPECT_EQ(p, kPinnedPvalue);
}

TEST(StatsBootstrapTest, IntervalChecksInOrder) {
  struct Case {
    std::vector<double> x;
    double null_mean, sr_std, block_prob, ci;
    std::size_t n_boot;
    const char* text;
  };
  std::vector<double> fine{0.01, 0.02, -0.01, 0.005};
  for (const Case& c : std::vector<Case>{
           {{0.1, kNaN}, kNaN, -1.0, 0.0, 2.0, 0, "observation 1 must be finite"},
           {{}, kNaN, 0.1, 0.1, 0.9, 10, "null_mean_sharpe must be finite"},
           {{}, 0.0, kNaN, 0.1, 0.9, 10, "trials_sr_std must be finite and non-negative"},
           {{}, 0.0, 0.1, 0.0, 0.9, 10, "block_prob must be finite and in (0, 1]"},
           {{}, 0.0, 0.1, 0.1, 1.5, 10, "ci must be finite and in [0, 1]"},
           {{}, 0.0, 0.1, 0.1, kNaN, 10, "ci must be finite and in [0, 1]"},
           {{}, 0.0, 0.1, 0.1, 0.9, 0, "at least 2 observations are required, got 0"},
           {{0.1}, 0.0, 0.1, 0.1, 0.9, 0, "at least 2 observations are required, got 1"},
           {fine, 0.0, 0.1, 0.1, 0.9, 0, "n_boot must be positive"},
           {{1e200, -1e200}, 0.0, 0.1, 0.1, 0.9, 10, "return standard deviation is not finite"},
       }) {
    EXPECT_EQ(error_text(sig::bootstrap_dsr_ci_against_null(c.x, 10, 7, c.n_boot, c.null_mean,
                                                             c.sr_std, c.block_prob, c.ci)),
              c.text);
  }
}

TEST(StatsBootstrapTest, IntervalValues) {
  std::vector<double> x{0.012, -0.004, 0.007, 0.001, -0.009, 0.015, 0.003, -0.002, 0.006, 0.004};
  auto ci = sig::bootstrap_dsr_ci_against_null(x, 50, 1537679398, 2000, 0.0, 0.03, 0.1, 0.9);
  ASSERT_TRUE(ci.ok());
  const sig::DsrInterval& r = ci.value();
  EXPECT_EQ(r.point, ds::deflated_sharpe_ratio_against_null(x, 50, 0.0, 0.03).value());
  EXPECT_LE(r.lo, r.hi);
  EXPECT_GT(r.se, 0.0);
  EXPECT_EQ(r.point, kPinnedInterval.point);
  EXPECT_EQ(r.se, kPinnedInterval.se);
  EXPECT_EQ(r.lo, kPinnedInterval.lo);
  EXPECT_EQ(r.hi, kPinnedInterval.hi);

  auto other = sig::bootstrap_dsr_ci_against_null(x, 50, 1537679399, 2000, 0.0, 0.03, 0.1, 0.9);
  EXPECT_EQ(other.value().point, r.point);
  EXPECT_NE(other.value().lo, r.lo);

  // ci = 1: the extreme replicates; ci = 0: the two middle ones, in order.
  auto full = sig::bootstrap_dsr_ci_against_null(x, 50, 3, 20, 0.0, 0.03, 1.0, 1.0).value();
  auto none = sig::bootstrap_dsr_ci_against_null(x, 50, 3, 20, 0.0, 0.03, 1.0, 0.0).value();
  EXPECT_LE(full.lo, none.lo);
  EXPECT_LE(none.lo, none.hi);
  EXPECT_LE(none.hi, full.hi);
  std::vector<double> reps;
  support::SplitMix64 rng(3 ^ 0x0DEF1A7ED5B007C1ULL);
  std::vector<double> buf;
  for (int b = 0; b < 20; ++b) {
    sig::stationary_resample(x, rng, 1.0, buf);
    reps.push_back(ds::deflated_sharpe_ratio_against_null(buf, 50, 0.0, 0.03).value());
  }
  std::sort(reps.begin(), reps.end());
  EXPECT_EQ(full.lo, reps.front());
  EXPECT_EQ(full.hi, reps.back());
  EXPECT_EQ(none.lo, reps[9]);
  EXPECT_EQ(none.hi, reps[10]);
}

TEST(StatsSelectionTest, MedianAndGap) {
  std::vector<double> a{0.01, 0.02, -0.005, 0.015};
  std::vector<double> b{0.002, -0.01, 0.004, 0.001};
  std::vector<double> c{0.03, 0.01, 0.02, 0.025};
  auto dsr = [](const std::vector<double>& x) {
    return ds::deflated_sharpe_ratio_against_null(x, 10, 0.0, 0.1).value();
  };

  auto none = selection_robustness({}, 10, 0.1).value();
  EXPECT_EQ(none.candidates, 0u);
  EXPECT_EQ(none.max_dsr, 0.0);
  EXPECT_EQ(none.median_dsr, 0.0);
  EXPECT_EQ(none.gap, 0.0);

  std::vector<std::vector<double>> one{a};
  auto r1 = selection_robustness(one, 10, 0.1).value();
  EXPECT_EQ(r1.candidates, 1u);
  EXPECT_EQ(r1.max_dsr, dsr(a));
  EXPECT_EQ(r1.median_dsr, r1.max_dsr);
  EXPECT_EQ(r1.gap, 0.0);

  std::vector<std::vector<double>> two{a, b};
  auto r2 = selection_robustness(two, 10, 0.1).value();
  EXPECT_EQ(r2.median_dsr, (dsr(b) + dsr(a)) * 0.5);
  EXPECT_EQ(r2.max_dsr, std::max(dsr(a), dsr(b)));

  std::vector<std::vector<double>> three{c, b, a};
  auto r3 = selection_robustness(three, 10, 0.1).value();
  EXPECT_EQ(r3.candidates, 3u);
  EXPECT_EQ(r3.max_dsr, dsr(c));
  EXPECT_EQ(r3.median_dsr, dsr(a));
  EXPECT_EQ(r3.gap, dsr(c) - dsr(a));

  std::vector<std::vector<double>> bad{a, {0.1, 0.2, kNaN}};
  EXPECT_EQ(error_text(selection_robustness(bad, 10, 0.1)), "observation 2 must be finite");
  EXPECT_EQ(error_text(selection_robustness(two, 10, -1.0)),
            "trials_sr_std must be finite and non-negative");
}

}  // namespace
