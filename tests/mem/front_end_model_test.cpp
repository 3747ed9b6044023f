// A random sequence of allocation operations through the entry points, checked against
// a byte-exact shadow copy of every live block. The program runs once under each heap.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "long_tests.h"
#include "varururor/varururor.h"

namespace {

struct Shadow {
  std::vector<unsigned char> bytes;
};

bool Keeps(unsigned char const* block, Shadow const& shadow, std::size_t length) {
  return length == 0 || std::memcmp(block, shadow.bytes.data(), length) == 0;
}

void Fill(unsigned char* block, Shadow& shadow, std::mt19937& random) {
  for (std::size_t i = 0; i < shadow.bytes.size(); ++i) {
    shadow.bytes[i] = static_cast<unsigned char>(random());
    block[i] = shadow.bytes[i];
  }
}

unsigned RandomSize(std::mt19937& random) {
  switch (random() % 8) {
    case 0:
      return 0;
    case 1:
    case 2:
    case 3:
      return random() % 129;  // where small blocks live
    case 4:
    case 5:
      return random() % 4096;
    case 6:
      return random() % 65536;
    default:
      return random() % (3u << 20);  // past the mapping thresholds
  }
}

TEST(FrontEndModel, TheExpectedHeapServesTheProcess) {
  void* p = mem_Malloc(1);
  mem_Free(p);
  EXPECT_EQ(mem_UseDL(), std::getenv("KVN_DLALLOCATOR") != nullptr ? 1 : 0);
}

TEST(FrontEndModel, RandomOperationsKeepEveryBlocksBytes) {
  std::mt19937 random(20261206);
  std::map<unsigned char*, Shadow> live;
  auto overlaps = [&](unsigned char* block, std::size_t size) {
    auto next = live.upper_bound(block);
    if (next != live.end() && block + size > next->first) return true;
    if (next != live.begin()) {
      auto previous = std::prev(next);
      if (previous->first + previous->second.bytes.size() > block) return true;
    }
    return false;
  };
  int const steps = vr_TestLength(2000, 6000);
  for (int step = 0; step < steps; ++step) {
    int choice = static_cast<int>(random() % 10);
    if (choice < 4 || live.size() < 4) {
      unsigned size = RandomSize(random);
      bool zeroed = choice == 3;
      unsigned count = zeroed ? 1 + random() % 8 : 1;
      unsigned char* block =
          static_cast<unsigned char*>(zeroed ? mem_Calloc(count, size / count) : mem_Malloc(size));
      std::size_t bytes = zeroed ? (size / count) * count : size;
      ASSERT_NE(block, nullptr) << "size " << bytes;
      ASSERT_EQ(reinterpret_cast<std::uintptr_t>(block) % 8, 0u);
      if (zeroed) {
        for (std::size_t i = 0; i < bytes; ++i) ASSERT_EQ(block[i], 0) << i;
      }
      ASSERT_FALSE(overlaps(block, bytes));
      Shadow shadow{std::vector<unsigned char>(bytes)};
      Fill(block, shadow, random);
      live.emplace(block, std::move(shadow));
      continue;
    }
    auto it = live.begin();
    std::advance(it, random() % live.size());
    unsigned char* block = it->first;
    Shadow shadow = std::move(it->second);
    live.erase(it);
    ASSERT_TRUE(Keeps(block, shadow, shadow.bytes.size()));
    if (choice < 7) {
      mem_Free(block);
      continue;
    }
    unsigned size =
        choice == 7 ? static_cast<unsigned>(shadow.bytes.size() / 2) : RandomSize(random);
    if (size == 0) size = 1;  // a zero-size resize may free the block under one heap
    unsigned char* moved = static_cast<unsigned char*>(mem_Realloc(block, size));
    ASSERT_NE(moved, nullptr);
    std::size_t kept = std::min<std::size_t>(size, shadow.bytes.size());
    ASSERT_TRUE(Keeps(moved, shadow, kept));
    ASSERT_FALSE(overlaps(moved, size));
    shadow.bytes.resize(size);
    Fill(moved, shadow, random);
    live.emplace(moved, std::move(shadow));
  }
  for (auto& [block, shadow] : live) {
    ASSERT_TRUE(Keeps(block, shadow, shadow.bytes.size()));
    mem_Free(block);
  }
}

TEST(FrontEndModel, NullAndFailuresAreHarmless) {
  mem_Free(nullptr);
  EXPECT_EQ(mem_Malloc(0xFFFFFFF0u), nullptr);
  EXPECT_EQ(mem_Calloc(0x10000, 0x10000), nullptr);
  void* p = mem_Malloc(32);
  ASSERT_NE(p, nullptr);
  std::memset(p, 0x11, 32);
  EXPECT_EQ(mem_Realloc(p, 0xFFFFFFF0u), nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(p)[31], 0x11);  // a failed resize keeps the block
  mem_Free(p);
  void* fresh = mem_Realloc(nullptr, 100);
  ASSERT_NE(fresh, nullptr);
  mem_Free(fresh);
}

TEST(FrontEndModel, ThreadsAllocateAndFreeConcurrently) {
  // The heap is chosen by the first allocation, which must come before other threads'.
  mem_Free(mem_Malloc(1));
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      std::mt19937 random(t);
      std::vector<std::pair<unsigned char*, unsigned char>> mine;
      for (int i = 0; i < 20000; ++i) {
        if (mine.size() < 50 || random() % 2) {
          unsigned size = 1 + random() % 1000;
          auto* block = static_cast<unsigned char*>(mem_Malloc(size));
          if (block == nullptr) {
            ++failures[t];
            continue;
          }
          auto mark = static_cast<unsigned char>(random());
          std::memset(block, mark, size < 16 ? size : 16);
          mine.emplace_back(block, mark);
        } else {
          std::size_t index = random() % mine.size();
          if (mine[index].first[0] != mine[index].second) ++failures[t];
          mem_Free(mine[index].first);
          mine[index] = mine.back();
          mine.pop_back();
        }
      }
      for (auto& entry : mine) mem_Free(entry.first);
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

}  // namespace
