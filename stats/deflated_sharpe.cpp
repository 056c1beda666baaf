#include "stats/deflated_sharpe.hpp"

#include <cmath>

namespace talmoor_stats::deflated_sharpe {
namespace {

constexpr double kEulerGamma = 0.5772156649015329;
constexpr double kOneMinusEulerGamma = 0.42278433509846713;
constexpr double kMinusE = -2.718281828459045;
// Floor of the PSR variance term, so a negative or zero term cannot divide by zero.
constexpr double kMinPsrVariance = 1e-12;

bool is_valid_spread(double sr_std) { return std::isfinite(sr_std) && !(sr_std < 0.0); }

StatisticalError invalid_spread() {
  return StatisticalError::invalid_parameter("trials_sr_std", "must be finite and non-negative");
}

// ((g4 - 1) * 0.25 * SR) * SR + (1 - g3 * SR), the variance term of the PSR.
double psr_variance(double w, double sr, double skewness) {
  return w * sr * sr + (1.0 - skewness * sr);
}

double psr_z(std::size_t n, double sr, double benchmark, double variance) {
  double num = std::sqrt(static_cast<double>(n - 1)) * (sr - benchmark);
  return num / std::sqrt(std::fmax(variance, kMinPsrVariance));
}

}  // namespace

double sharpe_ratio(const moments::SeriesMoments& m) {
  if (m.sample_variance == 0.0) return 0.0;
  return m.mean / std::sqrt(m.sample_variance);
}

double sharpe_ratio(Series x) {
  if (x.size() < 2) return 0.0;
  return sharpe_ratio(moments::series_moments(x));
}

double probabilistic_sharpe_ratio(const moments::SeriesMoments& m, std::size_t n,
                                  double benchmark_sharpe) {
  if (n < 2) return 0.0;
  double sr = sharpe_ratio(m);
  double w = m.m2 == 0.0 ? 0.5 : (m.kurtosis - 1.0) * 0.25;
  double a = psr_variance(w, sr, m.skewness);
  return moments::norm_cdf(psr_z(n, sr, benchmark_sharpe, a));
}

double probabilistic_sharpe_ratio(Series x, double benchmark_sharpe) {
  if (x.size() < 2) return 0.0;
  return probabilistic_sharpe_ratio(moments::series_moments(x), x.size(), benchmark_sharpe);
}

support::Result<double, StatisticalError> expected_max_sharpe(std::uint32_t n_trials,
                                                              double trials_sr_std) {
  if (!is_valid_spread(trials_sr_std)) return support::err(invalid_spread());
  if (n_trials < 2 || trials_sr_std == 0.0) return 0.0;
  double n = static_cast<double>(n_trials);
  double z1 = moments::norm_ppf(1.0 - 1.0 / n);
  double z2 = moments::norm_ppf(1.0 / (n * kMinusE) + 1.0);
  double e = trials_sr_std * (z2 * kEulerGamma + z1 * kOneMinusEulerGamma);
  if (!std::isfinite(e)) {
    return support::err(StatisticalError::non_finite_statistic("expected maximum Sharpe"));
  }
  return e;
}

support::Result<double, StatisticalError> deflated_sharpe_ratio_against_null(
    Series x, std::uint32_t n_trials, double null_mean_sharpe, double trials_sr_std) {
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (!std::isfinite(x[i])) return support::err(StatisticalError::non_finite_observation(i));
  }
  if (!std::isfinite(null_mean_sharpe)) {
    return support::err(
        StatisticalError::invalid_parameter("null_mean_sharpe", "must be finite"));
  }
  auto e = expected_max_sharpe(n_trials, trials_sr_std);
  if (!e.ok()) return support::err(e.error());
  double benchmark = null_mean_sharpe + e.value();
  if (!std::isfinite(benchmark)) {
    return support::err(StatisticalError::non_finite_statistic("deflation benchmark"));
  }
  std::size_t n = x.size();
  if (n < 2) return 0.0;

  auto not_finite = [](const char* name) {
    return support::err(StatisticalError::non_finite_statistic(name));
  };
  moments::SeriesMoments m = moments::series_moments(x);
  if (!std::isfinite(m.mean)) return not_finite("return mean");
  if (!std::isfinite(m.std_dev)) return not_finite("return standard deviation");
  double sr = sharpe_ratio(m);
  if (!std::isfinite(sr)) return not_finite("Sharpe ratio");
  if (!std::isfinite(m.skewness)) return not_finite("return skewness");
  if (!std::isfinite(m.kurtosis)) return not_finite("return kurtosis");
  double v = psr_variance((m.kurtosis - 1.0) * 0.25, sr, m.skewness);
  if (!std::isfinite(v)) return not_finite("PSR variance");
  double num = std::sqrt(static_cast<double>(n - 1)) * (sr - benchmark);
  if (!std::isfinite(num)) return not_finite("PSR numerator");
  double z = num / std::sqrt(std::fmax(v, kMinPsrVariance));
  if (!std::isfinite(z)) return not_finite("PSR z statistic");
  double p = moments::norm_cdf(z);
  if (!std::isfinite(p)) return not_finite("PSR probability");
  return p;
}

}  // namespace talmoor_stats::deflated_sharpe
