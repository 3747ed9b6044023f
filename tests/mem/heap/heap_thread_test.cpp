// Four threads working the heap at once, while the lock cannot make its event the first 50
// times it needs one: it must serialise its holders all the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "heap_test_support.h"

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#else
#define RUNNING_ON_VALGRIND 0
#endif

namespace heap_test {
namespace {

struct Held {
  unsigned char* p;
  std::size_t size;  // requested: the usable size's head may change under a neighbour's free
  unsigned char fill;
};

bool Intact(Held const& block, std::size_t n) {
  return std::all_of(block.p, block.p + n, [&](unsigned char c) { return c == block.fill; });
}

// Each thread allocates, resizes, verifies and frees its own blocks at random; the first
// one also trims and checks the whole heap meanwhile. Under a thread checker everything
// runs tens of times slower; fewer rounds still contend.
void Work(int index) {
  std::mt19937 rng(static_cast<std::uint32_t>(index + 1));
  std::vector<Held> held;
  auto size = [&rng] {
    std::uint32_t roll = rng() % 100;
    return roll < 60 ? rng() % 256 : roll < 95 ? rng() % (32 * kKiB) : 256 * kKiB + rng() % kMiB;
  };
  for (int i = 0; i < (RUNNING_ON_VALGRIND ? 1000 : 20000); ++i) {
    if (index == 0 && i % 200 == 0) {
      dlmalloc_trim(rng() % 2 == 0 ? 0 : kMiB);
      ASSERT_TRUE(HeapConsistent());
    }
    std::uint32_t roll = rng() % 100;
    std::size_t n = size();
    void* p = nullptr;
    if (roll < 45 || held.empty()) {
      p = roll % 5 == 0 ? dlmemalign(64, n) : dlmalloc(n);
    } else {
      std::size_t at = rng() % held.size();
      Held block = held[at];
      ASSERT_TRUE(Intact(block, block.size));
      held.erase(held.begin() + static_cast<std::ptrdiff_t>(at));
      if (roll >= 60) {
        dlfree(block.p);
        continue;
      }
      p = dlrealloc(block.p, ++n);
      ASSERT_TRUE(
          Intact(Held{static_cast<unsigned char*>(p), n, block.fill}, std::min(block.size, n)));
    }
    ASSERT_NE(p, nullptr);
    held.push_back(Held{static_cast<unsigned char*>(p), n, static_cast<unsigned char>(rng())});
    std::memset(p, held.back().fill, n);
  }
  for (Held const& block : held) dlfree(block.p);
}

TEST(HeapThreads, FourThreadsLoseNothing) {
  mem::heap::HeapCheck before = mem::heap::CheckHeap();
  plat::InjectFailures(plat::Operation::kCreateEvent, 0, 50);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back(Work, t);
  for (std::thread& thread : threads) thread.join();
  plat::ClearInjectedFailures();
  EXPECT_EQ(mem::heap::g_heap_state.lock.count, 0);
  mem::heap::HeapCheck after = mem::heap::CheckHeap();
  ASSERT_TRUE(before.ok && after.ok) << after.problem;
  EXPECT_EQ(after.in_use_bytes, before.in_use_bytes);
}

}  // namespace
}  // namespace heap_test
