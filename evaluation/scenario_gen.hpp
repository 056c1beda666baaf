#pragma once
// Procedural scenarios: the synthetic data set rewritten into one of five
// market families, optionally overlaid with volatility clustering and bursts
// of jumps. A pure, deterministic function of the request and the seed.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/data.hpp"
#include "support/result.hpp"

namespace corvane::scenario_gen {

// The ordinal of each variant is its position here.
enum class DistributionMode {
  kCalm = 0,
  kHard = 1,
  kExtreme = 2,
  kCointegratedPairs = 3,
  kRegimeShift = 4,
};

// Exact, case-sensitive label match. The error is the plain message
//   unknown distribution_mode "<label>" (expected calm | hard | extreme |
//   cointegrated_pairs | regime_shift)
// which the bindings raise under INVALID_ARGUMENT.
[[nodiscard]] support::Result<DistributionMode, std::string> parse_distribution_mode(
    std::string_view label);

// "calm", "hard", "extreme", "cointegrated_pairs" or "regime_shift".
std::string_view distribution_mode_label(DistributionMode mode);

// None of the float knobs is validated: zero, negative and NaN values switch
// their overlay off.
struct ScenarioSpec {
  std::size_t n_symbols = 4;
  std::size_t n_days = 120;
  double vol_clustering = 0.0;
  double jump_burst_probability = 0.0;
  double jump_burst_persistence = 0.0;
  double jump_burst_size = 0.0;
  DistributionMode distribution_mode = DistributionMode::kCalm;

  // The reproducible reference request: 4 symbols, 120 days, calm, vol
  // clustering 0.5, bursts with probability 0.02, persistence 0 and size 0.015.
  static ScenarioSpec calm_calibration_candidate();

  // True when generation would return the plain synthetic data set unchanged
  // (calm with all four knobs exactly 0.0), so callers may build that directly.
  bool is_plain_calm() const;
};

// The preset of the amplify step of "hard" and "extreme".
struct AmplifyParams {
  std::uint64_t stream_tag;
  double deviation_scale;
  double jump_probability;
  double jump_size;
};
inline constexpr AmplifyParams kHardParams{0x486172645F5F5F5FULL, 1.8, 0.02, 0.06};
inline constexpr AmplifyParams kExtremeParams{0x457874725F5F5F5FULL, 3.0, 0.06, 0.13};

// Never fails.
talmoor_sim::data::Dataset generate_scenario(const ScenarioSpec& spec, std::uint64_t seed);

}  // namespace corvane::scenario_gen
