// What a client sees of the thread-block pool stays as described however the pool keeps
// its state: the slot order within a page, the page format, the words of a page given
// back. And what the pool keeps beside its pages (list tails, runs, page maps) stays
// sound; heap blocks whose data looks like a page mark stay the heap's; misused pointers
// stop the process with one line.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "child_process.h"
#include "mem/blocks/size_classes.h"
#include "pool_state_checker.h"
#include "varururor/varururor.h"

namespace {

using pool_check::PageOf;

constexpr std::uintptr_t kFirstSlotOffset = 80;
constexpr std::uint32_t kReleasedPageWord = 0xDEADBEEFu;

class ThreadBlockPoolContract : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("KVN_TBMALLOC");
    mem_Free(mem_Malloc(1));  // the heap is chosen before the pool makes pages
    mem_TBAllocator(2);
  }
  void TearDown() override {
    mem_TBThreadLock(false);
    mem_TBAllocator(0);
  }
};

std::uintptr_t OffsetInPage(void const* p) {
  return reinterpret_cast<std::uintptr_t>(p) & (mem_TBPool::kPageBytes - 1);
}

std::uint32_t const* WordsOfPage(std::uintptr_t page) {
  return reinterpret_cast<std::uint32_t const*>(page);
}

// The first slot of a page whose other slots were never handed out (a page just made, as
// far as its slots go); the slots taken on the way go to taken.
void* FirstSlotOfAFreshPage(unsigned size, std::vector<void*>& taken) {
  int size_class = mem::blocks::ClassOf(size);
  for (;;) {
    void* p = mem_Malloc(size);
    mem::blocks::FixedRegion const* head = mem::thread_block::g_head_region[size_class];
    bool untouched_after =
        OffsetInPage(p) == kFirstSlotOffset && head != nullptr && PageOf(head) == PageOf(p) &&
        head->FirstFree() == mem::blocks::FixedRegion::kHeaderWords + head->SlotWords() &&
        *head->SlotAt(head->FirstFree()) == mem::blocks::FixedRegion::kNeverUsed;
    if (untouched_after) return p;
    taken.push_back(p);
  }
}

// For every class, random allocations and frees within one page against a model of the
// page's region: a freed slot is the next one handed out (last freed, first out), and
// only then the slots never handed out, in address order. Then the page's records as
// described, and the words of the page when it goes back.
TEST_F(ThreadBlockPoolContract, EachClassHandsOutAPagesSlotsInTheRegionsOrder) {
  std::mt19937 random(21);
  for (int size_class = 0; size_class < mem::blocks::kClassCount; ++size_class) {
    SCOPED_TRACE(size_class);
    unsigned slot_bytes = mem::blocks::kSlotWords[size_class] * mem::blocks::kWordBytes;
    int capacity =
        static_cast<int>((mem::thread_block::kPoolPageBytes - kFirstSlotOffset) / slot_bytes);
    std::vector<void*> taken;
    // Two fresh pages in one run, so that the run stays when the second goes back: the
    // first page filled, then the second begun.
    std::vector<void*> kept;  // the first page's slots
    void* second = nullptr;
    std::uintptr_t page = 0;
    do {
      taken.insert(taken.end(), kept.begin(), kept.end());
      kept.assign(1, second != nullptr ? second : FirstSlotOfAFreshPage(slot_bytes, taken));
      page = PageOf(kept[0]);
      for (int slot = 1; slot < capacity; ++slot) kept.push_back(mem_Malloc(slot_bytes));
      second = FirstSlotOfAFreshPage(slot_bytes, taken);
    } while (mem::thread_block::RunOfPage(PageOf(second)) != mem::thread_block::RunOfPage(page));
    void* first = kept.back();
    kept.pop_back();

    // The second page is the head now; work on it against the model.
    std::uintptr_t worked = PageOf(second);
    std::vector<std::uintptr_t> model_free;  // the page's free list, last freed at the back
    int never_used = 1;                      // slots handed out from the start of the page
    std::vector<void*> live{second};
    auto slot_at = [&](int index) { return worked + kFirstSlotOffset + slot_bytes * index; };
    for (int step = 0; step < 400; ++step) {
      bool allocate =
          live.size() < 2 || (static_cast<int>(live.size()) < capacity - 1 && random() % 2 == 0);
      if (allocate) {
        std::uintptr_t expected = model_free.empty() ? slot_at(never_used++) : model_free.back();
        if (!model_free.empty()) model_free.pop_back();
        void* p = mem_Malloc(slot_bytes - static_cast<unsigned>(random() % 4));
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p), expected) << "step " << step;
        live.push_back(p);
      } else {
        std::size_t index = random() % live.size();
        model_free.push_back(reinterpret_cast<std::uintptr_t>(live[index]));
        mem_Free(live[index]);
        live[index] = live.back();
        live.pop_back();
      }
    }

    // The page's records.
    mem_TBPool* pool = mem::thread_block::ExistingPool();
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(WordsOfPage(worked)[0], worked);
    EXPECT_EQ(WordsOfPage(worked)[1], 0xABABABABu);
    mem_FixedBlock* block = mem_TBPool::BlockOfPage(worked);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block->Memory()), worked + 16);
    EXPECT_EQ(block->Words(), 1020);
    EXPECT_EQ(block->Ownership(), mem_BlockFixed);
    EXPECT_EQ(pool->TableEntry(block->Id()), block);
    mem::blocks::FixedRegion const& region = block->Region();
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&region), worked + 48);
    EXPECT_EQ(region.Start(), 8);
    EXPECT_EQ(region.SizeClass(), size_class);
    EXPECT_EQ(region.Length(), 1012);
    EXPECT_EQ(region.SlotWords(), static_cast<int>(slot_bytes / 4));
    EXPECT_EQ(region.AllocCount(), static_cast<int>(live.size() * slot_bytes / 4));
    std::uintptr_t expected_first_free =
        model_free.empty() ? slot_at(never_used) : model_free.back();
    EXPECT_EQ(
        region.FirstFree(),
        static_cast<int>((expected_first_free - reinterpret_cast<std::uintptr_t>(&region)) / 4));
    pool_state_check::CheckAll();

    // A slot of the first page links it in again, so the worked page has a neighbour and
    // goes back when it empties; its run stays, since the first page is in it and in use.
    mem_Free(first);
    for (void* p : live) mem_Free(p);
    EXPECT_EQ(WordsOfPage(worked)[0], kReleasedPageWord);
    EXPECT_EQ(WordsOfPage(worked)[1], kReleasedPageWord);
    EXPECT_FALSE(mem::thread_block::IsLivePage(worked));
    EXPECT_TRUE(mem::thread_block::IsLivePage(page));
    for (void* p : kept) mem_Free(p);
    for (void* p : taken) mem_Free(p);
    pool_state_check::CheckAll();
  }
}

