#pragma once
// Moments and the normal distribution. Every sum runs left to right in index
// order from -0.0, and every formula keeps its operation order: the outputs
// are fingerprinted, so a reordered sum is a behaviour change.
//
// All functions are lenient: degenerate input gives a fixed neutral value and
// non-finite input propagates (except sortino_ratio, which gives nullopt).

#include <optional>
#include <span>

namespace talmoor_stats::moments {

using Series = std::span<const double>;

// Left-to-right sum from -0.0.
double sum(Series x);
// 0.0 for an empty series.
double mean(Series x);
// Sample variance (n - 1); 0.0 below two values.
double variance(Series x);
double std_dev(Series x);
// Population skewness; 0.0 below two values or for zero spread.
double skewness(Series x);
// Raw (not excess) population kurtosis; 3.0 below two values or for zero spread.
double kurtosis(Series x);
// sqrt(sum(min(x - target, 0)^2) / n); 0.0 below two values.
double downside_deviation(Series x, double target);
// (mean - target) / downside deviation; nullopt for a non-finite target, fewer
// than two values, any non-finite value, or no value below the target.
std::optional<double> sortino_ratio(Series x, double target);

// Abramowitz and Stegun 7.1.26 (norm_cdf(0) is 0.5000000005, not 0.5).
double norm_cdf(double z);
// Acklam's rational approximation without refinement; -inf at p <= 0, +inf at p >= 1.
double norm_ppf(double p);

// The moments a deflated Sharpe ratio needs, computed with exactly the
// operations of the single functions above (so each field is bit-identical to
// its function) but with the mean and the squared deviations formed once.
struct SeriesMoments {
  double mean;
  double sample_variance;  // sum(d^2) / (n - 1); 0.0 below two values
  double std_dev;          // sqrt(sample_variance)
  double m2;               // sum(d^2) / n; 0.0 below two values
  double skewness;
  double kurtosis;
};
SeriesMoments series_moments(Series x);

}  // namespace talmoor_stats::moments
