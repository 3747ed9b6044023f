// The prime search against trial division, and the bucket hashes.
#include "varururor/omi/hashing.h"

#include <gtest/gtest.h>

#include <random>

namespace {

unsigned SmallestPrimeFrom(unsigned n) {
  for (;; ++n) {
    bool prime = n >= 2;
    for (unsigned long long d = 2; prime && d * d <= n; ++d) prime = n % d != 0;
    if (prime) return n;
  }
}

TEST(NextPrime, FromElevenUpItIsTheSmallestPrimeNotBelow) {
  unsigned const small[][2] = {{0, 0}, {1, 1}, {2, 11}, {7, 11}};
  for (auto const& [n, p] : small) EXPECT_EQ(omi_nextPrime(n), p) << n;
  for (unsigned n = 11; n < 20000; ++n) ASSERT_EQ(omi_nextPrime(n), SmallestPrimeFrom(n)) << n;
  std::mt19937 random(3);
  for (int i = 0; i < 300; ++i) {
    unsigned n = 11 + static_cast<unsigned>(random() % (4294967291u - 11));
    ASSERT_EQ(omi_nextPrime(n), SmallestPrimeFrom(n)) << n;
  }
  EXPECT_EQ(omi_nextPrime(4294967291u), 4294967291u);
  EXPECT_EQ(omi_nextPrime(4294967292u), 0u) << "no prime of 32 bits is left";
}

TEST(HashValue, DropsTheTwoLowBitsBeforeTheRemainder) {
  EXPECT_EQ(HashValue(7u, 5), 1u);
  void* p = reinterpret_cast<void*>(0x1000);
  EXPECT_EQ(HashValue(p, 7), (0x1000u >> 2) % 7);
  EXPECT_EQ(HashValue(7u, 0), 0u) << "a size of 0 gives 0";
  EXPECT_EQ(HashValue(p, 0), 0u);
}

}  // namespace
