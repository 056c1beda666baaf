#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "evaluation/leaderboard_ci.hpp"
#include "stats/deflated_sharpe.hpp"

namespace {

namespace lci = corvane::leaderboard_ci;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class T>
std::string error_text(const support::Result<T, lci::ConfidenceError>& r) {
  return r.ok() ? std::string("<ok>") : r.error().display();
}

TEST(StatsLeaderboardTest, Quantile) {
  std::vector<double> v{4.0, 1.0, 3.0, 2.0};
  EXPECT_EQ(lci::quantile(v, 0.5), 2.5);
  EXPECT_EQ(lci::quantile(v, 0.0), 1.0);
  EXPECT_EQ(lci::quantile(v, 1.0), 4.0);
  EXPECT_EQ(lci::quantile(v, -3.0), 1.0);
  EXPECT_EQ(lci::quantile(v, 7.0), 4.0);
  EXPECT_EQ(lci::quantile(v, 0.25), 1.75);
  EXPECT_EQ(lci::quantile({}, 0.5), 0.0);
  std::vector<double> one{-2.5};
  EXPECT_EQ(lci::quantile(one, 0.9), -2.5);
  EXPECT_EQ(v, (std::vector<double>{4.0, 1.0, 3.0, 2.0}));  // sorts a copy
}

TEST(StatsLeaderboardTest, Verdicts) {
  EXPECT_EQ(lci::verdict_for(true, 0.1), "a_better");
  EXPECT_EQ(lci::verdict_for(true, -0.1), "b_better");
  EXPECT_EQ(lci::verdict_for(true, 0.0), "b_better");
  EXPECT_EQ(lci::verdict_for(false, 0.1), "tied");
  EXPECT_EQ(lci::verdict_for(false, -0.1), "tied");
}

TEST(StatsLeaderboardTest, KernelTrialsSaturate) {
  EXPECT_EQ(lci::kernel_trials(0), 50u);
  EXPECT_EQ(lci::kernel_trials(4294967245u), 4294967295u);
  EXPECT_EQ(lci::kernel_trials(4294967246u), 4294967295u);
  EXPECT_EQ(lci::kernel_trials(4294967295u), 4294967295u);
}

TEST(StatsLeaderboardTest, CheckedDsrRefusals) {
  std::vector<double> fine{0.01, -0.02, 0.03};
  EXPECT_EQ(error_text(lci::checked_dsr(fine, 10, -1.0)),
            "trials_sr_std must be finite and nonnegative");
  EXPECT_EQ(error_text(lci::checked_dsr(fine, 10, kNaN)),
            "trials_sr_std must be finite and nonnegative");
  EXPECT_EQ(error_text(lci::checked_dsr(fine, 0, kInf)),
            "trials_sr_std must be finite and nonnegative");
  EXPECT_EQ(error_text(lci::checked_dsr(fine, 0, 0.1)), "n_trials must be at least one");
  std::vector<double> huge{1e200, -1e200};
  EXPECT_EQ(error_text(lci::checked_dsr(huge, 10, 0.1)), "seed-bootstrap statistic is not finite");
  std::vector<double> with_nan{0.1, kNaN};
  EXPECT_EQ(error_text(lci::checked_dsr(with_nan, 10, 0.1)),
            "seed-bootstrap statistic is not finite");
  EXPECT_EQ(error_text(lci::checked_dsr(fine, 10, 1.5e308)),
            "seed-bootstrap statistic is not finite");
  // Short series: the neutral moments, a DSR of 0.0.
  EXPECT_EQ(lci::checked_dsr(std::vector<double>{0.3}, 10, 0.1).value(), 0.0);
  EXPECT_EQ(lci::checked_dsr({}, 1, 0.1).value(), 0.0);
}

// The leaderboard's DSR must be the kernel's (zero null mean) bit for bit,
// so that an interval brackets the score's point value.
TEST(StatsLeaderboardTest, CheckedDsrIsTheKernelsDeflatedSharpe) {
  std::vector<std::vector<double>> cases{
      {0.01, -0.02, 0.03, 0.015, -0.004, 0.008},
      {0.5, 0.5, 0.5, 0.5},
      std::vector<double>(3, 0.1),
      {-0.01, -0.02, 0.005, -0.03},
  };
  for (const auto& x : cases) {
    for (std::uint32_t n : {1u, 2u, 50u, 4294967295u}) {
      for (double s : {0.0, 0.5 / std::sqrt(252.0), 0.2}) {
        EXPECT_EQ(lci::checked_dsr(x, n, s).value(),
                  talmoor_stats::deflated_sharpe::deflated_sharpe_ratio_against_null(x, n, 0.0, s)
                      .value())
            << x.size() << " " << n << " " << s;
      }
    }
  }
}

TEST(StatsLeaderboardTest, ZeroTrialsReachTheEngineOnlyDirectly) {
  std::vector<std::vector<double>> band{{0.01, 0.02}, {0.03, -0.01}};
  EXPECT_EQ(error_text(lci::bootstrap_dsr_ci(band, 0, 10, 1, 0.5, 252.0, 0.05)),
            "n_trials must be at least one");
  EXPECT_EQ(error_text(lci::paired_dsr_diff(band, band, 0, 0.5, 252.0, 0.05, 10, 1)),
            "n_trials must be at least one");
  EXPECT_EQ(error_text(lci::bootstrap_dsr_ci(band, 50, 10, 1, -0.5, 252.0, 0.05)),
            "trials_sr_std must be finite and nonnegative");
}

TEST(StatsLeaderboardTest, JsonFieldOrder) {
  EXPECT_EQ(lci::to_json(lci::DsrCi{0.5, 0.25, 0.75, 0.5, 0.95, 2000}),
            R"({"point":0.5,"lo":0.25,"hi":0.75,"width":0.5,"confidence":0.95,"n_boot":2000})");
  EXPECT_EQ(lci::to_json(lci::PairedDiff{-0.1, -0.2, 1e-7, 0.5, 0.9, false, "tied", 7}),
            R"({"point_diff":-0.1,"lo":-0.2,"hi":1e-7,"p_value":0.5,"confidence":0.9,)"
            R"("significant":false,"verdict":"tied","n_boot":7})");
}

}  // namespace
