#include "varururor/frame/alert_listener.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "plat/message_queue.h"
#include "plat/thread.h"
#include "varururor/frame/alert_trigger.h"
#include "varururor/frame/startup.h"

namespace {

constexpr int kNoCall = -1;

std::atomic<int> g_argument[omi_AlertListener::kAlertCount];
std::atomic<unsigned> g_thread[omi_AlertListener::kAlertCount];
std::atomic<int> g_calls{0};

template <int kAlert>
void Record(int argument) {
  g_argument[kAlert].store(argument);
  g_thread[kAlert].store(plat::GetCurrentThreadId());
  g_calls.fetch_add(1);
}

// True once done() holds; false after five seconds.
template <typename Condition>
bool WaitUntil(Condition done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

omi_AlertTrigger* g_sigint_trigger = nullptr;
void PostFromSigint(int) { g_sigint_trigger->Alert(omi_AlertTerminate); }

// Alerts posted from a signal handler and from another thread, commands out of range, an
// alert without a handler (ignored) and a handler set while armed. A thread message other
// than the alert message then ends the listener, which still reads as armed until Disarm.
TEST(AlertListenerTest, ArmedListenerRunsEachHandlerWithItsSignalNumberOnItsThread) {
  for (auto& argument : g_argument) argument = kNoCall;
  omi_AlertListener listener;
  listener.SetHandler(omi_AlertTerminate, Record<1>);
  listener.SetHandler(omi_AlertStop, Record<2>);
  listener.SetHandler(omi_AlertContinue, Record<3>);
  listener.SetHandler(omi_AlertUser1, Record<4>);
  listener.Arm();
  unsigned id = listener.GetThreadId();
  EXPECT_TRUE(plat::HasMessageQueue(id)) << "ready to take alerts once Arm returns";
  listener.Arm();
  EXPECT_EQ(listener.GetThreadId(), id);
  listener.SetHandler(omi_AlertUser2, Record<5>);
  ASSERT_TRUE(plat::PostThreadMessage(id, plat::kMessageApplication, 7, 0));
  ASSERT_TRUE(plat::PostThreadMessage(id, plat::kMessageApplication, 12345, 0));
  omi_AlertTrigger trigger(id);
  g_sigint_trigger = &trigger;
  std::signal(SIGINT, PostFromSigint);
  std::raise(SIGINT);
  std::signal(SIGINT, SIG_DFL);
  std::thread([id] {
    for (int alert = 0; alert < omi_AlertListener::kAlertCount; ++alert) {
      if (alert != omi_AlertTerminate) omi_AlertTrigger(id).Alert(static_cast<omi_AlertEnm>(alert));
    }
  }).join();
  ASSERT_TRUE(WaitUntil([] { return g_calls.load() == 5; }));
  int const expected[] = {kNoCall, 15, 20, 18, 10, 12};
  for (int alert = 0; alert < omi_AlertListener::kAlertCount; ++alert) {
    EXPECT_EQ(g_argument[alert].load(), expected[alert]) << "alert " << alert;
    EXPECT_EQ(g_thread[alert].load(), alert == 0 ? 0u : id) << "alert " << alert;
  }
  ASSERT_TRUE(plat::PostThreadMessage(id, plat::kMessageApplication + 1, 0, 0));
  EXPECT_TRUE(WaitUntil([id] { return !plat::HasMessageQueue(id); }));
  EXPECT_EQ(listener.GetThreadId(), id);
  trigger.Alert(omi_AlertUser1);  // lost, harmlessly
  listener.Disarm();
  EXPECT_EQ(listener.GetThreadId(), 0u);
  EXPECT_EQ(g_calls.load(), 5);
}

// While armed, the interrupt handler is also the SIGINT handler, installed at once when set
// while armed; disarming restores the default.
TEST(AlertListenerTest, InterruptHandlerIsTheSigintHandlerWhileArmed) {
  g_calls = 0;
  omi_AlertListener listener;
  listener.SetHandler(omi_AlertInterrupt, Record<0>);
  listener.Arm();
  std::raise(SIGINT);  // the handler itself runs, on this thread
  EXPECT_EQ(g_argument[0].load(), SIGINT);
  EXPECT_EQ(g_thread[0].load(), plat::GetCurrentThreadId());
  omi_AlertTrigger(listener.GetThreadId()).Alert(omi_AlertInterrupt);  // and as an alert
  ASSERT_TRUE(WaitUntil([] { return g_calls.load() == 2; }));
  EXPECT_EQ(g_thread[0].load(), listener.GetThreadId());
  listener.Disarm();
  EXPECT_EQ(std::signal(SIGINT, SIG_DFL), SIG_DFL);
  omi_AlertListener late;
  late.Arm();
  late.SetHandler(omi_AlertInterrupt, Record<0>);
  std::raise(SIGINT);
  EXPECT_EQ(g_calls.load(), 3);
  late.Disarm();
  std::signal(SIGINT, SIG_DFL);
}

// The current listener without creating one (the base's Instance is protected).
struct ListenerSlot : omi_SingletonBase<omi_AlertListener> {
  static omi_AlertListener* Current() { return omi_SingletonBase<omi_AlertListener>::Instance(); }
};

TEST(AlertListenerTest, ProcessListenerLivesFromFirstUseUntilLibraryShutdown) {
  unsigned id = 0;
  {
    omi_AlertListener local;  // takes the slot, and leaves it when it ends
    local.Arm();
    id = local.GetThreadId();
  }
  EXPECT_FALSE(plat::HasMessageQueue(id)) << "destruction disarms";
  EXPECT_EQ(ListenerSlot::Current(), nullptr);
  int total = 0;
  UTI_VaruRuror_initialize(total);
  omi_AlertListener& listener = omi_Singleton<omi_AlertListener>::Instance();
  EXPECT_EQ(ListenerSlot::Current(), &listener);
  listener.Arm();
  id = listener.GetThreadId();
  UTI_VaruRuror_finalize(total);
  EXPECT_FALSE(plat::HasMessageQueue(id)) << "disarmed";
  EXPECT_EQ(ListenerSlot::Current(), nullptr);
  EXPECT_EQ(omi_Singleton<omi_AlertListener>::Instance().GetThreadId(), 0u) << "a fresh one";
  omi_SingletonBase<omi_AlertListener>::Finalize();
  omi_SingletonBase<omi_AlertListener>::Finalize();  // nothing left to destroy
}

// Alerts that overflow the queue of a listener busy in a handler: the first drop is
// reported once (in a child: once per process), and Disarm still stops the listener.
constexpr int kBurst = 20000;  // past the queue's capacity
std::atomic<bool> g_release{false};

[[noreturn]] void BurstAgainstABusyListener() {
  omi_AlertListener& listener = omi_Singleton<omi_AlertListener>::Instance();
  listener.SetHandler(omi_AlertUser1, [](int) {
    g_calls.fetch_add(1);
    while (!g_release.load()) std::this_thread::yield();
  });
  listener.Arm();
  omi_AlertTrigger trigger(listener.GetThreadId());
  trigger.Alert(omi_AlertUser1);
  while (g_calls.load() == 0) std::this_thread::yield();
  for (int i = 0; i < kBurst; ++i) trigger.Alert(omi_AlertUser1);
  g_release.store(true);
  listener.Disarm();  // the stop command queues behind every alert taken
  std::exit(0);
}

TEST(AlertQueueTest, AFullQueueReportsADropOnceAndDisarmStillStopsTheListener) {
  EXPECT_EXIT(BurstAgainstABusyListener(), testing::ExitedWithCode(0),
              "^Alert dropped: the alert listener's queue is full\n$");
}

}  // namespace
