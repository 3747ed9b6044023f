// The alert listener's queue under a burst: a listener busy in a handler keeps at least
// 10,000 pending alerts, and the first alert that still does not fit is reported once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "varururor/frame/alert_listener.h"
#include "varururor/frame/alert_trigger.h"

namespace {

constexpr unsigned kRoomAtLeast = 10000;
constexpr unsigned kBurst = 20000;  // past any queue of that size rounded to a power of two
constexpr int kEnoughRoom = 0;
constexpr int kTooLittleRoom = 3;

std::atomic<unsigned> g_handled{0};
std::atomic<bool> g_release{false};

void Handler(int) {
  g_handled.fetch_add(1);
  while (!g_release.load()) std::this_thread::yield();
}

[[noreturn]] void BurstAgainstABusyListener() {
  omi_AlertListener& listener = omi_Singleton<omi_AlertListener>::Instance();
  listener.SetHandler(omi_AlertUser1, Handler);
  listener.Arm();
  omi_AlertTrigger trigger(listener.GetThreadId());
  trigger.Alert(omi_AlertUser1);
  while (g_handled.load() == 0) std::this_thread::yield();
  for (unsigned i = 0; i < kBurst; ++i) trigger.Alert(omi_AlertUser1);
  g_release.store(true);
  listener.Disarm();  // the stop command queues behind every alert taken
  std::exit(g_handled.load() > kRoomAtLeast ? kEnoughRoom : kTooLittleRoom);
}

TEST(AlertQueueTest, ABusyListenerKeepsTenThousandAlertsAndReportsADropOnce) {
  EXPECT_EXIT(BurstAgainstABusyListener(), testing::ExitedWithCode(kEnoughRoom),
              "^Alert dropped: the alert listener's queue is full\n$");
}

}  // namespace
