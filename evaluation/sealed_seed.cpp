#include "evaluation/sealed_seed.hpp"

#include "support/fnv1a.hpp"

namespace corvane::sealed_seed {
namespace {

constexpr std::uint64_t kDomainSeparation = 0x5365616C65644576ULL;
constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ULL;
// 2^64 - 1 - kEvalSeedBase: the width of the evaluation band.
constexpr std::uint64_t kBandWidth = 0xFFFFFFFFFFF0BDBFULL;
static_assert(kBandWidth == ~std::uint64_t{0} - kEvalSeedBase);

// The SplitMix64 output function applied to an arbitrary value.
constexpr std::uint64_t fmix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

constexpr std::uint64_t rotl32(std::uint64_t h) { return (h << 32) | (h >> 32); }

// Stores through a volatile pointer are observable behaviour, so the compiler
// may not drop them even though the buffer is freed right afterwards.
void secure_zero(unsigned char* data, std::size_t size) noexcept {
  volatile unsigned char* p = data;
  for (std::size_t i = 0; i < size; ++i) p[i] = 0;
}

}  // namespace

std::string SealedSaltError::display() const {
  return "[INVALID_SALT] sealed-seed salt must be at least " + std::to_string(minimum) +
         " bytes (got " + std::to_string(given) + ")";
}

support::Result<SealedSalt, SealedSaltError> SealedSalt::create(std::string_view bytes) {
  if (bytes.size() < kMinSaltBytes) return support::err(SealedSaltError{bytes.size()});
  return SealedSalt(bytes);
}

SealedSalt::SealedSalt(std::string_view bytes) : bytes_(bytes.begin(), bytes.end()) {}

SealedSalt& SealedSalt::operator=(SealedSalt&& other) noexcept {
  if (this != &other) {
    wipe();
    bytes_ = std::move(other.bytes_);
  }
  return *this;
}

SealedSalt::~SealedSalt() { wipe(); }

void SealedSalt::wipe() noexcept {
  secure_zero(bytes_.data(), bytes_.size());
  bytes_.clear();
}

std::uint64_t sealed_seed(const SealedSalt& salt, std::uint64_t slot) {
  std::string_view bytes = salt.bytes();
  std::uint64_t h = support::fnv1a64(bytes);
  h = (h ^ static_cast<std::uint64_t>(bytes.size())) * support::kFnvPrime;
  std::uint64_t a = fmix(h ^ kDomainSeparation);
  std::uint64_t b = fmix(a ^ (slot * kGolden));
  return fold_into_band(fmix(b ^ rotl32(h)));
}

std::uint64_t fold_into_band(std::uint64_t mixed) {
  if (mixed < kBandWidth) return mixed + kEvalSeedBase;
  return mixed - kBandWidth + kEvalSeedBase;
}

}  // namespace corvane::sealed_seed
