// The heap in a program of its own, untouched by other tests first: first use and misuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "heap_test_support.h"
#include "varururor/varururor.h"

namespace heap_test {
namespace {

using mem::heap::g_heap_params;

alignas(16) unsigned char g_never_handed_out[64];

TEST(HeapFirstUse, FromNothingToTheFirstBlocks) {
  ASSERT_EQ(g_heap_params.page_size, 0u) << "the heap was used before this test";
  // Before the heap holds anything, no pointer is one of its blocks.
  EXPECT_EXIT(dlfree(g_never_handed_out + 16), ::testing::KilledBySignal(SIGABRT), "not a");
  EXPECT_EQ(dlmalloc_footprint() + dlmalloc_max_footprint() + dlmalloc_memory_limit(), 0u);
  dl_mallinfo const info = dlmallinfo(), zeros{};
  EXPECT_EQ(std::memcmp(&info, &zeros, sizeof info), 0);
  EXPECT_EQ(dlfragmentationinfo(), 0u);

  // 256 KiB first: the initial segment (made as for 16 bytes, all top), then its own mapping.
  void* big = dlmalloc(256 * kKiB);
  ASSERT_NE(big, nullptr);
  std::size_t mapping = MappingSizeFor(ChunkSizeFor(256 * kKiB));
  EXPECT_EQ(mem::heap::MappingSizeOf(big), mapping);
  EXPECT_EQ(dlmalloc_footprint(), kGranularity + mapping);
  // The top is all of the segment but its 8-byte lead and the 56 bytes kept at its end.
  EXPECT_EQ(dlmallinfo().keepcost, kGranularity - 8 - kTopFoot);

  dlfree(big);
  EXPECT_EQ(dlmalloc_footprint(), kGranularity);
  EXPECT_EQ(dlmalloc_max_footprint(), kGranularity + mapping);

  // The threshold is a chunk size: 256 KiB - 4 pads to it; 256 KiB - 20 gets a new segment.
  void* at_threshold = dlmalloc(256 * kKiB - 4);
  void* below_threshold = dlmalloc(256 * kKiB - 20);
  EXPECT_EQ(mem::heap::MappingSizeOf(at_threshold), mapping);
  EXPECT_EQ(mem::heap::MappingSizeOf(below_threshold), 0u);
  EXPECT_EQ(dlmalloc_footprint(),
            kGranularity + mapping + SegmentSizeFor(ChunkSizeFor(256 * kKiB - 20)));
  EXPECT_TRUE(HeapConsistent({at_threshold, below_threshold}));
  // Arguments no heap could serve.
  EXPECT_EQ(dlmemalign(0x80000001u, 16), nullptr);
  EXPECT_EQ(dlmemalign(0xFFFFFFFFu, 16), nullptr);
  EXPECT_EQ(dlmalloc_usable_size(nullptr), 0u);
  EXPECT_EQ(internal_dlfragmentationinfo(nullptr), 0u);
}

struct Misuse {
  char const* what;
  char const* operation;  // the one blamed; null for damage, which blames none (dlfree finds it)
  void* address;
  char const* finding;  // a regular expression for the rest of the line
  std::function<void()> damage;
};

// Exactly one line, and nothing else.
std::string ExpectedLine(Misuse const& misuse) {
  std::string line = "^VaruRuror: ";
  if (misuse.operation != nullptr) {
    char address[32];
    std::snprintf(address, sizeof address, "0x%08lx",
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(misuse.address)));
    line = line + misuse.operation + "\\(" + address + "\\): ";
  }
  return line + misuse.finding + "\n$";
}

void Operate(std::string const& operation, void* address) {
  if (operation == "dlrealloc") dlrealloc(address, 10);
  if (operation == "mem_Realloc") mem_Realloc(address, 10);
  if (operation == "mem_Free") mem_Free(address);
  if (operation == "dlfree" || operation.empty()) dlfree(address);
}

constexpr char kNotLive[] = "not a live block \\(freed already[^\n]*";
constexpr char kTagsOverwritten[] = "boundary tags overwritten[^\n]*";
constexpr char kDamaged[] = "library heap damaged: a free block's links[^\n]*";
constexpr char kInterior[] = "not the start of a small block";

// Three blocks of n bytes cut one after another: their chunks lie side by side.
std::vector<char*> AdjacentBlocks(std::size_t n) {
  std::vector<char*> blocks;
  for (int i = 0; i < 3; ++i) blocks.push_back(static_cast<char*>(dlmalloc(n)));
  EXPECT_EQ(blocks[1], blocks[0] + ChunkSizeFor(n));
  EXPECT_EQ(blocks[2], blocks[1] + ChunkSizeFor(n));
  return blocks;
}

// Two slots of the thread-block pool, so that the page stays in use; the first.
char* Slot(unsigned size) {
  auto* first = static_cast<char*>(mem_Malloc(size));
  mem_Malloc(size);
  return first;
}

// Each misuse dlfree and dlrealloc find, damage found unlinking a free chunk, and a pointer to
// no live slot of the pool end the process with one line: what was found, the call, the address.
TEST(HeapMisuse, EachMisuseAndDamageEndsTheProcessSayingWhatWasFound) {
  // A forked child, not a fresh run of the program: the blocks lie where they lie here.
  GTEST_FLAG_SET(death_test_style, "fast");
  // The pool's pages first, so that they take no free chunk the heap's cases count on.
  mem_TBAllocator(2);
  char* slot = Slot(32);
  char* page_of_128 = Slot(128);  // the first of a fresh page
  char* slot_of_48 = Slot(48);
  void* alone = mem_Malloc(100);  // the only block of its page
  std::vector<char*> tags = AdjacentBlocks(100);
  std::vector<char*> small = AdjacentBlocks(100);   // the middle one freed: in a small bin
  std::vector<char*> large = AdjacentBlocks(5000);  // the middle one freed: in a tree bin
  std::memset(tags[2], 0x02, 100);
  char* looks_in_use = static_cast<char*>(dlmalloc(256));
  std::memset(looks_in_use, 0x03, 256);  // any word of it, read as a head, says "in use"
  char* mapped = static_cast<char*>(dlmalloc(kMiB));
  ASSERT_NE(mem::heap::MappingSizeOf(mapped), 0u);
  dlfree(large[1]);
  dlfree(small[1]);
  EXPECT_EQ(dlmalloc_usable_size(small[1]), 0u);
  void* never = g_never_handed_out + 16;
  std::size_t* head = reinterpret_cast<std::size_t*>(tags[1]) - 1;
  auto overrun = [&] { std::memset(tags[0], 0, 112); };

  Misuse const cases[] = {
      {"a static never handed out", "dlrealloc", never, "not a (live )?block[^\n]*", nullptr},
      {"inside a block, misaligned", "dlfree", looks_in_use + 5,
       "not a block of the library heap[^\n]*", nullptr},
      {"a double free", "dlfree", small[1], kNotLive, nullptr},
      {"an overrun into the next head", "dlfree", tags[0], kTagsOverwritten, overrun},
      {"an overrun, resized", "dlrealloc", tags[0], kTagsOverwritten, overrun},
      {"an underrun over the head", "dlfree", tags[1], kTagsOverwritten,
       [&] { std::memset(head - 1, 0xFF, 8); }},
      {"a zeroed head", "dlfree", tags[1], kNotLive, [&] { *head = 0; }},
      // The "chunk" behind it, inside the next block, is in use but does not know this is.
      {"a head claiming a larger chunk", "dlfree", tags[1], kTagsOverwritten, [&] { *head += 32; }},
      // Both frees in the child, so that nothing can take the address range between them.
      {"a double free of a block with its own mapping", "dlfree", mapped,
       "not a block of the library heap \\(a block with its own mapping[^\n]*",
       [&] { dlfree(mapped); }},
      // Written through a freed pointer: the neighbour's free unlinks the spoiled chunk.
      {"small-bin links overwritten", nullptr, small[0], kDamaged,
       [&] { std::fill_n(reinterpret_cast<void**>(small[1]), 2, never); }},
      {"a tree chunk's ring neighbour not pointing back", nullptr, large[0], kDamaged,
       [&] { std::memcpy(large[1] + sizeof never, &large[0], sizeof never); }},
      {"inside a slot", "mem_Free", slot + 4, kInterior, nullptr},
      {"inside a slot, resized", "mem_Realloc", slot + 8, kInterior, nullptr},
      {"a 48-byte slot's second 16 bytes", "mem_Free", slot_of_48 + 32, kInterior, nullptr},
      {"the records before the first slot", "mem_Free", page_of_128 - 16, kInterior, nullptr},
      {"past the last slot", "mem_Free", page_of_128 + 31 * 128, kInterior, nullptr},
      {"a slot freed twice", "mem_Free", slot,
       "small block freed twice \\(it is the last block freed on its page\\)",
       [&] { mem_Free(slot); }},
      {"the only slot of its page freed twice", "mem_Free", alone,
       "small block freed twice \\(its page has no block in use\\)", [&] { mem_Free(alone); }},
  };
  for (Misuse const& misuse : cases) {
    auto act = [&misuse] {
      if (misuse.damage) misuse.damage();
      Operate(misuse.operation != nullptr ? misuse.operation : "", misuse.address);
    };
    EXPECT_EXIT(act(), ::testing::KilledBySignal(SIGABRT), ExpectedLine(misuse)) << misuse.what;
  }
}

}  // namespace
}  // namespace heap_test
