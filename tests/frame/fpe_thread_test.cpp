// Threads and the floating-point traps: a thread the library starts begins with every
// trap masked, as threads do on the system the library was written for; a thread the
// client starts takes its creator's setting (the library does not see it start).
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "varururor/frame/alert_listener.h"
#include "varururor/frame/alert_trigger.h"
#include "varururor/frame/startup.h"

namespace {

constexpr unsigned kSseMasks = 0x1F80;
constexpr unsigned kSseInvalidMask = 0x0080;
constexpr int kAsDecided = 0;
constexpr int kListenerTraps = 3;
constexpr int kClientThreadMasked = 4;

std::atomic<unsigned> g_listener_mxcsr{0};

void RecordMxcsr(int) { g_listener_mxcsr = _mm_getcsr() | 1u << 31; }

[[noreturn]] void CompareThreads() {
  int started = 0;
  UTI_VaruRuror_initialize(started);  // unmasks the traps on this thread
  omi_AlertListener& listener = omi_Singleton<omi_AlertListener>::Instance();
  listener.SetHandler(omi_AlertUser1, RecordMxcsr);
  listener.Arm();
  omi_AlertTrigger(listener.GetThreadId()).Alert(omi_AlertUser1);
  while (g_listener_mxcsr == 0) std::this_thread::yield();
  unsigned client = 0;
  std::thread([&client] { client = _mm_getcsr(); }).join();
  listener.Disarm();
  if ((g_listener_mxcsr & kSseMasks) != kSseMasks) std::exit(kListenerTraps);
  if ((client & kSseInvalidMask) != 0) std::exit(kClientThreadMasked);
  std::exit(kAsDecided);
}

TEST(FpeThreadTest, LibraryThreadsStartMaskedClientThreadsInheritTheirCreators) {
  EXPECT_EXIT(CompareThreads(), testing::ExitedWithCode(kAsDecided), "");
}

}  // namespace