// Phases of growth and shrinking through the entry points, with realloc and routing and
// the lock switch changing along the way, against byte-exact copies; the pages, the
// tails and the runs checked throughout.
TEST_F(ThreadBlockPoolContract, RandomPhasesKeepThePagesTailsAndRunsSound) {
  std::mt19937 random(2126);
  std::map<unsigned char*, std::vector<unsigned char>> live;
  auto fill = [&](unsigned char* block, std::vector<unsigned char>& shadow) {
    for (std::size_t i = 0; i < shadow.size(); ++i)
      block[i] = shadow[i] = static_cast<unsigned char>(random());
  };
  auto intact = [&](unsigned char* block, std::vector<unsigned char> const& shadow, std::size_t n) {
    return n == 0 || std::memcmp(block, shadow.data(), n) == 0;
  };
  auto size_of_request = [&] {
    return random() % 16 != 0 ? static_cast<unsigned>(random() % 129)
                              : static_cast<unsigned>(129 + random() % 2000);
  };
  for (int phase = 0; phase < 8; ++phase) {
    // Grow to a few thousand blocks (enough for several runs), then shrink to a few.
    std::size_t target = phase % 2 == 0 ? 3000 + random() % 6000 : random() % 20;
    if (phase == 4) mem_TBThreadLock(true);
    if (phase == 6) mem_TBThreadLock(false);
    for (int step = 0; live.size() != target && step < 40000; ++step) {
      bool grow = live.size() < target ? random() % 4 != 0 : random() % 4 == 0;
      if (random() % 500 == 0) mem_TBAllocator(random() % 3 == 0 ? 0 : 2);
      if (grow || live.empty()) {
        unsigned size = size_of_request();
        auto* block = static_cast<unsigned char*>(mem_Malloc(size));
        ASSERT_NE(block, nullptr);
        ASSERT_EQ(live.count(block), 0u);
        std::vector<unsigned char> shadow(size);
        fill(block, shadow);
        live.emplace(block, std::move(shadow));
        continue;
      }
      auto it = live.begin();
      std::advance(it, random() % live.size());
      unsigned char* block = it->first;
      std::vector<unsigned char> shadow = std::move(it->second);
      live.erase(it);
      ASSERT_TRUE(intact(block, shadow, shadow.size())) << "phase " << phase;
      if (random() % 5 != 0) {
        mem_Free(block);
        continue;
      }
      unsigned size = size_of_request() + 1;
      auto* moved = static_cast<unsigned char*>(mem_Realloc(block, size));
      ASSERT_NE(moved, nullptr);
      ASSERT_TRUE(intact(moved, shadow, std::min<std::size_t>(size, shadow.size())));
      shadow.resize(size);
      fill(moved, shadow);
      live.emplace(moved, std::move(shadow));
      if (step % 700 == 0) {
        pool_state_check::CheckAll();
        if (HasFailure()) return;
      }
    }
    pool_state_check::CheckAll();
    if (HasFailure()) return;
  }
  for (auto& [block, shadow] : live) {
    ASSERT_TRUE(intact(block, shadow, shadow.size()));
    mem_Free(block);
  }
  pool_state_check::CheckAll();
}

