#pragma once
// Held-out evaluation seeds derived from a secret salt and a slot number.
// Without the salt a seed cannot be guessed; with it the evaluation band
// replays exactly. Every seed is at least kEvalSeedBase, so the band never
// overlaps a training band kept below that value.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/result.hpp"

namespace corvane::sealed_seed {

inline constexpr std::uint64_t kEvalSeedBase = 1000000;
inline constexpr std::size_t kMinSaltBytes = 16;

// The refusal of a salt shorter than kMinSaltBytes.
struct SealedSaltError {
  std::size_t given = 0;
  std::size_t minimum = kMinSaltBytes;
  // "[INVALID_SALT] sealed-seed salt must be at least 16 bytes (got 5)"
  std::string display() const;
};

// An owned copy of the salt bytes. The copy is overwritten with zeros before
// its memory goes back to the allocator, so the secret does not linger in
// freed heap memory.
class SealedSalt {
 public:
  // Any byte string of at least kMinSaltBytes bytes; the bytes are not
  // interpreted (zero bytes included).
  [[nodiscard]] static support::Result<SealedSalt, SealedSaltError> create(std::string_view bytes);

  SealedSalt(SealedSalt&& other) noexcept = default;
  SealedSalt& operator=(SealedSalt&& other) noexcept;
  SealedSalt(const SealedSalt&) = delete;
  SealedSalt& operator=(const SealedSalt&) = delete;
  ~SealedSalt();

  std::string_view bytes() const {
    return std::string_view(reinterpret_cast<const char*>(bytes_.data()), bytes_.size());
  }

 private:
  explicit SealedSalt(std::string_view bytes);
  void wipe() noexcept;

  std::vector<unsigned char> bytes_;
};

// The seed of evaluation slot `slot`: always in [kEvalSeedBase, 2^64 - 2].
std::uint64_t sealed_seed(const SealedSalt& salt, std::uint64_t slot);

// The last step of the derivation: a mixed 64-bit value folded into the band
// [kEvalSeedBase, 2^64 - 2] as kEvalSeedBase + (mixed mod (2^64 - 1 - kEvalSeedBase)).
std::uint64_t fold_into_band(std::uint64_t mixed);

}  // namespace corvane::sealed_seed
