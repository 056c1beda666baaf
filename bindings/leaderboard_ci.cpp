#include "bindings/args.hpp"
#include "bindings/errors.hpp"
#include "bindings/registry.hpp"
#include "evaluation/leaderboard_ci.hpp"

namespace bindings {
namespace {

namespace lci = corvane::leaderboard_ci;

constexpr std::uint64_t kDefaultNBoot = 2000;
constexpr std::uint64_t kDefaultResampleSeed = 1537679398;
constexpr double kDefaultAlpha = 0.05;
constexpr double kDefaultPeriodsPerYear = 252.0;

// The arguments both functions share after their seed bands, converted in
// signature order.
struct IntervalArgs {
  std::uint32_t n_trials;
  std::uint64_t n_boot;
  std::uint64_t resample_seed;
  double alpha;
  double periods_per_year;
};

IntervalArgs interval_args(const CallArgs& a, std::size_t first) {
  IntervalArgs out;
  out.n_trials = a.given(first) ? to_unsigned<std::uint32_t>(a[first], "n_trials") : 0;
  out.n_boot = a.given(first + 1) ? to_u64(a[first + 1], "n_boot") : kDefaultNBoot;
  out.resample_seed =
      a.given(first + 2) ? to_u64(a[first + 2], "resample_seed") : kDefaultResampleSeed;
  out.alpha = a.given(first + 3) ? to_f64(a[first + 3], "alpha") : kDefaultAlpha;
  out.periods_per_year =
      a.given(first + 4) ? to_f64(a[first + 4], "periods_per_year") : kDefaultPeriodsPerYear;
  return out;
}

py::object bootstrap_dsr_ci(const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("bootstrap_dsr_ci",
             {{"per_seed_returns", true},
              {"n_trials", false},
              {"n_boot", false},
              {"resample_seed", false},
              {"alpha", false},
              {"periods_per_year", false}},
             args, kwargs);
  std::vector<std::vector<double>> band = to_f64_list_list(a[0], "per_seed_returns");
  IntervalArgs p = interval_args(a, 1);
  auto ci = lci::bootstrap_dsr_ci(band, lci::kernel_trials(p.n_trials), p.n_boot,
                                  p.resample_seed, lci::kTrialsSrStdAnnualized,
                                  p.periods_per_year, p.alpha);
  if (!ci.ok()) raise_engine_err(kInvalidArgument, ci.error());
  return py::str(lci::to_json(ci.value()));
}

py::object paired_dsr_diff(const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("paired_dsr_diff",
             {{"a_per_seed_returns", true},
              {"b_per_seed_returns", true},
              {"n_trials", false},
              {"n_boot", false},
              {"resample_seed", false},
              {"alpha", false},
              {"periods_per_year", false}},
             args, kwargs);
  std::vector<std::vector<double>> a_band = to_f64_list_list(a[0], "a_per_seed_returns");
  std::vector<std::vector<double>> b_band = to_f64_list_list(a[1], "b_per_seed_returns");
  IntervalArgs p = interval_args(a, 2);
  auto diff = lci::paired_dsr_diff(a_band, b_band, lci::kernel_trials(p.n_trials),
                                   lci::kTrialsSrStdAnnualized, p.periods_per_year, p.alpha,
                                   p.n_boot, p.resample_seed);
  if (!diff.ok()) raise_engine_err(kInvalidArgument, diff.error());
  return py::str(lci::to_json(diff.value()));
}

}  // namespace

void register_bootstrap_dsr_ci(py::module_& m) {
  m.def("bootstrap_dsr_ci", &bootstrap_dsr_ci,
        doc_with_signature(
            "bootstrap_dsr_ci(per_seed_returns, n_trials=0, n_boot=2000, "
            "resample_seed=1537679398, alpha=0.05, periods_per_year=252.0)",
            "A confidence interval on one entry's deflated Sharpe ratio over a band of "
            "held-out seeds, as compact JSON with the keys point, lo, hi, width, confidence "
            "and n_boot.\n\n"
            "`per_seed_returns` holds one per-bar return series per seed; whole seeds are "
            "resampled with replacement. The ratio is deflated for n_trials + 50 trials with "
            "an annual cross-trial spread of 0.5, so `point` matches score_run's "
            "deflated_sharpe at the same periods_per_year. Deterministic in resample_seed.")
            .c_str());
}

void register_paired_dsr_diff(py::module_& m) {
  m.def("paired_dsr_diff", &paired_dsr_diff,
        doc_with_signature(
            "paired_dsr_diff(a_per_seed_returns, b_per_seed_returns, n_trials=0, n_boot=2000, "
            "resample_seed=1537679398, alpha=0.05, periods_per_year=252.0)",
            "A paired bootstrap test of entry A against entry B scored on the same seed band, "
            "as compact JSON with the keys point_diff, lo, hi, p_value, confidence, "
            "significant, verdict and n_boot.\n\n"
            "Both entries are resampled with the same seed indices, so their covariance on a "
            "shared path is kept. verdict is \"a_better\" or \"b_better\" when the interval "
            "of the DSR difference excludes 0, else \"tied\".")
            .c_str());
}

}  // namespace bindings
