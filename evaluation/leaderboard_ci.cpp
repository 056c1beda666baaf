#include "evaluation/leaderboard_ci.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "stats/deflated_sharpe.hpp"
#include "stats/moments.hpp"
#include "support/json_record.hpp"
#include "support/json_writer.hpp"
#include "support/splitmix64.hpp"

namespace corvane::leaderboard_ci {
namespace {

namespace moments = talmoor_stats::moments;
namespace deflated_sharpe = talmoor_stats::deflated_sharpe;

constexpr const char* kTooFewSeeds = "seed bootstrap requires at least two independent seed units";
constexpr const char* kTooFewReplicates = "n_boot must be at least two";
constexpr const char* kBadAlpha = "alpha must be finite and strictly between zero and one";
constexpr const char* kBadSpread = "trials_sr_std must be finite and nonnegative";
constexpr const char* kBadSeedSeries = "each seed requires at least two finite returns";
constexpr const char* kUnpairedBands = "paired seed bands and per-pair return lengths must match";
constexpr const char* kBadPeriods = "periods_per_year must be finite and positive";
constexpr const char* kNoTrials = "n_trials must be at least one";
constexpr const char* kStatisticNotFinite = "seed-bootstrap statistic is not finite";
constexpr const char* kEstimateNotFinite = "seed-bootstrap estimate is not finite";

support::Err<ConfidenceError> fail(const char* message) {
  return support::err(ConfidenceError{message});
}

bool is_valid_alpha(double alpha) { return std::isfinite(alpha) && alpha > 0.0 && alpha < 1.0; }
bool is_valid_spread(double s) { return std::isfinite(s) && !(s < 0.0); }
bool is_valid_periods(double p) { return std::isfinite(p) && p > 0.0; }

bool is_valid_seed_band(SeedBand band) {
  for (const std::vector<double>& seed : band) {
    if (seed.size() < 2) return false;
    for (double v : seed) {
      if (!std::isfinite(v)) return false;
    }
  }
  return true;
}

bool pairs_match(SeedBand a, SeedBand b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].size() != b[i].size()) return false;
  }
  return true;
}

// A replicate usually pools about as many values as the band holds; a larger
// draw grows the buffer once, and later replicates reuse it.
std::size_t total_length(SeedBand band) {
  std::size_t total = 0;
  for (const std::vector<double>& seed : band) total += seed.size();
  return total;
}

void pool_all(SeedBand band, std::vector<double>& out) {
  out.clear();
  for (const std::vector<double>& seed : band) out.insert(out.end(), seed.begin(), seed.end());
}

void append_seed(const std::vector<double>& seed, std::vector<double>& out) {
  out.insert(out.end(), seed.begin(), seed.end());
}

// Room for every replicate up front. A count no vector can hold is reported as
// the out-of-memory condition it is (MemoryError in Python) rather than as a
// length error that names a container method.
void reserve_replicates(std::vector<double>& values, std::uint64_t n_boot) {
  if (n_boot > values.max_size()) throw std::bad_alloc();
  values.reserve(static_cast<std::size_t>(n_boot));
}

// floor(draw * seeds / 2^64): the high word of the 128-bit product.
std::size_t draw_seed_index(support::SplitMix64& rng, std::size_t seeds) {
  __extension__ using Wide = unsigned __int128;
  Wide product = static_cast<Wide>(rng.next()) * static_cast<Wide>(seeds);
  return static_cast<std::size_t>(product >> 64);
}

double quantile_of_sorted(std::span<const double> v, double q) {
  if (v.empty()) return 0.0;
  if (v.size() == 1) return v[0];
  q = std::fmax(0.0, std::fmin(q, 1.0));
  double h = static_cast<double>(v.size() - 1) * q;
  double lower = std::floor(h);
  std::size_t i = static_cast<std::size_t>(lower);
  std::size_t j = static_cast<std::size_t>(std::ceil(h));
  return (v[j] - v[i]) * (h - lower) + v[i];
}

const support::RecordFields<DsrCi>& dsr_ci_fields() {
  using support::JsonWriter;
  using support::KeyOrder;
  static const support::RecordFields<DsrCi> fields({
      {"point", [](JsonWriter& w, const DsrCi& r, KeyOrder) { w.number(r.point); }},
      {"lo", [](JsonWriter& w, const DsrCi& r, KeyOrder) { w.number(r.lo); }},
      {"hi", [](JsonWriter& w, const DsrCi& r, KeyOrder) { w.number(r.hi); }},
      {"width", [](JsonWriter& w, const DsrCi& r, KeyOrder) { w.number(r.width); }},
      {"confidence", [](JsonWriter& w, const DsrCi& r, KeyOrder) { w.number(r.confidence); }},
      {"n_boot", [](JsonWriter& w, const DsrCi& r, KeyOrder) { w.unsigned_integer(r.n_boot); }},
  });
  return fields;
}

