#pragma once
#include <cstdint>
#include <string_view>

namespace support {

inline constexpr std::uint64_t kFnvOffsetBasis = 0xCBF29CE484222325ULL;
inline constexpr std::uint64_t kFnvPrime = 0x100000001B3ULL;

// 64-bit FNV-1a; `hash` lets a caller continue over several pieces.
constexpr std::uint64_t fnv1a64(std::string_view bytes, std::uint64_t hash = kFnvOffsetBasis) {
  for (char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= kFnvPrime;
  }
  return hash;
}

}  // namespace support