// A heap block whose data holds {page address, mark} at a page boundary inside it: the
// free of another heap block of that page is still the heap's, and the data is untouched.
// The library heap places the blocks one after the other (under the address sanitizer
// the platform heap would keep them apart).
TEST(ThreadBlockPoolOwnership, AMarkInAHeapBlocksDataDoesNotTakeAnotherBlocksFree) {
  EXPECT_IN_CHILD(
      "^heap block freed, data intact$", setenv("KVN_DLALLOCATOR", "1", 1); mem_Free(mem_Malloc(1));
      mem_TBAllocator(2); mem_Free(mem_Malloc(16)); constexpr unsigned kSize = 200;
      std::vector<unsigned char*> blocks; for (int i = 0; i < 200; ++i) blocks.push_back(
          static_cast<unsigned char*>(mem_Malloc(kSize)));
      // A block with a page boundary at least 80 bytes from its end, and a later block that
      // begins in that page.
      for (std::size_t i = 0; i + 1 < blocks.size(); ++i) {
        std::uintptr_t start = reinterpret_cast<std::uintptr_t>(blocks[i]);
        std::uintptr_t page = (start + 4095) & ~std::uintptr_t{4095};
        if (page == start || page + 80 > start + kSize) continue;
        std::size_t j = i + 1;
        while (j < blocks.size() && PageOf(blocks[j]) != page) ++j;
        if (j == blocks.size()) continue;
        std::memset(blocks[i], 0x5A, kSize);
        auto* forged = reinterpret_cast<std::uint32_t*>(page);
        forged[0] = static_cast<std::uint32_t>(page);
        forged[1] = 0xABABABABu;
        std::vector<unsigned char> copy(blocks[i], blocks[i] + kSize);
        mem_Free(blocks[j]);
        blocks[j] = nullptr;
        std::fprintf(stderr, "heap block freed, data %s",
                     std::memcmp(copy.data(), blocks[i], kSize) == 0 ? "intact" : "changed");
        break;
      } for (unsigned char* block
             : blocks) mem_Free(block));
}

void* Slot(unsigned size) { return mem_Malloc(size); }
char* Bytes(void* p) { return static_cast<char*>(p); }
char* PageStart(void* p) { return reinterpret_cast<char*>(PageOf(p)); }

// Misuse of a pool block, on the common path and with the lock switch on (the pool's own
// operations): one line on standard error, then abort.
TEST(ThreadBlockPoolMisuse, APointerThatIsNoLiveSlotStopsTheProcessWithOneLine) {
  char const kInterior[] =
      "^VaruRuror: mem_Free\\(0x[0-9a-f]{8}\\): not the start of a small block\n$";
  char const kLastFreed[] =
      "^VaruRuror: mem_Free\\(0x[0-9a-f]{8}\\): small block freed twice \\(it is the last block "
      "freed on its page\\)\n$";
  char const kEmptyPage[] =
      "^VaruRuror: mem_Free\\(0x[0-9a-f]{8}\\): small block freed twice \\(its page has no block "
      "in use\\)\n$";
  for (bool locked : {false, true}) {
    SCOPED_TRACE(locked ? "lock switch on" : "lock switch off");
    auto start = [locked] {
      mem_Free(mem_Malloc(1));
      mem_TBAllocator(2);
      mem_TBThreadLock(locked);
    };
    EXPECT_ABORT_IN_CHILD(kInterior, start(); void* p = Slot(32); Slot(32); mem_Free(Bytes(p) + 4));
    EXPECT_ABORT_IN_CHILD(kInterior, start(); void* p = Slot(48); Slot(48);
                          mem_Free(Bytes(p) + 32));
    // Before the first slot (the records) and past the last slot of a 128-byte page.
    EXPECT_ABORT_IN_CHILD(kInterior, start(); void* p = Slot(128); Slot(128);
                          mem_Free(PageStart(p) + 64));
    EXPECT_ABORT_IN_CHILD(kInterior, start(); void* p = Slot(128); Slot(128);
                          mem_Free(PageStart(p) + 80 + 31 * 128));
    EXPECT_ABORT_IN_CHILD(kLastFreed, start(); void* p = Slot(32); Slot(32); mem_Free(p);
                          mem_Free(p));
    EXPECT_ABORT_IN_CHILD(kEmptyPage, start(); void* p = Slot(100); mem_Free(p); mem_Free(p));
    EXPECT_ABORT_IN_CHILD(
        "^VaruRuror: mem_Realloc\\(0x[0-9a-f]{8}\\): not the start of a small block\n$", start();
        void* p = Slot(24); Slot(24); mem_Realloc(Bytes(p) + 8, 10));
  }
}

}  // namespace
