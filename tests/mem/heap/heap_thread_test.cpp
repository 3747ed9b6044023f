// Threads: the heap lock on its own, four threads working the heap at once, and the lock
// left out while the process has a single thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "child_process.h"
#include "heap_test_support.h"
#include "mem/heap/heap_lock.h"

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#define VR_TEST_UNDER_VALGRIND() RUNNING_ON_VALGRIND
#else
#define VR_TEST_UNDER_VALGRIND() 0
#endif

namespace heap_test {
namespace {

constexpr int kThreads = 4;

// Under a thread checker everything runs tens of times slower; fewer rounds still contend.
int Rounds(int normal) { return VR_TEST_UNDER_VALGRIND() ? normal / 20 : normal; }

// Threads add to a plain counter under the lock, which cannot make its event the first
// 50 times it needs one; any overlap loses increments. Alone, the lock makes no event.
TEST(HeapThreads, LockSerialisesItsHolders) {
  mem::heap::HeapLock lock{};
  lock.Acquire();
  lock.Release();
  EXPECT_EQ(lock.event, nullptr);
  plat::InjectFailures(plat::Operation::kCreateEvent, 0, 50);
  long counter = 0;
  int rounds = Rounds(100000);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < rounds; ++i) {
        lock.Acquire();
        counter = counter + 1;
        lock.Release();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  plat::ClearInjectedFailures();
  EXPECT_EQ(counter, long{kThreads} * rounds);
  EXPECT_EQ(lock.count, 0);
  plat::CloseEvent(lock.event);
}

struct Held {
  unsigned char* p;
  std::size_t size;  // requested: the usable size's head may change under a neighbour's free
  unsigned char fill;
};

bool Intact(Held const& block, std::size_t n) {
  return std::all_of(block.p, block.p + n, [&](unsigned char c) { return c == block.fill; });
}

// One thread's share: its own blocks, allocated, resized, verified and freed at random.
// The first thread also reads the statistics, trims and checks the whole heap meanwhile.
void Work(int index, int rounds) {
  std::mt19937 rng(static_cast<std::uint32_t>(index + 1));
  std::vector<Held> held;
  auto size = [&rng] {
    std::uint32_t roll = rng() % 100;
    if (roll < 60) return std::size_t{rng() % 256};
    if (roll < 95) return std::size_t{rng() % (32 * kKiB)};
    return std::size_t{256 * kKiB + rng() % (768 * kKiB)};
  };
  auto keep = [&](void* p, std::size_t n) {
    ASSERT_NE(p, nullptr);
    held.push_back(Held{static_cast<unsigned char*>(p), n, static_cast<unsigned char>(rng())});
    std::memset(p, held.back().fill, n);
  };
  for (int i = 0; i < rounds; ++i) {
    std::uint32_t roll = rng() % 100;
    std::size_t at = held.empty() ? 0 : rng() % held.size();
    if (roll < 45 || held.empty()) {
      std::size_t n = size();
      keep(roll % 5 == 0 ? dlmemalign(64, n) : dlmalloc(n), n);
    } else {
      Held block = held[at];
      ASSERT_TRUE(Intact(block, block.size));
      held.erase(held.begin() + static_cast<std::ptrdiff_t>(at));
      if (roll < 60) {
        std::size_t n = 1 + size();
        auto p = static_cast<unsigned char*>(dlrealloc(block.p, n));
        ASSERT_TRUE(Intact(Held{p, n, block.fill}, std::min(block.size, n)));
        keep(p, n);
      } else {
        dlfree(block.p);
      }
    }
    if (index == 0 && i % 200 == 0) {
      dl_mallinfo info = dlmallinfo();
      EXPECT_EQ(info.uordblks + info.fordblks, info.arena + info.hblkhd);
      EXPECT_LE(dlfragmentationinfo(), info.fordblks);
      dlmalloc_trim(rng() % 2 == 0 ? 0 : kMiB);
      ASSERT_TRUE(HeapConsistent());
    }
  }
  for (Held const& block : held) dlfree(block.p);
}

TEST(HeapThreads, FourThreadsLoseNothing) {
  mem::heap::HeapCheck before = mem::heap::CheckHeap();
  ASSERT_TRUE(before.ok) << before.problem;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(Work, t, Rounds(20000));
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mem::heap::g_heap_state.lock.count, 0);
  mem::heap::HeapCheck after = mem::heap::CheckHeap();
  ASSERT_TRUE(after.ok) << after.problem;
  // Every chunk the threads took is free again.
  EXPECT_EQ(after.in_use_bytes, before.in_use_bytes);
}

// Holding the heap's lock from outside shows whether an operation takes it: alone in its
// process, an operation goes through and leaves the count as it was; once a second thread
// has existed, an operation on another thread waits for the holder. (A heap that took the
// lock while alone would wait for its own thread here, and the suite's time limit would
// end the test.)
void ShowWhetherOperationsTakeTheLock() {
  mem::heap::HeapLock& lock = mem::heap::g_heap_state.lock;
  dlfree(dlmalloc(16));
  lock.Acquire();
  dlfree(dlmalloc(100));
  std::fprintf(stderr, "alone: went through, count %ld\n", lock.count);
  lock.Release();

  std::thread([] {}).join();
  std::atomic<bool> done{false};
  lock.Acquire();
  std::thread other([&done] {
    dlfree(dlmalloc(100));
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  bool went_through = done;
  lock.Release();
  other.join();
  std::fprintf(stderr, "shared: %s\n", went_through ? "went through" : "waited for the holder");
  std::fprintf(stderr, "count %ld\n", lock.count);
}

TEST(HeapLockElision, OnlyWhileTheProcessHasOneThread) {
  EXPECT_IN_CHILD("alone: went through, count 1\nshared: waited for the holder\ncount 0",
                  ShowWhetherOperationsTakeTheLock());
}

}  // namespace
}  // namespace heap_test
