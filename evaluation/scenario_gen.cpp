#include "evaluation/scenario_gen.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/float_text.hpp"
#include "support/splitmix64.hpp"

namespace corvane::scenario_gen {
namespace {

using talmoor_sim::data::Dataset;

constexpr std::uint64_t kAmplifyKey = 0x123456789ABCDEF0ULL;
constexpr std::uint64_t kCointegratedPairsKey = 0x515B0619F3CEADAFULL;
constexpr std::uint64_t kRegimeShiftKey = 0x40513115C9D4B884ULL;
constexpr std::uint64_t kJumpBurstKey = 0x58611B28D8E98CA3ULL;

constexpr double kReturnFloor = -0.95;

struct ModeLabel {
  std::string_view label;
  DistributionMode mode;
};
constexpr ModeLabel kModeLabels[] = {
    {"calm", DistributionMode::kCalm},
    {"hard", DistributionMode::kHard},
    {"extreme", DistributionMode::kExtreme},
    {"cointegrated_pairs", DistributionMode::kCointegratedPairs},
    {"regime_shift", DistributionMode::kRegimeShift},
};

// ((u - 0.5) * 2) * half_width, in that order.
double symmetric(support::SplitMix64& rng, double half_width) {
  const double u = rng.next_f64();
  return ((u - 0.5) * 2.0) * half_width;
}

std::vector<double> simple_returns(const std::vector<double>& p) {
  std::vector<double> r;
  r.reserve(p.size() - 1);
  for (std::size_t i = 0; i + 1 < p.size(); ++i) r.push_back(p[i + 1] / p[i] - 1.0);
  return r;
}

double mean(const std::vector<double>& values) {
  double sum = -0.0;
  for (double v : values) sum += v;
  return sum / static_cast<double>(values.size());
}

// p_i = p_{i-1} * (x + 1.0) with the new return floored at -0.95.
double compound(double previous, double x) { return previous * (std::fmax(x, kReturnFloor) + 1.0); }

void amplify(Dataset& ds, const AmplifyParams& params, std::uint64_t seed) {
  support::SplitMix64 rng(seed ^ params.stream_tag ^ kAmplifyKey);
  for (auto& [symbol, p] : ds.closes) {
    if (p.size() < 2) continue;
    const std::vector<double> r = simple_returns(p);
    const double m = mean(r);
    for (std::size_t i = 1; i < p.size(); ++i) {
      double j = 0.0;
      if (rng.next_f64() < params.jump_probability) {
        j = rng.next_f64() < 0.5 ? params.jump_size : -params.jump_size;
      }
      const double x = j + ((r[i - 1] - m) * params.deviation_scale + m);
      p[i] = compound(p[i - 1], x);
    }
  }
}

void rewrite_pair(support::SplitMix64& rng, std::vector<double>& a, std::vector<double>& b) {
  const double beta_a = 0.8 + 0.4 * rng.next_f64();
  const double beta_b = 0.8 + 0.4 * rng.next_f64();
  const std::size_t m = std::min(a.size(), b.size());
  double common = 100.0;
  double spread = 0.0;
  for (std::size_t j = 0; j < m; ++j) {
    if (j > 0) common = std::fmax(common + symmetric(rng, 1.5), 0.01);
    a[j] = std::fmax(beta_a * common + symmetric(rng, 0.6), 0.01);
    const double nb = symmetric(rng, 0.6);
    const double e = symmetric(rng, 1.0);
    spread = spread * 0.85 + e;
    b[j] = std::fmax((beta_b * common + nb) + spread, 0.01);
  }
}

void additive_walk(support::SplitMix64& rng, std::vector<double>& p) {
  if (p.empty()) return;
  p[0] = 100.0;
  for (std::size_t i = 1; i < p.size(); ++i) p[i] = std::fmax(p[i - 1] + symmetric(rng, 1.5), 0.01);
}

void cointegrated_pairs(Dataset& ds, std::uint64_t seed) {
  support::SplitMix64 rng(seed ^ kCointegratedPairsKey);
  std::vector<std::vector<double>*> series;
  for (auto& entry : ds.closes) series.push_back(&entry.second);
  std::size_t k = 0;
  for (; k + 1 < series.size(); k += 2) rewrite_pair(rng, *series[k], *series[k + 1]);
  if (k < series.size()) additive_walk(rng, *series[k]);
}

void regime_shift(Dataset& ds, std::uint64_t seed) {
  support::SplitMix64 rng(seed ^ kRegimeShiftKey);
  for (auto& [symbol, p] : ds.closes) {
    const std::size_t n = p.size();
    if (n < 2) continue;
    const std::size_t third = n / 3;
    const std::size_t two_thirds = 2 * n / 3;
    const std::size_t w = std::max<std::size_t>(two_thirds - third, 1);
    const double u = rng.next_f64();
    const std::size_t s = third + static_cast<std::size_t>(u * static_cast<double>(w));
    p[0] = 100.0;
    double x = 0.0;
    for (std::size_t i = 1; i < n; ++i) {
      if (i < s) {
        x = (x * 0.7 + 0.004) + symmetric(rng, 0.01);
      } else {
        x = x * -0.6 + symmetric(rng, 0.03);
      }
      // The floored return is the state carried into the next bar.
      x = std::fmax(x, kReturnFloor);
      p[i] = p[i - 1] * (x + 1.0);
    }
  }
}

void vol_clustering(Dataset& ds, double c) {
  // The double nearest to 1 - 0.85 as computed in floating point, not 0.15.
  constexpr double kLevelWeight = 0.15000000000000002;
  for (auto& [symbol, p] : ds.closes) {
    if (p.size() < 2) continue;
    const std::vector<double> r = simple_returns(p);
    const double m = mean(r);
    double abs_dev = -0.0;
    for (double ri : r) abs_dev += std::fabs(ri - m);
    const double d = std::fmax(abs_dev / static_cast<double>(r.size()), 1e-9);
    double v = d;
    for (std::size_t i = 1; i < p.size(); ++i) {
      const double f = std::fmax(((v / d) + (-1.0)) * c + 1.0, 0.05);
      const double x = std::fmax((r[i - 1] - m) * f + m, kReturnFloor);
      p[i] = p[i - 1] * (x + 1.0);
      v = v * 0.85 + std::fabs(x - m) * kLevelWeight;
    }
  }
}

void jump_bursts(Dataset& ds, double probability, double persistence, double size,
                 std::uint64_t seed) {
  const double start = std::fmin(probability, 1.0);
  const double keep = std::fmin(std::fmax(persistence, 0.0), 1.0);
  support::SplitMix64 rng(seed ^ kJumpBurstKey);
  for (auto& [symbol, p] : ds.closes) {
    if (p.size() < 2) continue;
    const std::vector<double> r = simple_returns(p);
    bool in_burst = false;
    for (std::size_t i = 1; i < p.size(); ++i) {
      const double threshold = in_burst ? keep : start;
      in_burst = threshold > rng.next_f64();
      double j = 0.0;
      if (in_burst) j = rng.next_f64() < 0.5 ? size : -size;
      p[i] = compound(p[i - 1], j + r[i - 1]);
    }
  }
}

}  // namespace

support::Result<DistributionMode, std::string> parse_distribution_mode(std::string_view label) {
  for (const ModeLabel& m : kModeLabels) {
    if (m.label == label) return m.mode;
  }
  return support::err("unknown distribution_mode " + support::quote_label(label) +
                      " (expected calm | hard | extreme | cointegrated_pairs | regime_shift)");
}

std::string_view distribution_mode_label(DistributionMode mode) {
  for (const ModeLabel& m : kModeLabels) {
    if (m.mode == mode) return m.label;
  }
  return "calm";
}

ScenarioSpec ScenarioSpec::calm_calibration_candidate() {
  ScenarioSpec spec;
  spec.n_symbols = 4;
  spec.n_days = 120;
  spec.distribution_mode = DistributionMode::kCalm;
  spec.vol_clustering = 0.5;
  spec.jump_burst_probability = 0.02;
  spec.jump_burst_persistence = 0.0;
  spec.jump_burst_size = 0.015;
  return spec;
}

bool ScenarioSpec::is_plain_calm() const {
  return distribution_mode == DistributionMode::kCalm && vol_clustering == 0.0 &&
         jump_burst_probability == 0.0 && jump_burst_persistence == 0.0 && jump_burst_size == 0.0;
}

Dataset generate_scenario(const ScenarioSpec& spec, std::uint64_t seed) {
  Dataset ds = Dataset::synthetic(spec.n_symbols, spec.n_days, seed);
  switch (spec.distribution_mode) {
    case DistributionMode::kCalm:
      break;
    case DistributionMode::kHard:
      amplify(ds, kHardParams, seed);
      break;
    case DistributionMode::kExtreme:
      amplify(ds, kExtremeParams, seed);
      break;
    case DistributionMode::kCointegratedPairs:
      cointegrated_pairs(ds, seed);
      break;
    case DistributionMode::kRegimeShift:
      regime_shift(ds, seed);
      break;
  }
  if (spec.vol_clustering > 0.0) vol_clustering(ds, spec.vol_clustering);
  if (spec.jump_burst_probability > 0.0 && spec.jump_burst_size > 0.0) {
    jump_bursts(ds, spec.jump_burst_probability, spec.jump_burst_persistence,
                spec.jump_burst_size, seed);
  }
  return ds;
}

}  // namespace corvane::scenario_gen
