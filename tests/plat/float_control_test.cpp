// The floating-point control registers read back what was written.
#include "plat/float_control.h"

#include <gtest/gtest.h>
#include <xmmintrin.h>

namespace {

TEST(FloatControl, MxcsrRoundTrips) {
  unsigned saved = plat::GetMxcsr();
  EXPECT_EQ(saved, _mm_getcsr());
  plat::SetMxcsr(plat::kSseMaskAll | plat::kSseFlushToZero);
  EXPECT_EQ(_mm_getcsr(), plat::kSseMaskAll | plat::kSseFlushToZero);
  plat::SetMxcsr(saved);
  EXPECT_EQ(plat::GetMxcsr(), saved);
}

TEST(FloatControl, X87ControlWordRoundTrips) {
  unsigned saved = plat::GetX87ControlWord();
  plat::SetX87ControlWord((saved & ~plat::kX87PrecisionField) | plat::kX87Precision53);
  EXPECT_EQ(plat::GetX87ControlWord() & plat::kX87PrecisionField, plat::kX87Precision53);
  plat::SetX87ControlWord(saved);
  EXPECT_EQ(plat::GetX87ControlWord(), saved);
}

}  // namespace
