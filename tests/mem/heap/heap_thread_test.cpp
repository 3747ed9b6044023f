// Threads: the heap lock on its own, four threads working the heap at once, and the lock
// left out while the process has a single thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
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

// kThreads threads add to a plain counter under the lock; any overlap loses increments.
long CountUnderLock(mem::heap::HeapLock& lock, int rounds) {
  long counter = 0;
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
  return counter;
}

TEST(HeapThreads, LockSerialisesItsHolders) {
  mem::heap::HeapLock lock{};
  int rounds = Rounds(100000);
  EXPECT_EQ(CountUnderLock(lock, rounds), long{kThreads} * rounds);
  EXPECT_EQ(lock.count, 0);
  plat::CloseEvent(lock.event);
}

TEST(HeapThreads, LockWithoutContentionMakesNoEvent) {
  mem::heap::HeapLock lock{};
  for (int i = 0; i < 1000; ++i) {
    lock.Acquire();
    lock.Release();
  }
  EXPECT_EQ(lock.count, 0);
  EXPECT_EQ(lock.event, nullptr);
}

TEST(HeapThreads, LockWaitsOutARefusedEvent) {
  mem::heap::HeapLock lock{};
  plat::InjectFailures(plat::Operation::kCreateEvent, 0, 50);
  int rounds = Rounds(20000);
  EXPECT_EQ(CountUnderLock(lock, rounds), long{kThreads} * rounds);
  plat::ClearInjectedFailures();
  EXPECT_EQ(lock.count, 0);
  plat::CloseEvent(lock.event);
}

struct Held {
  char* p;
  std::size_t size;
  std::uint32_t seed;
};

// One thread's share: its own blocks, allocated, resized, verified and freed at random.
// The first thread also reads the statistics, trims and checks the whole heap meanwhile.
void Work(int index, int rounds, std::atomic<long>* allocations, std::atomic<long>* frees) {
  std::mt19937 rng(static_cast<std::uint32_t>(index + 1));
  std::vector<Held> held;
  std::uint32_t seed = static_cast<std::uint32_t>(index) << 24;
  auto size = [&rng] {
    std::uint32_t roll = rng() % 100;
    if (roll < 60) return std::size_t{rng() % 256};
    if (roll < 95) return std::size_t{rng() % (32 * kKiB)};
    return std::size_t{256 * kKiB + rng() % (768 * kKiB)};
  };
  // The requested size, not the usable one: dlmalloc_usable_size reads the chunk's head
  // without the lock, while a neighbour's free may flip its previous-in-use bit.
  auto keep = [&](void* p, std::size_t n) {
    Held block{static_cast<char*>(p), n, ++seed};
    Fill(block.p, block.size, block.seed);
    held.push_back(block);
    ++*allocations;
  };
  for (int i = 0; i < rounds; ++i) {
    std::uint32_t roll = rng() % 100;
    if (roll < 45 || held.empty()) {
      std::size_t n = size();
      void* p = roll % 5 == 0 ? dlmemalign(64, n) : dlmalloc(n);
      ASSERT_NE(p, nullptr);
      keep(p, n);
    } else if (roll < 60) {
      std::size_t at = rng() % held.size();
      Held block = held[at];
      std::size_t n = 1 + size();
      void* p = dlrealloc(block.p, n);
      ASSERT_NE(p, nullptr);
      ASSERT_TRUE(Intact(p, std::min(block.size, n), block.seed));
      held.erase(held.begin() + static_cast<std::ptrdiff_t>(at));
      --*allocations;
      keep(p, n);
    } else {
      std::size_t at = rng() % held.size();
      Held block = held[at];
      ASSERT_TRUE(Intact(block.p, block.size, block.seed));
      dlfree(block.p);
      held.erase(held.begin() + static_cast<std::ptrdiff_t>(at));
      ++*frees;
    }
    if (index == 0 && i % 200 == 0) {
      dl_mallinfo info = dlmallinfo();
      EXPECT_EQ(info.uordblks + info.fordblks, info.arena + info.hblkhd);
      EXPECT_LE(dlfragmentationinfo(), info.fordblks);
      dlmalloc_trim(rng() % 2 == 0 ? 0 : kMiB);
      mem::heap::HeapCheck check = mem::heap::CheckHeap();
      ASSERT_TRUE(check.ok) << check.problem;
    }
  }
  for (Held const& block : held) {
    ASSERT_TRUE(Intact(block.p, block.size, block.seed));
    dlfree(block.p);
    ++*frees;
  }
}

TEST(HeapThreads, FourThreadsLoseNothing) {
  mem::heap::HeapCheck before = mem::heap::CheckHeap();
  ASSERT_TRUE(before.ok) << before.problem;
  std::atomic<long> allocations{0};
  std::atomic<long> frees{0};
  std::vector<std::thread> threads;
  int rounds = Rounds(20000);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back(Work, t, rounds, &allocations, &frees);
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(allocations.load(), frees.load());
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
