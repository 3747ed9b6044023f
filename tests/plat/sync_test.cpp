// Locks, events and threads. (The interlocked words and thread-local slots are checked by
// the heap's and the tracker's tests on several threads, which use them.)
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

TEST(Event, AutoResetLetsOneWaiterThroughPerSignalAndManualResetStaysSet) {
  plat::EventHandle event = plat::CreateEvent(false, false);
  ASSERT_NE(event, nullptr);
  EXPECT_FALSE(plat::WaitForEvent(event, 10));
  // A signal with nobody waiting is kept for the next wait, once.
  plat::SetEvent(event);
  plat::SetEvent(event);
  EXPECT_TRUE(plat::WaitForEvent(event, 0));
  EXPECT_FALSE(plat::WaitForEvent(event, 10));
  std::atomic<int> passed{0};
  std::vector<std::thread> waiters;
  for (int t = 0; t < 3; ++t) {
    waiters.emplace_back([&] {
      plat::WaitForEvent(event);
      ++passed;
    });
  }
  for (int signal = 1; signal <= 3; ++signal) {
    plat::SetEvent(event);
    while (passed.load() < signal) std::this_thread::yield();
    EXPECT_EQ(passed.load(), signal);
  }
  for (auto& waiter : waiters) waiter.join();
  plat::CloseEvent(event);
  event = plat::CreateEvent(true, true);
  EXPECT_TRUE(plat::WaitForEvent(event, 0));
  EXPECT_TRUE(plat::WaitForEvent(event, 0));  // still set
  plat::ResetEvent(event);
  EXPECT_FALSE(plat::WaitForEvent(event, 5));
  plat::CloseEvent(event);
}

// 42 when the creator had stored the thread's id before the thread started.
unsigned StartsWithItsIdStored(void* id_field) {
  return *static_cast<unsigned*>(id_field) == plat::GetCurrentThreadId() ? 42 : 0;
}

TEST(Thread, IdIsStoredBeforeTheThreadRuns) {
  for (int round = 0; round < 20; ++round) {
    unsigned id = 0;
    plat::ThreadHandle thread = plat::CreateThread(StartsWithItsIdStored, &id, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(plat::WaitForThread(thread), 42u);
    EXPECT_EQ(plat::WaitForThread(thread), 42u);  // waiting again is harmless
    plat::CloseThread(thread);
    EXPECT_NE(id, plat::GetCurrentThreadId());
  }
}

}  // namespace
