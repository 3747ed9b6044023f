// Random operations through the allocation entry points, with the thread-block switches
// and the pool's lock switch changing along the way, against a byte-exact model of every
// live block. The pool's blocks are also held against a model of its pages: each page's
// slots from byte 80 on in order, the last freed first; a new page only when every page of
// its class is full; the only page of a class kept when it empties. The pool's records are
// walked throughout. Blocks that overlap show as bytes changed. The program runs once
// under each heap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "long_tests.h"
#include "tbpool/pool_checker.h"
#include "varururor/varururor.h"

namespace {

using pool_check::CheckPool;
using pool_check::PageOf;

constexpr std::uintptr_t kFirstSlotOffset = 80;
constexpr unsigned kSlotBytes[] = {4, 8, 16, 32, 48, 64, 80, 96, 112, 128};
char const* const kTBMallocSettings[] = {"0", "01", "1", "", " 0", "x", "2", ""};

int ClassOf(unsigned size) {
  auto fitting = std::lower_bound(std::begin(kSlotBytes), std::end(kSlotBytes), std::max(size, 1u));
  return static_cast<int>(fitting - std::begin(kSlotBytes));
}

int Capacity(int size_class) {
  return static_cast<int>((4096 - kFirstSlotOffset) / kSlotBytes[size_class]);
}

bool InPool(void const* p) { return mem::thread_block::CarriesPageMark(p); }

struct Block {
  unsigned char* address;
  unsigned size;
  unsigned char seed;
};

struct Page {
  int size_class;
  int handed_out;  // slots ever handed out, from the first
  int live;
  std::vector<std::uintptr_t> freed;  // the last freed at the back
};

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
    if (!routed) {
      ASSERT_EQ(reinterpret_cast<std::uintptr_t>(block) % 8, 0u);
      return;
    }
    int size_class = ClassOf(size);
    std::uintptr_t page = PageOf(block);
    auto it = pages_.find(page);
    if (it == pages_.end()) {
      for (auto const& [other, model] : pages_) {
        EXPECT_TRUE(model.size_class != size_class || model.live == Capacity(size_class))
            << "a new page while another of class " << size_class << " has a free slot";
      }
      it = pages_.emplace(page, Page{size_class, 0, 0, {}}).first;
    }
    Page& model = it->second;
    ASSERT_EQ(model.size_class, size_class);
    std::uintptr_t expected = page + kFirstSlotOffset + kSlotBytes[size_class] * model.handed_out;
    if (model.freed.empty()) {
      ++model.handed_out;
    } else {
      expected = model.freed.back();
      model.freed.pop_back();
    }
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(block), expected);
    ASSERT_LE(model.handed_out, Capacity(size_class));
    ++model.live;
  }

  void FreedFromPool(unsigned char* block) {
    std::uintptr_t page = PageOf(block);
    Page& model = pages_.at(page);
    model.freed.push_back(reinterpret_cast<std::uintptr_t>(block));
    if (--model.live > 0 || mem::thread_block::IsLivePage(page)) return;
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
      if ((grow || blocks_.empty()) && random_() % 8 == 0) {
        unsigned count = 1 + random_() % 8;
        auto* block = static_cast<unsigned char*>(mem_Calloc(count, size / count));
        ASSERT_NE(block, nullptr);
        for (unsigned i = 0; i < size / count * count; ++i) ASSERT_EQ(block[i], 0) << i;
        Allocated(block, size / count * count, false);
      } else if (grow || blocks_.empty()) {
        Allocated(static_cast<unsigned char*>(mem_Malloc(size)), size, routing && size < 129);
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

TEST_F(FrontEndModel, FailuresAreHarmlessAndAFailedResizeKeepsTheBlock) {
  EXPECT_EQ(mem_Malloc(0xFFFFFFF0u), nullptr);
  EXPECT_EQ(mem_Calloc(0x10000, 0x10000), nullptr);
  mem_Free(mem_Realloc(nullptr, 100));
  for (int routing : {0, 2}) {
    mem_TBAllocator(routing);
    mem_Free(nullptr);  // with the pool seen, page 0 is still never read
    auto* p = static_cast<unsigned char*>(mem_Malloc(32));
    std::memset(p, 0x11, 32);
    EXPECT_EQ(mem_Realloc(p, 0xFFFFFFF0u), nullptr);
    EXPECT_EQ(p[31], 0x11);
    mem_Free(p);
  }
}

// At the library heap's memory limit the pool takes single pages once a run of them is
// refused, gives null only when the heap has no page left, and stays sound.
TEST_F(FrontEndModel, AtTheMemoryLimitThePoolAnswersNull) {
  if (mem_UseDL() == 0) GTEST_SKIP() << "the memory limit is the library heap's";
  mem_TBAllocator(2);
  ASSERT_EQ(mem_Mallopt(DL_M_MEMORY_LIMIT, static_cast<int>(mem_Footprint() + (512u << 10))), 1);
  std::vector<void*> blocks;
  for (void* p; blocks.size() < 100000 && (p = mem_Malloc(128)) != nullptr;) blocks.push_back(p);
  EXPECT_LT(blocks.size(), 100000u);
  EXPECT_EQ(mem_ErrorMemoryLimit(), -1);
  void* page = dlmemalign(4096, 4096);
  EXPECT_EQ(page, nullptr) << "the pool gave up while the heap had a page";
  dlfree(page);
  CheckPool();
  mem_Mallopt(DL_M_MEMORY_LIMIT, 0);
  for (void* p : blocks) mem_Free(p);
  CheckPool();
}

TEST_F(FrontEndModel, ThreadsShareTheHeapAndThePool) {
  mem_TBAllocator(2);
  mem_TBThreadLock(true);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      std::mt19937 random(t);
      std::vector<std::pair<unsigned char*, unsigned char>> mine;
      for (int i = 0; i < 10000; ++i) {
        if (mine.size() < 50 || random() % 2) {
          auto* block = static_cast<unsigned char*>(mem_Malloc(1 + random() % 400));
          mine.emplace_back(block, static_cast<unsigned char>(random()));
          if (block != nullptr) *block = mine.back().second;
          continue;
        }
        std::size_t index = random() % mine.size();
        auto& [block, mark] = mine[index];
        if (random() % 4 == 0) {
          block = static_cast<unsigned char*>(mem_Realloc(block, 1 + random() % 400));
        }
        if (block == nullptr || *block != mark) ++failures[t];
        mem_Free(block);
        mine[index] = mine.back();
        mine.pop_back();
      }
      for (auto& entry : mine) mem_Free(entry.first);
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
  mem_TBThreadLock(false);
  CheckPool();
}

}  // namespace
