// The prime search against trial division, and the bucket hashes.
#include "varururor/omi/hashing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

namespace {

bool IsPrime(unsigned n) {
  if (n < 2) return false;
  for (unsigned long long d = 2; d * d <= n; ++d) {
    if (n % d == 0) return false;
  }
  return true;
}

unsigned SmallestPrimeFrom(unsigned n) {
  while (!IsPrime(n)) ++n;
  return n;
}

TEST(NextPrime, SmallInputs) {
  EXPECT_EQ(omi_nextPrime(0), 0u);
  EXPECT_EQ(omi_nextPrime(1), 1u);
  for (unsigned n = 2; n <= 11; ++n) EXPECT_EQ(omi_nextPrime(n), 11u) << n;
  EXPECT_EQ(omi_nextPrime(12), 13u);
  EXPECT_EQ(omi_nextPrime(13), 13u);
  for (unsigned n = 14; n <= 17; ++n) EXPECT_EQ(omi_nextPrime(n), 17u) << n;
  EXPECT_EQ(omi_nextPrime(25), 29u);
  EXPECT_EQ(omi_nextPrime(120), 127u);
  EXPECT_EQ(omi_nextPrime(121), 127u) << "11 * 11 is caught by the last divisor";
  EXPECT_EQ(omi_nextPrime(289), 293u) << "17 * 17";
}

TEST(NextPrime, FromElevenUpItIsTheSmallestPrimeNotBelow) {
  for (unsigned n = 11; n < 20000; ++n) ASSERT_EQ(omi_nextPrime(n), SmallestPrimeFrom(n)) << n;
  std::mt19937 random(3);
  for (int i = 0; i < 300; ++i) {
    unsigned n = 11 + static_cast<unsigned>(random() % (4294967291u - 11));
    ASSERT_EQ(omi_nextPrime(n), SmallestPrimeFrom(n)) << n;
  }
}

TEST(NextPrime, TheTopOfTheRange) {
  EXPECT_EQ(omi_nextPrime(4294967291u), 4294967291u);
  EXPECT_EQ(omi_nextPrime(4294967280u), 4294967291u);
  EXPECT_EQ(omi_nextPrime(4294967292u), 0u) << "no prime of 32 bits is left";
  EXPECT_EQ(omi_nextPrime(0xFFFFFFFFu), 0u);
}

TEST(HashValue, DropsTheTwoLowBitsBeforeTheRemainder) {
  unsigned seven = 7;
  EXPECT_EQ(HashValue(seven, 5), 1u);
  for (unsigned k = 0; k < 4; ++k) EXPECT_EQ(HashValue(k, 3), 0u);
  unsigned top = 0xFFFFFFFFu;
  EXPECT_EQ(HashValue(top, 1000), (0xFFFFFFFFu >> 2) % 1000);
  void* p = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x1000));
  EXPECT_EQ(HashValue(p, 7), (0x1000u >> 2) % 7);
}

TEST(HashValue, ASizeOfZeroGivesZero) {
  unsigned key = 12345;
  void* p = &key;
  EXPECT_EQ(HashValue(key, 0), 0u);
  EXPECT_EQ(HashValue(p, 0), 0u);
}

}  // namespace
