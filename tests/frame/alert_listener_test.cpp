// The alert listener: arming, handlers on the listener thread, the SIGINT tie, alerts
// posted from other threads and from a signal handler.
#include "varururor/frame/alert_listener.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
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

void ResetRecords() {
  for (int i = 0; i < omi_AlertListener::kAlertCount; ++i) {
    g_argument[i].store(kNoCall);
    g_thread[i].store(0);
  }
  g_calls.store(0);
}

// Waits for the handler calls to reach count; false after five seconds.
bool WaitForCalls(int count) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (g_calls.load() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class AlertListenerTest : public testing::Test {
 protected:
  void SetUp() override { ResetRecords(); }
};

TEST_F(AlertListenerTest, UnarmedUntilArmed) {
  omi_AlertListener listener;
  EXPECT_EQ(listener.GetThreadId(), 0u);
  listener.Disarm();  // nothing to do
  EXPECT_EQ(listener.GetThreadId(), 0u);
}

TEST_F(AlertListenerTest, ArmTwiceStartsOneThread) {
  omi_AlertListener listener;
  listener.Arm();
  unsigned id = listener.GetThreadId();
  EXPECT_NE(id, 0u);
  EXPECT_TRUE(plat::HasMessageQueue(id)) << "ready to take alerts once Arm returns";
  listener.Arm();
  EXPECT_EQ(listener.GetThreadId(), id);
  listener.Disarm();
  EXPECT_EQ(listener.GetThreadId(), 0u);
  EXPECT_FALSE(plat::HasMessageQueue(id)) << "the thread has ended";
}

TEST_F(AlertListenerTest, EachAlertPassesItsSignalNumber) {
  omi_AlertListener listener;
  listener.SetHandler(omi_AlertTerminate, Record<1>);
  listener.SetHandler(omi_AlertStop, Record<2>);
  listener.SetHandler(omi_AlertContinue, Record<3>);
  listener.SetHandler(omi_AlertUser1, Record<4>);
  listener.SetHandler(omi_AlertUser2, Record<5>);
  listener.Arm();
  omi_AlertTrigger trigger(listener.GetThreadId());
  for (int alert = 1; alert < omi_AlertListener::kAlertCount; ++alert) {
    trigger.Alert(static_cast<omi_AlertEnm>(alert));
  }
  ASSERT_TRUE(WaitForCalls(5));
  int const expected[] = {kNoCall, 15, 20, 18, 10, 12};
  for (int alert = 0; alert < omi_AlertListener::kAlertCount; ++alert) {
    EXPECT_EQ(g_argument[alert].load(), expected[alert]) << "alert " << alert;
  }
  EXPECT_EQ(g_thread[3].load(), listener.GetThreadId()) << "handlers run on the listener";
  listener.Disarm();
}

TEST_F(AlertListenerTest, AlertFromAnotherThread) {
  omi_AlertListener listener;
  listener.SetHandler(omi_AlertContinue, Record<3>);
  listener.Arm();
  std::thread poster(
      [id = listener.GetThreadId()] { omi_AlertTrigger(id).Alert(omi_AlertContinue); });
  poster.join();
  ASSERT_TRUE(WaitForCalls(1));
  EXPECT_EQ(g_argument[3].load(), 18);
  listener.Disarm();
}

TEST_F(AlertListenerTest, AlertWithoutHandlerIsIgnored) {
  omi_AlertListener listener;
  listener.SetHandler(omi_AlertUser2, Record<5>);
  listener.Arm();
  omi_AlertTrigger trigger(listener.GetThreadId());
  trigger.Alert(omi_AlertUser1);  // no handler
  trigger.Alert(omi_AlertUser2);
  ASSERT_TRUE(WaitForCalls(1));
  EXPECT_EQ(g_argument[4].load(), kNoCall);
  EXPECT_EQ(g_argument[5].load(), 12);
  EXPECT_NE(listener.GetThreadId(), 0u);
  listener.Disarm();
}

TEST_F(AlertListenerTest, HandlerSetWhileArmedIsUsed) {
  omi_AlertListener listener;
  listener.Arm();
  listener.SetHandler(omi_AlertUser1, Record<4>);
  omi_AlertTrigger(listener.GetThreadId()).Alert(omi_AlertUser1);
  ASSERT_TRUE(WaitForCalls(1));
  EXPECT_EQ(g_argument[4].load(), 10);
  listener.Disarm();
}

TEST_F(AlertListenerTest, OtherMessageEndsTheListener) {
  omi_AlertListener listener;
  listener.SetHandler(omi_AlertUser1, Record<4>);
  listener.Arm();
  unsigned id = listener.GetThreadId();
  ASSERT_TRUE(plat::PostThreadMessage(id, plat::kMessageApplication + 1, 0, 0));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (plat::HasMessageQueue(id) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_FALSE(plat::HasMessageQueue(id));
  EXPECT_EQ(listener.GetThreadId(), id) << "still reads as armed";
  omi_AlertTrigger(id).Alert(omi_AlertUser1);  // lost, harmlessly
  listener.Disarm();
  EXPECT_EQ(listener.GetThreadId(), 0u);
  EXPECT_EQ(g_calls.load(), 0);
}

TEST_F(AlertListenerTest, OutOfRangeCommandsAreIgnored) {
  omi_AlertListener listener;
  listener.SetHandler(omi_AlertUser1, Record<4>);
  listener.Arm();
  unsigned id = listener.GetThreadId();
  ASSERT_TRUE(plat::PostThreadMessage(id, plat::kMessageApplication, 7, 0));
  ASSERT_TRUE(plat::PostThreadMessage(id, plat::kMessageApplication, 12345, 0));
  omi_AlertTrigger(id).Alert(omi_AlertUser1);
  ASSERT_TRUE(WaitForCalls(1));
  EXPECT_TRUE(plat::HasMessageQueue(id));
  listener.Disarm();
}

TEST_F(AlertListenerTest, DestructionDisarms) {
  unsigned id;
  {
    omi_AlertListener listener;
    listener.Arm();
    id = listener.GetThreadId();
  }
  EXPECT_FALSE(plat::HasMessageQueue(id));
}

TEST_F(AlertListenerTest, InterruptHandlerIsTheSigintHandlerWhileArmed) {
  omi_AlertListener listener;
  listener.SetHandler(omi_AlertInterrupt, Record<0>);
  listener.Arm();
  std::raise(SIGINT);  // the handler itself runs, on this thread
  EXPECT_EQ(g_argument[0].load(), SIGINT);
  EXPECT_EQ(g_thread[0].load(), plat::GetCurrentThreadId());
  omi_AlertTrigger(listener.GetThreadId()).Alert(omi_AlertInterrupt);  // and as an alert
  ASSERT_TRUE(WaitForCalls(2));
  EXPECT_EQ(g_thread[0].load(), listener.GetThreadId());
  listener.Disarm();
  auto after = std::signal(SIGINT, SIG_DFL);
  EXPECT_EQ(after, SIG_DFL) << "default SIGINT handling once disarmed";
}

TEST_F(AlertListenerTest, SettingTheInterruptHandlerWhileArmedInstallsIt) {
  omi_AlertListener listener;
  listener.Arm();
  listener.SetHandler(omi_AlertInterrupt, Record<0>);
  std::raise(SIGINT);
  EXPECT_EQ(g_argument[0].load(), SIGINT);
  listener.Disarm();
  std::signal(SIGINT, SIG_DFL);
}

omi_AlertTrigger* g_sigint_trigger = nullptr;
void PostFromSigint(int) { g_sigint_trigger->Alert(omi_AlertTerminate); }

TEST_F(AlertListenerTest, AlertFromASignalHandler) {
  omi_AlertListener listener;
  listener.SetHandler(omi_AlertTerminate, Record<1>);
  listener.Arm();
  omi_AlertTrigger trigger(listener.GetThreadId());
  g_sigint_trigger = &trigger;
  std::signal(SIGINT, PostFromSigint);
  std::raise(SIGINT);
  std::signal(SIGINT, SIG_DFL);
  ASSERT_TRUE(WaitForCalls(1));
  EXPECT_EQ(g_argument[1].load(), 15);
  EXPECT_EQ(g_thread[1].load(), listener.GetThreadId());
  listener.Disarm();
}

TEST_F(AlertListenerTest, ModuleShutdownDisarmsTheProcessListener) {
  int total = 0;
  omni_initialize(total);
  omi_AlertListener& listener = omi_Singleton<omi_AlertListener>::Instance();
  listener.Arm();
  unsigned id = listener.GetThreadId();
  EXPECT_NE(id, 0u);
  omni_finalize(total);
  EXPECT_FALSE(plat::HasMessageQueue(id));
  EXPECT_EQ(omi_Singleton<omi_AlertListener>::Instance().GetThreadId(), 0u) << "a fresh one";
  omi_SingletonBase<omi_AlertListener>::Finalize();
}

TEST_F(AlertListenerTest, AListenerThatEndsLeavesTheSlot) {
  {
    omi_AlertListener local;
    local.Arm();
  }
  omi_AlertListener& fresh = omi_Singleton<omi_AlertListener>::Instance();
  EXPECT_EQ(fresh.GetThreadId(), 0u);
  omi_SingletonBase<omi_AlertListener>::Finalize();
}

}  // namespace
