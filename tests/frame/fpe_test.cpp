// Floating-point traps, the traps of threads, NaNs taken quietly, and the error mode.
#include "varururor/frame/fpe.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <xmmintrin.h>

#include <atomic>
#include <cfloat>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <thread>

#include "child_process.h"
#include "plat/error_mode.h"
#include "plat/float_control.h"
#include "varururor/frame/alert_listener.h"
#include "varururor/frame/alert_trigger.h"
#include "varururor/frame/complex.h"
#include "varururor/frame/error_mode.h"
#include "varururor/frame/startup.h"
#include "varururor/frame/time_stamp.h"
#include "varururor/omi/octree.h"
#include "varururor/omi/octree_line_traversal.h"

namespace {

constexpr unsigned kSseMasks = 0x1F80;
constexpr unsigned kSseQuietMasks = 0x1900;  // denormal, underflow, inexact
constexpr unsigned kSseInvalidMask = 0x0080;
constexpr unsigned kSseFlushToZero = 0x8000;
constexpr unsigned kSseDenormalsAreZero = 0x0040;
constexpr unsigned kSseFlags = 0x3F;
constexpr unsigned kX87Masks = 0x3F;
constexpr unsigned kX87QuietMasks = 0x32;

// Kept out of the optimiser's reach, so that the arithmetic happens at run time.
volatile double g_zero = 0.0;
volatile double g_one = 1.0;
volatile double g_big = DBL_MAX;
volatile double g_result;

// Enable unmasks invalid, zero-divide and overflow, flushes denormals and clears stale
// flags; disable masks everything and stops flushing; frozen, neither changes a register.
TEST(FpeTest, EnableDisableAndTheFreeze) {
  unsigned const saved_sse = _mm_getcsr();
  unsigned const saved_x87 = plat::GetX87ControlWord();
  omn_enableFPE();
  EXPECT_EQ(_mm_getcsr() & (kSseMasks | kSseFlushToZero | kSseDenormalsAreZero | kSseFlags),
            kSseQuietMasks | kSseFlushToZero | kSseDenormalsAreZero);
  EXPECT_EQ(plat::GetX87ControlWord() & kX87Masks, kX87QuietMasks);
  unsigned const enabled = _mm_getcsr();
  omn_freezeFPESetting(true);
  omn_disableFPE();
  EXPECT_EQ(_mm_getcsr(), enabled);
  omn_freezeFPESetting(false);
  omn_disableFPE();
  EXPECT_EQ(_mm_getcsr() & (kSseMasks | kSseFlushToZero), kSseMasks);
  EXPECT_EQ(plat::GetX87ControlWord() & 0xF3F, 0x23Fu) << "all masked, 53 bits, to nearest";
  omn_freezeFPESetting(true);
  omn_enableFPE();
  EXPECT_EQ(plat::GetX87ControlWord() & kX87Masks, kX87Masks);
  omn_freezeFPESetting(false);
  _mm_setcsr(saved_sse);
  plat::SetX87ControlWord(saved_x87);
}

#if !defined(__SANITIZE_ADDRESS__)
// The sanitizer takes SIGFPE for itself; this runs only in the plain build.
TEST(FpeTest, EnabledTrapsFireInSseAndX87) {
  void (*const faults[])() = {
      [] { g_result = g_one / g_zero; },
      [] { g_result = g_zero / g_zero; },
      [] { g_result = g_big * 2; },
      [] { g_result = static_cast<double>(static_cast<long double>(g_one) / g_zero); },
  };
  for (auto fault : faults) {
    EXPECT_EXIT((omn_enableFPE(), fault()), testing::KilledBySignal(SIGFPE), "");
  }
}
#endif

// A thread the library starts begins with every trap masked, as on the original system; a
// thread the client starts, which the library does not see, takes its creator's setting.
std::atomic<unsigned> g_listener_mxcsr{0};

[[noreturn]] void CompareThreads() {
  int started = 0;
  UTI_VaruRuror_initialize(started);  // unmasks the traps on this thread
  omi_AlertListener& listener = omi_Singleton<omi_AlertListener>::Instance();
  listener.SetHandler(omi_AlertUser1, [](int) { g_listener_mxcsr = _mm_getcsr() | 1u << 31; });
  listener.Arm();
  omi_AlertTrigger(listener.GetThreadId()).Alert(omi_AlertUser1);
  while (g_listener_mxcsr == 0) std::this_thread::yield();
  unsigned client = 0;
  std::thread([&client] { client = _mm_getcsr(); }).join();
  listener.Disarm();
  if ((g_listener_mxcsr & kSseMasks) != kSseMasks) std::exit(1);
  std::exit((client & kSseInvalidMask) != 0 ? 2 : 0);
}

TEST(FpeThreadTest, LibraryThreadsStartMaskedClientThreadsInheritTheirCreators) {
  EXPECT_EXIT(CompareThreads(), testing::ExitedWithCode(0), "");
}

// With the library started the invalid-operation trap is on: every comparison the library
// makes on a value it was given stays quiet, so a NaN never kills the process inside it.
constexpr float kNan = std::numeric_limits<float>::quiet_NaN();

// A box with NaN corners in a tree of NaN size and minimum half-size; a NaN point and line.
bool OctreeTakesNans() {
  float nan_point[3] = {kNan, 1, kNan};
  omi_Octree tree({0, 0, 0}, {kNan, 16, 16}, kNan, nullptr, nullptr);
  tree.InsertBox(0, {1, kNan, 1}, {2, 2, kNan});
  omi_OctreeLineTrav traversal;
  return tree.FindCell(nan_point) != nullptr && !traversal.Init(&tree, nan_point, nan_point, kNan);
}
TEST(QuietNanTest, CounterComplexAndOctreeTakeNotANumberWithTheTrapsOn) {
  EXPECT_EXIT(
      {
        int started = 0;
        UTI_VaruRuror_initialize(started);
        dup2(STDERR_FILENO, STDOUT_FILENO);  // the overflow lines, where the check sees them
        omi_settimecounterstart(kNan);
        bool right = omi_gettimecounter() == 0.0 &&
                     std::isnan(omi_complex(0, -1.0, kNan).Argument()) && OctreeTakesNans();
        std::fflush(stdout);
        std::exit(right ? 0 : 1);
      },
      testing::ExitedWithCode(0), "Session Time Counter overflow!\nRestart your session.\n$");
}

TEST(ErrorModeTest, DecidedOnceFromThePopupVariable) {
  EXPECT_IN_CHILD("", setenv("JRT_DEBUG_POPUP", "", 1); omi_setErrorMode();
                  if (plat::GetErrorMode() != 0) std::abort(); unsetenv("JRT_DEBUG_POPUP");
                  omi_setErrorMode(); if (plat::GetErrorMode() != 0) std::abort());
  EXPECT_IN_CHILD("", unsetenv("JRT_DEBUG_POPUP"); omi_setErrorMode();
                  if (plat::GetErrorMode() != plat::kErrorModeNoFaultDialog) std::abort();
                  setenv("JRT_DEBUG_POPUP", "1", 1); plat::SetErrorMode(7); omi_setErrorMode();
                  if (plat::GetErrorMode() != plat::kErrorModeNoFaultDialog) std::abort());
}

}  // namespace
