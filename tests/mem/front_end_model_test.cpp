// The entry points and the thread-block pool behind them, once under each heap: random
// operations, the pool's switches changing and memory now and then short, against a model
// of every live block's bytes and of the pool's pages (slots from byte 80 on in order, the
// last freed first; a new page only when its class's are full; a class's only page kept).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "long_tests.h"
#include "mem/heap/heap_checker.h"
#include "mem/heap/heap_state.h"
#include "plat/fault_injection.h"
#include "tbpool/pool_checker.h"
#include "varururor/mem/block_table.h"
#include "varururor/varururor.h"

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#else
#define RUNNING_ON_VALGRIND 0
#endif

namespace {

using pool_check::CheckPool;
using pool_check::PageOf;

constexpr std::uintptr_t kFirstSlotOffset = 80;
constexpr unsigned kSlotArea = 4096 - kFirstSlotOffset;
constexpr unsigned kSlotBytes[] = {4, 8, 16, 32, 48, 64, 80, 96, 112, 128};
char const* const kTBMallocSettings[] = {"0", "01", "1", "", " 0", "x", "2", ""};
constexpr unsigned kTooLarge = 0xFFFFFFF0u;  // more than any heap of the process can give

int ClassOf(unsigned size) {
  auto fitting = std::lower_bound(std::begin(kSlotBytes), std::end(kSlotBytes), std::max(size, 1u));
  return static_cast<int>(fitting - std::begin(kSlotBytes));
}

int Capacity(int size_class) { return static_cast<int>(kSlotArea / kSlotBytes[size_class]); }

bool InPool(void const* p) { return mem::thread_block::CarriesPageMark(p); }

struct Block {
  unsigned char* address;
  unsigned size;
  unsigned char seed;
};

struct Page {
  int size_class;
  int handed_out;                     // slots ever handed out, from the first
  std::vector<std::uintptr_t> freed;  // the last freed at the back
};

int Live(Page const& page) { return page.handed_out - static_cast<int>(page.freed.size()); }

// No four bytes in a row are equal, as the page mark's are.
unsigned char ByteAt(Block const& model, unsigned i) {
  return static_cast<unsigned char>(model.seed + i * 131);
}

bool Keeps(unsigned char const* block, Block const& model, unsigned length) {
  for (unsigned i = 0; i < length; ++i) {
    if (block[i] != ByteAt(model, i)) return false;
  }
  return true;
}

unsigned RandomSize(std::mt19937& random) {
  unsigned kind = random() % 128;
  if (kind == 0) return random() % (1u << 20);  // past the mapping threshold
  if (kind == 1) return kTooLarge;
  if (kind < 12) return random() % 65536;
  return random() % (kind < 24 ? 4096 : 129);
}

class FrontEndModel : public ::testing::Test {
 protected:
  void SetUp() override { mem_Free(mem_Malloc(1)); }  // the heap is chosen before any page
  void TearDown() override {
    unsetenv("KVN_TBMALLOC");
    mem_TBThreadLock(false);
    mem_TBAllocator(0);
  }

  void Record(unsigned char* block, unsigned size) {
    blocks_.push_back(Block{block, size, static_cast<unsigned char>(random_())});
    for (unsigned i = 0; i < size; ++i) block[i] = ByteAt(blocks_.back(), i);
  }

  // A block just handed out for size bytes, by the pool when routed is set.
  void Allocated(unsigned char* block, unsigned size, bool routed) {
    ASSERT_NE(block, nullptr) << "size " << size;
    Record(block, size);
    ASSERT_EQ(InPool(block), routed) << "size " << size;
    if (!routed) return;
    int size_class = ClassOf(size);
    auto [it, made] = pages_.try_emplace(PageOf(block), Page{size_class, 0, {}});
    Page& model = it->second;
    for (auto const& [address, page] : pages_) {
      if (!made || address == it->first || page.size_class != size_class) continue;
      EXPECT_EQ(Live(page), Capacity(size_class)) << "a new page while another has a free slot";
    }
    ASSERT_EQ(model.size_class, size_class);
    std::uintptr_t expected =
        it->first + kFirstSlotOffset + kSlotBytes[size_class] * model.handed_out;
    if (model.freed.empty()) {
      ++model.handed_out;
    } else {
      expected = model.freed.back();
      model.freed.pop_back();
    }
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(block), expected);
    ASSERT_LE(model.handed_out, Capacity(size_class));
  }

  void FreedFromPool(unsigned char* block) {
    std::uintptr_t page = PageOf(block);
    Page& model = pages_.at(page);
    model.freed.push_back(reinterpret_cast<std::uintptr_t>(block));
    if (Live(model) > 0 || mem::thread_block::IsLivePage(page)) return;
    auto other = [&](auto const& entry) {
      return entry.first != page && entry.second.size_class == model.size_class;
    };
    EXPECT_TRUE(std::any_of(pages_.begin(), pages_.end(), other)) << "the only page went back";
    pages_.erase(page);
  }

