#include "varururor/omi/hashing.h"

#include <cmath>
#include <cstdint>

namespace {

// Both hashes drop the two low bits, which are zero in aligned addresses.
constexpr unsigned int kDroppedBits = 2;
// The largest prime of 32 bits; no candidate above it stays in range.
constexpr unsigned int kLargestPrime = 4294967291u;

// Candidates are 6k + 1 and 6k + 5; divisors d + 2 and d for d = 5, 11, 17, ...
constexpr unsigned int kWheel = 6;
constexpr unsigned int kFirstDivisor = 5;

bool HasNoSmallDivisor(unsigned int p) {
  // The square root from p + 1 taken as unsigned, as the bound of the divisors.
  unsigned int limit = static_cast<unsigned int>(std::floor(std::sqrt(static_cast<double>(p + 1))));
  if (p % kFirstDivisor == 0) return false;
  for (unsigned int d = kFirstDivisor;;) {
    if (p % (d + 2) == 0) return false;
    d += kWheel;
    if (d > limit) return true;
    if (p % d == 0) return false;
  }
}

}  // namespace

unsigned int HashValue(void* const& p, unsigned int size) {
  if (size == 0) return 0;
  return static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(p) >> kDroppedBits) % size;
}

unsigned int HashValue(unsigned int const& key, unsigned int size) {
  if (size == 0) return 0;
  return (key >> kDroppedBits) % size;
}

unsigned int omi_nextPrime(unsigned int n) {
  if (n == 0 || n > kLargestPrime) return 0;
  unsigned int base = kWheel * (n / kWheel);
  // 6k + 1 if it is not below n, then 6k + 5, 6k + 7, 6k + 11, ...: steps of 4 and 2.
  unsigned int candidate = base + 1;
  unsigned int step = 4;
  if (candidate < n) {
    candidate = base + 5;
    step = 2;
  }
  while (!HasNoSmallDivisor(candidate)) {
    candidate += step;
    step = kWheel - step;
  }
  return candidate;
}
