#include "stats/moments.hpp"

#include <cmath>
#include <limits>

namespace talmoor_stats::moments {
namespace {

double as_double(std::size_t n) { return static_cast<double>(n); }

// Sum of (x - m)^2, squares formed as d * d.
double squared_deviations(Series x, double m) {
  double s = -0.0;
  for (double v : x) {
    double d = v - m;
    s += d * d;
  }
  return s;
}

// Sums of z^3 and z^4 with z = (x - m) / s; cubes as (z * z) * z, fourth
// powers as (z * z) * (z * z). Two accumulators, each in index order.
struct StandardisedSums {
  double cubes;
  double fourths;
};
StandardisedSums standardised_sums(Series x, double m, double s) {
  StandardisedSums out{-0.0, -0.0};
  for (double v : x) {
    double z = (v - m) / s;
    double z2 = z * z;
    out.cubes += z2 * z;
    out.fourths += z2 * z2;
  }
  return out;
}

// sum(min(x - target, 0)^2) / n. The clamp keeps a NaN (fmin would drop it):
// a lenient statistic of a NaN-bearing series is NaN, not a number that
// silently ignores the bad value.
double downside_second_moment(Series x, double target) {
  double s = -0.0;
  for (double v : x) {
    double d = v - target;
    if (d > 0.0) d = 0.0;
    s += d * d;
  }
  return s / as_double(x.size());
}

}  // namespace

double sum(Series x) {
  double s = -0.0;
  for (double v : x) s += v;
  return s;
}

double mean(Series x) {
  if (x.empty()) return 0.0;
  return sum(x) / as_double(x.size());
}

double variance(Series x) {
  if (x.size() < 2) return 0.0;
  return squared_deviations(x, mean(x)) / as_double(x.size() - 1);
}

double std_dev(Series x) { return std::sqrt(variance(x)); }

double skewness(Series x) {
  if (x.size() < 2) return 0.0;
  double m = mean(x);
  double m2 = squared_deviations(x, m) / as_double(x.size());
  if (m2 == 0.0) return 0.0;
  return standardised_sums(x, m, std::sqrt(m2)).cubes / as_double(x.size());
}

double kurtosis(Series x) {
  if (x.size() < 2) return 3.0;
  double m = mean(x);
  double m2 = squared_deviations(x, m) / as_double(x.size());
  if (m2 == 0.0) return 3.0;
  return standardised_sums(x, m, std::sqrt(m2)).fourths / as_double(x.size());
}

double downside_deviation(Series x, double target) {
  if (x.size() < 2) return 0.0;
  return std::sqrt(downside_second_moment(x, target));
}

std::optional<double> sortino_ratio(Series x, double target) {
  if (!std::isfinite(target) || x.empty()) return std::nullopt;
  for (double v : x) {
    if (!std::isfinite(v)) return std::nullopt;
  }
  if (x.size() == 1) return std::nullopt;
  double dd2 = downside_second_moment(x, target);
  if (dd2 == 0.0) return std::nullopt;
  return (mean(x) - target) / std::sqrt(dd2);
}

double norm_cdf(double x) {
  double z = x / 1.4142135623730951;
  double az = std::fabs(z);
  double t = 1.0 / (1.0 + 0.3275911 * az);
  double poly =
      ((((1.061405429 * t - 1.453152027) * t + 1.421413741) * t - 0.284496736) * t +
       0.254829592) *
      t;
  double y = 1.0 - poly * std::exp(-az * az);
  if (z < 0.0) y = -y;
  return (y + 1.0) * 0.5;
}

namespace {

constexpr double kA1 = -39.69683028665376, kA2 = 220.9460984245205, kA3 = -275.9285104469687,
                 kA4 = 138.357751867269, kA5 = -30.66479806614716, kA6 = 2.506628277459239;
constexpr double kB1 = -54.47609879822406, kB2 = 161.5858368580409, kB3 = -155.6989798598866,
                 kB4 = 66.80131188771972, kB5 = -13.28068155288572;
constexpr double kC1 = -0.007784894002430293, kC2 = -0.3223964580411365,
                 kC3 = -2.400758277161838, kC4 = -2.549732539343734, kC5 = 4.374664141464968,
                 kC6 = 2.938163982698783;
constexpr double kD1 = 0.007784695709041462, kD2 = 0.3224671290700398, kD3 = 2.445134137142996,
                 kD4 = 3.754408661907416;
constexpr double kLowRegion = 0.02425;
constexpr double kHighRegion = 0.97575;

// The tail expression in q = sqrt(-2 ln p) (lower tail; the upper negates it).
double tail(double q) {
  return (((((kC1 * q + kC2) * q + kC3) * q + kC4) * q + kC5) * q + kC6) /
         ((((kD1 * q + kD2) * q + kD3) * q + kD4) * q + 1.0);
}

}  // namespace

double norm_ppf(double p) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  if (p <= 0.0) return -kInf;
  if (p >= 1.0) return kInf;
  if (p < kLowRegion) return tail(std::sqrt(-2.0 * std::log(p)));
  if (p <= kHighRegion) {
    double q = p - 0.5;
    double r = q * q;
    return (((((kA1 * r + kA2) * r + kA3) * r + kA4) * r + kA5) * r + kA6) * q /
           (((((kB1 * r + kB2) * r + kB3) * r + kB4) * r + kB5) * r + 1.0);
  }
  // Also reached by NaN, which stays NaN.
  return -tail(std::sqrt(-2.0 * std::log(1.0 - p)));
}

SeriesMoments series_moments(Series x) {
  SeriesMoments out{mean(x), 0.0, 0.0, 0.0, 0.0, 3.0};
  std::size_t n = x.size();
  if (n < 2) return out;
  double ss = squared_deviations(x, out.mean);
  out.sample_variance = ss / as_double(n - 1);
  out.std_dev = std::sqrt(out.sample_variance);
  out.m2 = ss / as_double(n);
  if (out.m2 != 0.0) {
    StandardisedSums z = standardised_sums(x, out.mean, std::sqrt(out.m2));
    out.skewness = z.cubes / as_double(n);
    out.kurtosis = z.fourths / as_double(n);
  }
  return out;
}

}  // namespace talmoor_stats::moments
