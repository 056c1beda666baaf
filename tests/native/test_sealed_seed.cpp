#include "evaluation/sealed_seed.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using corvane::sealed_seed::fold_into_band;
using corvane::sealed_seed::SealedSalt;

constexpr std::uint64_t kMax = ~std::uint64_t{0};

// The fold's wrap-around branch is unreachable from a test salt in practice
// (about one chance in 2^44), so its edges are pinned here directly.
TEST(SealedSeedTest, FoldKeepsTheBandAtBothEdges) {
  EXPECT_EQ(fold_into_band(0), 1000000u);
  EXPECT_EQ(fold_into_band(kMax - 1000001), kMax - 1);  // the largest seed
  EXPECT_EQ(fold_into_band(kMax - 1000000), 1000000u);  // wraps to the base
  EXPECT_EQ(fold_into_band(kMax), 1000000u + 1000000u);
}

TEST(SealedSeedTest, ShortSaltIsRefusedWithItsLength) {
  auto salt = SealedSalt::create(std::string(15, 'x'));
  ASSERT_FALSE(salt.ok());
  EXPECT_EQ(salt.error().display(),
            "[INVALID_SALT] sealed-seed salt must be at least 16 bytes (got 15)");
}

TEST(SealedSeedTest, MovedSaltKeepsItsBytes) {
  auto salt = SealedSalt::create(std::string("0123456789abcdef\0z", 18));
  ASSERT_TRUE(salt.ok());
  std::uint64_t before = corvane::sealed_seed::sealed_seed(salt.value(), 7);
  SealedSalt moved = std::move(salt.value());
  EXPECT_EQ(moved.bytes().size(), 18u);
  EXPECT_EQ(corvane::sealed_seed::sealed_seed(moved, 7), before);
  auto other = SealedSalt::create(std::string(16, 'a'));
  ASSERT_TRUE(other.ok());
  moved = std::move(other.value());
  EXPECT_EQ(moved.bytes(), std::string(16, 'a'));
}

}  // namespace