const support::RecordFields<PairedDiff>& paired_diff_fields() {
  using support::JsonWriter;
  using support::KeyOrder;
  static const support::RecordFields<PairedDiff> fields({
      {"point_diff",
       [](JsonWriter& w, const PairedDiff& r, KeyOrder) { w.number(r.point_diff); }},
      {"lo", [](JsonWriter& w, const PairedDiff& r, KeyOrder) { w.number(r.lo); }},
      {"hi", [](JsonWriter& w, const PairedDiff& r, KeyOrder) { w.number(r.hi); }},
      {"p_value", [](JsonWriter& w, const PairedDiff& r, KeyOrder) { w.number(r.p_value); }},
      {"confidence",
       [](JsonWriter& w, const PairedDiff& r, KeyOrder) { w.number(r.confidence); }},
      {"significant",
       [](JsonWriter& w, const PairedDiff& r, KeyOrder) { w.boolean(r.significant); }},
      {"verdict", [](JsonWriter& w, const PairedDiff& r, KeyOrder) { w.string(r.verdict); }},
      {"n_boot",
       [](JsonWriter& w, const PairedDiff& r, KeyOrder) { w.unsigned_integer(r.n_boot); }},
  });
  return fields;
}

}  // namespace

std::uint32_t kernel_trials(std::uint32_t n_trials) {
  constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
  return n_trials > kMax - kKernelBaseTrials ? kMax : n_trials + kKernelBaseTrials;
}

support::Result<double, ConfidenceError> checked_dsr(Series returns, std::uint32_t n_trials,
                                                     double sr_std) {
  if (!is_valid_spread(sr_std)) return fail(kBadSpread);
  if (n_trials == 0) return fail(kNoTrials);
  // With a valid spread the only failure left is a non-finite expected maximum.
  auto expected_max = deflated_sharpe::expected_max_sharpe(n_trials, sr_std);
  if (!expected_max.ok()) return fail(kStatisticNotFinite);
  double e = expected_max.value();

  moments::SeriesMoments m = moments::series_moments(returns);
  double sr = deflated_sharpe::sharpe_ratio(m);
  double v = (m.kurtosis - 1.0) * 0.25 * sr * sr + (1.0 - m.skewness * sr);
  for (double statistic : {m.mean, m.std_dev, sr, m.skewness, m.kurtosis, v}) {
    if (!std::isfinite(statistic)) return fail(kStatisticNotFinite);
  }
  double dsr = deflated_sharpe::probabilistic_sharpe_ratio(m, returns.size(), e);
  if (!std::isfinite(dsr)) return fail(kEstimateNotFinite);
  return dsr;
}

support::Result<DsrCi, ConfidenceError> bootstrap_dsr_ci(SeedBand per_seed_returns,
                                                         std::uint32_t n_trials,
                                                         std::uint64_t n_boot,
                                                         std::uint64_t resample_seed,
                                                         double trials_sr_std,
                                                         double periods_per_year, double alpha) {
  std::size_t seeds = per_seed_returns.size();
  if (seeds < 2) return fail(kTooFewSeeds);
  if (n_boot < 2) return fail(kTooFewReplicates);
  if (!is_valid_alpha(alpha)) return fail(kBadAlpha);
  if (!is_valid_spread(trials_sr_std)) return fail(kBadSpread);
  if (!is_valid_seed_band(per_seed_returns)) return fail(kBadSeedSeries);
  if (!is_valid_periods(periods_per_year)) return fail(kBadPeriods);

  double sr_std = trials_sr_std / std::sqrt(periods_per_year);
  std::vector<double> pooled;
  pooled.reserve(total_length(per_seed_returns));
  pool_all(per_seed_returns, pooled);
  auto point = checked_dsr(pooled, n_trials, sr_std);
  if (!point.ok()) return support::err(point.error());

  support::SplitMix64 rng(resample_seed);
  std::vector<double> estimates;
  reserve_replicates(estimates, n_boot);
  for (std::uint64_t b = 0; b < n_boot; ++b) {
    pooled.clear();
    for (std::size_t k = 0; k < seeds; ++k) {
      append_seed(per_seed_returns[draw_seed_index(rng, seeds)], pooled);
    }
    auto estimate = checked_dsr(pooled, n_trials, sr_std);
    if (!estimate.ok()) return support::err(estimate.error());
    estimates.push_back(estimate.value());
  }

  std::sort(estimates.begin(), estimates.end());
  double h = alpha * 0.5;
  double lo = quantile_of_sorted(estimates, h);
  double hi = quantile_of_sorted(estimates, 1.0 - h);
  return DsrCi{point.value(), lo, hi, hi - lo, 1.0 - alpha, n_boot};
}

