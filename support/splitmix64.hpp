#pragma once
#include <cstdint>

namespace support {

// The published SplitMix64 generator; every random draw of the engine comes
// from one of these, seeded as each stage specifies.
struct SplitMix64 {
  std::uint64_t state;

  explicit constexpr SplitMix64(std::uint64_t seed) : state(seed) {}

  constexpr std::uint64_t next() {
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }

  // Uniform in [0, 1): the top 53 bits scaled by 2^-53.
  constexpr double next_f64() {
    return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0);
  }
};

}  // namespace support