  void Free(unsigned char* block) {
    bool pooled = InPool(block);
    mem_Free(block);
    if (pooled) FreedFromPool(block);
  }

  // A pool block's resize to 0 frees it; within its slot it stays; above 128 bytes it
  // moves to the heap, else to a slot of its new class.
  void Realloc(Block const& model, unsigned size) {
    unsigned char* block = model.address;
    bool pooled = InPool(block);
    auto* moved = static_cast<unsigned char*>(mem_Realloc(block, size));
    if (size == kTooLarge) {  // failed, it keeps the block
      EXPECT_EQ(moved, nullptr);
      return blocks_.push_back(model);
    }
    if (pooled && size == 0) {
      EXPECT_EQ(moved, nullptr);
      return FreedFromPool(block);
    }
    ASSERT_NE(moved, nullptr);
    ASSERT_TRUE(Keeps(moved, model, std::min(size, model.size)));
    if (pooled && size <= kSlotBytes[pages_.at(PageOf(block)).size_class]) {
      ASSERT_EQ(moved, block);
      return Record(block, size);
    }
    Allocated(moved, size, pooled && size < 129);
    if (pooled) FreedFromPool(block);
  }

  std::mt19937 random_{20261206};
  std::vector<Block> blocks_;
  std::map<std::uintptr_t, Page> pages_;
};

TEST_F(FrontEndModel, RandomOperationsKeepEveryBlockAndThePoolSound) {
  EXPECT_EQ(mem_UseDL(), std::getenv("KVN_DLALLOCATOR") != nullptr ? 1 : 0);
  ASSERT_EQ(mem::thread_block::ExistingPool(), nullptr) << "the model needs a process of its own";
  bool routing = true;
  mem_TBAllocator(2);
  for (int phase = 0; phase < vr_TestLength(6, 24); ++phase) {
    // Grow to thousands of blocks, pages for more than one run of them, then shrink.
    std::size_t target = phase % 2 == 0 ? 6000 + random_() % 8000 : random_() % 20;
    mem_TBThreadLock(phase % 4 == 2);  // the pool's own operations instead of the inline ones
    for (int step = 0; blocks_.size() != target && step < 30000; ++step) {
      if (random_() % 1000 == 0) {
        // KVN_TBMALLOC beginning with 0 keeps routing off whatever the mode; any mode but 0
        // and 2 leaves routing as it was.
        char const* setting = kTBMallocSettings[random_() % std::size(kTBMallocSettings)];
        int mode = static_cast<int>(random_() % 5) - 1;
        setenv("KVN_TBMALLOC", setting, 1);
        mem_TBAllocator(mode);
        routing = setting[0] != '0' && (mode == 2 || (mode != 0 && routing));
      }
      bool grow = blocks_.size() < target ? random_() % 4 != 0 : random_() % 4 == 0;
      unsigned size = RandomSize(random_);
      if (size == kTooLarge && (grow || blocks_.empty())) {
        EXPECT_EQ(mem_Malloc(size), nullptr);
        EXPECT_EQ(mem_Calloc(0x10000, 0x10000), nullptr);  // the product wraps to 0
        mem_Free(nullptr);  // with the pool seen, page 0 is still never read
      } else if (grow || blocks_.empty()) {
        unsigned count = random_() % 8 == 0 ? 1 + random_() % 8 : 0;  // mem_Calloc's, or none
        size = count != 0 ? size / count * count : size;
        auto* block = static_cast<unsigned char*>(count != 0 ? mem_Calloc(count, size / count)
                                                             : mem_Malloc(size));
        for (unsigned i = 0; count != 0 && block != nullptr && i < size; ++i)
          ASSERT_EQ(block[i], 0);
        Allocated(block, size, count == 0 && routing && size < 129);
      } else {
        std::size_t index = random_() % blocks_.size();
        Block model = blocks_[index];
        blocks_[index] = blocks_.back();
        blocks_.pop_back();
        ASSERT_TRUE(Keeps(model.address, model, model.size)) << "phase " << phase;
        if (random_() % 4 != 0) {
          Free(model.address);
        } else {
          // Only a pool block's resize to 0 is the same under both heaps: a free.
          Realloc(model, size == 0 && !InPool(model.address) ? 1 : size);
        }
      }
      if (HasFailure()) return;
      if (step % 1000 == 0) CheckPool();
    }
    CheckPool();
    if (HasFailure()) return;
  }
  for (Block const& model : blocks_) {
    ASSERT_TRUE(Keeps(model.address, model, model.size));
    Free(model.address);
  }
  CheckPool();
}

struct Held {
  unsigned char* p;
  unsigned filled;  // all of a library block; the first byte of another, since the mark
                    // test of a block may read another thread's block without a lock
  unsigned char fill;
  bool library;  // from the library heap directly, not through the entry points
};

bool Intact(Held const& block, unsigned n) {
  return std::all_of(block.p, block.p + n, [&](unsigned char c) { return c == block.fill; });
}

