#include "stats/significance.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "stats/deflated_sharpe.hpp"
#include "stats/moments.hpp"

namespace talmoor_stats::significance {
namespace {

constexpr std::uint64_t kPvalueStreamSalt = 0x5DEECE66D8B42A57ULL;
constexpr std::uint64_t kIntervalStreamSalt = 0x0DEF1A7ED5B007C1ULL;

// Truncation toward zero that saturates: negative (and NaN) gives 0, values
// beyond the 64-bit range give the largest value.
std::uint64_t truncate_to_u64(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(v);
}

std::size_t clamp_index(std::uint64_t i, std::size_t n) {
  return static_cast<std::size_t>(std::min<std::uint64_t>(i, n - 1));
}

// Walks one stationary-bootstrap resample, handing each element to `take` in
// order. The continue-or-jump decision is drawn after every element, the last
// one included, so the next resample starts where this one's draws end.
template <class Take>
void walk_resample(Series x, support::SplitMix64& rng, double block_prob, Take take) {
  std::size_t n = x.size();
  std::size_t t = next_index(rng, n);
  for (std::size_t k = 0; k < n; ++k) {
    take(x[t]);
    if (rng.next_f64() < block_prob) {
      t = next_index(rng, n);
    } else {
      t = t + 1 == n ? 0 : t + 1;
    }
  }
}

bool is_valid_block_prob(double p) { return std::isfinite(p) && p > 0.0 && p <= 1.0; }
bool is_valid_ci(double ci) { return std::isfinite(ci) && ci >= 0.0 && ci <= 1.0; }

StatisticalError invalid_block_prob() {
  return StatisticalError::invalid_parameter("block_prob", "must be finite and in (0, 1]");
}

std::size_t first_non_finite(Series x) {
  std::size_t i = 0;
  while (i < x.size() && std::isfinite(x[i])) ++i;
  return i;
}

// Population standard deviation of the replicates, in replicate order.
double replicate_spread(std::span<const double> d) {
  double m = moments::mean(d);
  double s = -0.0;
  for (double v : d) {
    double dev = v - m;
    s += dev * dev;
  }
  return std::sqrt(s / static_cast<double>(d.size()));
}

}  // namespace

std::size_t next_index(support::SplitMix64& rng, std::size_t n) {
  double v = rng.next_f64() * static_cast<double>(n);
  return clamp_index(truncate_to_u64(v), n);
}

void stationary_resample(Series x, support::SplitMix64& rng, double block_prob,
                         std::vector<double>& out) {
  out.resize(x.size());
  std::size_t k = 0;
  walk_resample(x, rng, block_prob, [&](double v) { out[k++] = v; });
}

support::Result<double, StatisticalError> bootstrap_pvalue(Series x, std::uint64_t seed,
                                                           std::size_t n_boot,
                                                           double block_prob) {
  std::size_t n = x.size();
  if (n == 0) return support::err(StatisticalError::insufficient_observations(2, 0));
  if (std::size_t i = first_non_finite(x); i < n) {
    return support::err(StatisticalError::non_finite_observation(i));
  }
  if (n == 1) return support::err(StatisticalError::insufficient_observations(2, 1));
  if (n_boot == 0) {
    return support::err(StatisticalError::invalid_parameter("n_boot", "must be positive"));
  }
  if (!is_valid_block_prob(block_prob)) return support::err(invalid_block_prob());
  double m = moments::mean(x);
  if (!std::isfinite(m)) {
    return support::err(StatisticalError::non_finite_statistic("observed mean"));
  }
  if (m <= 0.0) return 1.0;

  support::SplitMix64 rng(seed ^ kPvalueStreamSalt);
  double n_as_double = static_cast<double>(n);
  std::size_t extreme = 0;
  for (std::size_t b = 0; b < n_boot; ++b) {
    // The centred sum needs no resample buffer: it is accumulated in draw order.
    double s = 0.0;
    walk_resample(x, rng, block_prob, [&](double v) { s += v - m; });
    if (!std::isfinite(s)) {
      return support::err(StatisticalError::non_finite_statistic("bootstrap sum"));
    }
    if (m <= s / n_as_double) ++extreme;
  }
  return (static_cast<double>(extreme) + 1.0) / (static_cast<double>(n_boot) + 1.0);
}

support::Result<DsrInterval, StatisticalError> bootstrap_dsr_ci_against_null(
    Series x, std::uint32_t n_trials, std::uint64_t seed, std::size_t n_boot,
    double null_mean_sharpe, double trials_sr_std, double block_prob, double ci) {
  std::size_t n = x.size();
  if (std::size_t i = first_non_finite(x); i < n) {
    return support::err(StatisticalError::non_finite_observation(i));
  }
  if (!std::isfinite(null_mean_sharpe)) {
    return support::err(
        StatisticalError::invalid_parameter("null_mean_sharpe", "must be finite"));
  }
  if (!std::isfinite(trials_sr_std) || trials_sr_std < 0.0) {
    return support::err(
        StatisticalError::invalid_parameter("trials_sr_std", "must be finite and non-negative"));
  }
  if (!is_valid_block_prob(block_prob)) return support::err(invalid_block_prob());
  if (!is_valid_ci(ci)) {
    return support::err(StatisticalError::invalid_parameter("ci", "must be finite and in [0, 1]"));
  }
  if (n < 2) return support::err(StatisticalError::insufficient_observations(2, n));
  if (n_boot == 0) {
    return support::err(StatisticalError::invalid_parameter("n_boot", "must be positive"));
  }
  auto point = deflated_sharpe::deflated_sharpe_ratio_against_null(x, n_trials,
                                                                    null_mean_sharpe,
                                                                    trials_sr_std);
  if (!point.ok()) return support::err(point.error());

  support::SplitMix64 rng(seed ^ kIntervalStreamSalt);
  std::vector<double> resample(n);
  std::vector<double> replicates;
  replicates.reserve(n_boot);
  for (std::size_t b = 0; b < n_boot; ++b) {
    stationary_resample(x, rng, block_prob, resample);
    auto d = deflated_sharpe::deflated_sharpe_ratio_against_null(resample, n_trials,
                                                                  null_mean_sharpe,
                                                                  trials_sr_std);
    if (!d.ok()) return support::err(d.error());
    replicates.push_back(d.value());
  }

  DsrInterval out{point.value(), replicate_spread(replicates), 0.0, 0.0};
  std::sort(replicates.begin(), replicates.end());
  double count = static_cast<double>(n_boot);
  double a = (1.0 - ci) * 0.5;
  std::size_t lower = clamp_index(truncate_to_u64(a * count), n_boot);
  std::uint64_t ceiling = truncate_to_u64(std::ceil((1.0 - a) * count));
  std::size_t upper = clamp_index(ceiling == 0 ? 0 : ceiling - 1, n_boot);
  // At ci = 0 with an even count the two indices cross (lower = B/2, upper =
  // B/2 - 1); taking them in order keeps lo <= hi: the two middle replicates.
  out.lo = replicates[std::min(lower, upper)];
  out.hi = replicates[std::max(lower, upper)];
  return out;
}

}  // namespace talmoor_stats::significance