support::Result<PairedDiff, ConfidenceError> paired_dsr_diff(
    SeedBand a_per_seed_returns, SeedBand b_per_seed_returns, std::uint32_t n_trials,
    double trials_sr_std, double periods_per_year, double alpha, std::uint64_t n_boot,
    std::uint64_t resample_seed) {
  if (a_per_seed_returns.size() < 2) return fail(kTooFewSeeds);
  if (n_boot < 2) return fail(kTooFewReplicates);
  if (!is_valid_alpha(alpha)) return fail(kBadAlpha);
  if (!is_valid_spread(trials_sr_std)) return fail(kBadSpread);
  if (!is_valid_seed_band(a_per_seed_returns)) return fail(kBadSeedSeries);
  if (b_per_seed_returns.size() < 2) return fail(kTooFewSeeds);
  if (!is_valid_seed_band(b_per_seed_returns)) return fail(kBadSeedSeries);
  if (!pairs_match(a_per_seed_returns, b_per_seed_returns)) return fail(kUnpairedBands);
  if (!is_valid_periods(periods_per_year)) return fail(kBadPeriods);

  std::size_t seeds = a_per_seed_returns.size();
  double sr_std = trials_sr_std / std::sqrt(periods_per_year);
  std::size_t capacity = total_length(a_per_seed_returns);
  std::vector<double> a_pooled;
  std::vector<double> b_pooled;
  a_pooled.reserve(capacity);
  b_pooled.reserve(capacity);
  pool_all(a_per_seed_returns, a_pooled);
  pool_all(b_per_seed_returns, b_pooled);
  auto a_point = checked_dsr(a_pooled, n_trials, sr_std);
  if (!a_point.ok()) return support::err(a_point.error());
  auto b_point = checked_dsr(b_pooled, n_trials, sr_std);
  if (!b_point.ok()) return support::err(b_point.error());
  double point_diff = a_point.value() - b_point.value();

  support::SplitMix64 rng(resample_seed);
  std::vector<double> diffs;
  reserve_replicates(diffs, n_boot);
  std::uint64_t at_most_zero = 0;
  std::uint64_t at_least_zero = 0;
  for (std::uint64_t r = 0; r < n_boot; ++r) {
    a_pooled.clear();
    b_pooled.clear();
    for (std::size_t k = 0; k < seeds; ++k) {
      std::size_t i = draw_seed_index(rng, seeds);
      append_seed(a_per_seed_returns[i], a_pooled);
      append_seed(b_per_seed_returns[i], b_pooled);
    }
    auto a_dsr = checked_dsr(a_pooled, n_trials, sr_std);
    if (!a_dsr.ok()) return support::err(a_dsr.error());
    auto b_dsr = checked_dsr(b_pooled, n_trials, sr_std);
    if (!b_dsr.ok()) return support::err(b_dsr.error());
    double d = a_dsr.value() - b_dsr.value();
    if (d <= 0.0) ++at_most_zero;
    if (d >= 0.0) ++at_least_zero;
    diffs.push_back(d);
  }

  std::sort(diffs.begin(), diffs.end());
  double h = alpha * 0.5;
  PairedDiff out;
  out.point_diff = point_diff;
  out.lo = quantile_of_sorted(diffs, h);
  out.hi = quantile_of_sorted(diffs, 1.0 - h);
  double fewer_side = static_cast<double>(std::min(at_least_zero, at_most_zero));
  out.p_value = std::fmin(2.0 * fewer_side / static_cast<double>(n_boot), 1.0);
  out.confidence = 1.0 - alpha;
  out.significant = out.hi < 0.0 || out.lo > 0.0;
  out.verdict = std::string(verdict_for(out.significant, point_diff));
  out.n_boot = n_boot;
  return out;
}

double quantile(std::span<const double> values, double q) {
  std::vector<double> sorted(values.begin(), values.end());
  std::sort(sorted.begin(), sorted.end());
  return quantile_of_sorted(sorted, q);
}

std::string_view verdict_for(bool significant, double point_diff) {
  if (!significant) return "tied";
  return point_diff > 0.0 ? "a_better" : "b_better";
}

std::string to_json(const DsrCi& ci) {
  std::string out;
  support::JsonWriter w(out);
  dsr_ci_fields().write(w, ci, support::KeyOrder::kDeclared);
  return out;
}

std::string to_json(const PairedDiff& diff) {
  std::string out;
  support::JsonWriter w(out);
  paired_diff_fields().write(w, diff, support::KeyOrder::kDeclared);
  return out;
}

}  // namespace corvane::leaderboard_ci