// Each thread allocates, resizes, verifies and frees its own blocks: up to 400 bytes through
// the entry points, larger from the library heap directly; the first thread also trims and
// checks that heap. Under a thread checker, fewer rounds still contend. The list of blocks
// lies on the stack, away from the pages whose start the mark test of another thread reads.
int Work(int index) {
  std::mt19937 random(index);
  std::array<Held, 2000> mine;
  std::size_t count = 0;
  int failures = 0;
  for (int i = 0; i < (RUNNING_ON_VALGRIND ? 1000 : 10000); ++i) {
    if (index == 0 && i % 200 == 0) {
      dlmalloc_trim(random() % 2 == 0 ? 0 : 1 << 20);
      failures += mem::heap::CheckHeap().ok ? 0 : 1;
    }
    unsigned roll = random() % 100;
    unsigned size = 1 + (roll < 60   ? random() % 400
                         : roll < 95 ? random() % 32768
                                     : (1 << 18) + random() % (1 << 20));
    bool library = size > 400;
    Held block{nullptr, library ? size : 1, static_cast<unsigned char>(random()), library};
    if (count < 50 || (roll % 2 == 0 && count < mine.size())) {
      block.p = static_cast<unsigned char*>(block.library ? dlmalloc(size) : mem_Malloc(size));
    } else {
      std::size_t at = random() % count;
      Held old = mine[at];
      mine[at] = mine[--count];
      failures += Intact(old, old.filled) ? 0 : 1;
      if (roll % 4 != 1) {
        old.library ? dlfree(old.p) : mem_Free(old.p);
        continue;
      }
      void* moved = old.library ? dlrealloc(old.p, size) : mem_Realloc(old.p, size);
      block =
          Held{static_cast<unsigned char*>(moved), old.library ? size : 1, old.fill, old.library};
      failures += block.p != nullptr && Intact(block, std::min(block.filled, old.filled)) ? 0 : 1;
    }
    if (block.p == nullptr) return failures + 1;
    mine[count++] = block;
    std::fill_n(block.p, block.filled, block.fill);
  }
  for (std::size_t at = 0; at < count; ++at) {
    mine[at].library ? dlfree(mine[at].p) : mem_Free(mine[at].p);
  }
  return failures;
}

// The library heap's lock cannot make its event the first 50 times it needs one, and must
// serialise its holders all the same.
TEST_F(FrontEndModel, ThreadsShareTheHeapAndThePool) {
  mem_TBAllocator(2);
  mem_TBThreadLock(true);
  plat::InjectFailures(plat::Operation::kCreateEvent, 0, 50);
  std::vector<std::thread> threads;
  std::vector<int> failures(4);
  for (int t = 0; t < 4; ++t) threads.emplace_back([t, &failures] { failures[t] = Work(t); });
  for (auto& thread : threads) thread.join();
  plat::ClearInjectedFailures();
  EXPECT_EQ(failures, std::vector<int>(4));
  EXPECT_EQ(mem::heap::g_heap_state.lock.count, 0);
  EXPECT_TRUE(mem::heap::CheckHeap().ok);
  mem_TBThreadLock(false);
  CheckPool();
}

TEST(Blocks, ATableMapsIdsAcrossItsGrowth) {
  mem_Allocator allocator(nullptr);
  mem_BlockTable table(allocator);
  ASSERT_TRUE(table.Ok());
  constexpr int kIds = 40 * 256 + 3;  // past the first 32 level-1 entries
  static char entries[kIds];          // distinct addresses to store
  for (int id = 0; id < kIds; id += 7) ASSERT_TRUE(table.Store(id, &entries[id]));
  for (int id = 0; id < kIds; id += 7) ASSERT_EQ(table.Get(id), &entries[id]);
}

// The library heap places the blocks one after the other: one of them holds the start of
// the page in which the next one begins, and writes {page address, mark} there. The free
// of the next block is still the heap's, and leaves the data alone.
TEST(ThreadBlockPoolOwnership, AMarkInAHeapBlocksDataDoesNotTakeAnotherBlocksFree) {
  EXPECT_IN_CHILD("^intact$", {
    setenv("KVN_DLALLOCATOR", "1", 1);
    mem_TBAllocator(2);
    std::vector<unsigned char*> blocks(200);
    for (auto& block : blocks) block = static_cast<unsigned char*>(mem_Malloc(200));
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i) {
      std::uintptr_t page = PageOf(blocks[i + 1]);
      // Where the pool keeps a page's records (80 bytes) lies in the block too.
      auto start = reinterpret_cast<std::uintptr_t>(blocks[i]);
      if (start > page || start + 200 < page + 80) continue;
      auto* forged = reinterpret_cast<std::uint32_t*>(page);
      forged[0] = static_cast<std::uint32_t>(page);
      forged[1] = 0xABABABABu;
      std::vector<unsigned char> copy(blocks[i], blocks[i] + 200);
      mem_Free(blocks[i + 1]);
      std::fputs(std::equal(copy.begin(), copy.end(), blocks[i]) ? "intact" : "changed", stderr);
      break;
    }
  });
}

}  // namespace
