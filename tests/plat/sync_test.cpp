// Locks, events and threads; interlocked words and thread slots: the heap's and tracker's tests.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "plat/critical_section.h"
#include "plat/event.h"
#include "plat/thread.h"

namespace {

// Recursion is checked by the pools' lock tests, which build on this one.
TEST(CriticalSection, ExcludesOtherThreads) {
  plat::CriticalSection section;
  plat::InitializeCriticalSection(&section);
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        plat::EnterCriticalSection(&section);
        long seen = counter;
        std::this_thread::yield();  // another thread let in would lose this increment
        counter = seen + 1;
        plat::LeaveCriticalSection(&section);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 8000);
  plat::DeleteCriticalSection(&section);
}

std::atomic<int> g_passed{0};
plat::EventHandle g_event;

// Waits for the event; 42 when the creator had stored the thread's id before the thread
// started.
unsigned PassTheEvent(void* id_field) {
  bool const stored = *static_cast<unsigned*>(id_field) == plat::GetCurrentThreadId();
  plat::WaitForEvent(g_event);
  ++g_passed;
  return stored ? 42 : 0;
}

// The waiters are threads of ours, which start with their ids stored.
TEST(Event, AutoResetLetsOneWaiterThroughPerSignalAndManualResetStaysSet) {
  g_passed = 0;
  plat::EventHandle event = g_event = plat::CreateEvent(false, false);
  ASSERT_NE(event, nullptr);
  EXPECT_FALSE(plat::WaitForEvent(event, 10));
  // A signal with nobody waiting is kept for the next wait, once.
  plat::SetEvent(event);
  plat::SetEvent(event);
  EXPECT_TRUE(plat::WaitForEvent(event, 0));
  EXPECT_FALSE(plat::WaitForEvent(event, 10));
  unsigned ids[3] = {};
  plat::ThreadHandle waiters[3];
  for (int t = 0; t < 3; ++t) waiters[t] = plat::CreateThread(PassTheEvent, &ids[t], &ids[t]);
  for (int signal = 1; signal <= 3; ++signal) {
    plat::SetEvent(event);
    while (g_passed.load() < signal) std::this_thread::yield();
    EXPECT_EQ(g_passed.load(), signal);
  }
  for (plat::ThreadHandle waiter : waiters) {
    EXPECT_EQ(plat::WaitForThread(waiter), 42u);
    EXPECT_EQ(plat::WaitForThread(waiter), 42u);  // waiting again is harmless
    plat::CloseThread(waiter);
  }
  plat::CloseEvent(event);
  event = plat::CreateEvent(true, true);
  EXPECT_TRUE(plat::WaitForEvent(event, 0));
  EXPECT_TRUE(plat::WaitForEvent(event, 0));  // still set
  plat::ResetEvent(event);
  EXPECT_FALSE(plat::WaitForEvent(event, 5));
  plat::CloseEvent(event);
}

}  // namespace
