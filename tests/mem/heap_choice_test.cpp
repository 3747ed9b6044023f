// Which heap serves the process, decided once: at start-up by KVN_CRTMALLOC and
// KVN_DLALLOCATOR, or by the first allocation before start-up (KVN_DLALLOCATOR alone).
#include <gtest/gtest.h>

#include <cstdlib>

#include "child_process.h"
#include "mem/heap_table.h"
#include "varururor/varururor.h"

namespace {

void Set(char const* variable, char const* value) { setenv(variable, value, 1); }

void StartMemory() {
  int total = 0;
  mem_initialize(total);
}

TEST(HeapChoice, AtStartUpTheLibraryHeapUnlessThePlatformHeapIsAskedFor) {
  EXPECT_IN_CHILD("^dl=1$", {
    StartMemory();
    std::fprintf(stderr, "dl=%d", mem_UseDL());
  });
  EXPECT_IN_CHILD("^dl=0$", {
    Set("KVN_CRTMALLOC", "");
    StartMemory();
    std::fprintf(stderr, "dl=%d", mem_UseDL());
  });
  EXPECT_IN_CHILD("^dl=1$", {
    Set("KVN_CRTMALLOC", "1");
    Set("KVN_DLALLOCATOR", "0");
    StartMemory();
    std::fprintf(stderr, "dl=%d", mem_UseDL());
  });
  // KVN_DLALLOCATOR alone changes nothing at start-up.
  EXPECT_IN_CHILD("^dl=1$", {
    Set("KVN_DLALLOCATOR", "1");
    StartMemory();
    std::fprintf(stderr, "dl=%d", mem_UseDL());
  });
}

TEST(HeapChoice, AFirstAllocationBeforeStartUpChoosesAndTheChoiceStands) {
  EXPECT_IN_CHILD("^dl=0,0$", {
    void* p = mem_Malloc(10);
    int before = mem_UseDL();
    StartMemory();
    std::fprintf(stderr, "dl=%d,%d", before, mem_UseDL());
    mem_Free(p);
  });
  EXPECT_IN_CHILD("^dl=1 usable=12$", {
    Set("KVN_DLALLOCATOR", "");
    Set("KVN_CRTMALLOC", "1");
    void* p = mem_Malloc(10);
    StartMemory();
    std::fprintf(stderr, "dl=%d usable=%u", mem_UseDL(),
                 static_cast<unsigned>(dlmalloc_usable_size(p)));
    mem_Free(p);
  });
}

TEST(HeapChoice, AnyFirstUseOfTheTableChoosesLikeAnAllocation) {
  EXPECT_IN_CHILD("^0011$", {
    Set("KVN_DLALLOCATOR", "1");
    int before = mem_UseDL();  // only reads the flag
    bool filled = mem::HeapTableFilled();
    unsigned footprint = mem_Footprint();
    std::fprintf(stderr, "%d%d%d%d", before, filled, mem_UseDL(), mem::HeapTableFilled());
    (void)footprint;
  });
  EXPECT_IN_CHILD("^dl=0$", {
    mem_Free(nullptr);
    StartMemory();
    std::fprintf(stderr, "dl=%d", mem_UseDL());
  });
}

TEST(HeapChoice, ThePlatformHeapAnswersEveryQueryWithZero) {
  EXPECT_IN_CHILD("^0 0 0 0 0 0 0 0$", {
    Set("KVN_CRTMALLOC", "1");
    StartMemory();
    void* p = mem_Malloc(1 << 20);
    mem_DLMallinfoResult info = mem_DLMallinfo();
    unsigned sum = info.arena + info.ordblks + info.hblkhd + info.usmblks + info.uordblks +
                   info.fordblks + info.keepcost;
    std::fprintf(stderr, "%d %d %u %u %u %d %u %u", mem_Trim(0), mem_Mallopt(-1, 5),
                 mem_Footprint(), mem_MaxFootprint(), mem_MemoryLimit(), mem_ErrorMemoryLimit(),
                 mem_FragmentationInfo(), sum);
    mem_Free(p);
  });
}

TEST(HeapChoice, TheLibraryHeapAnswersThroughTheEntryPoints) {
  EXPECT_IN_CHILD("^11110$", {
    StartMemory();
    void* p = mem_Malloc(100000);
    mem_DLMallinfoResult info = mem_DLMallinfo();
    dl_mallinfo direct = dlmallinfo();
    bool same = info.arena == direct.arena && info.ordblks == direct.ordblks &&
                info.hblkhd == direct.hblkhd && info.usmblks == direct.usmblks &&
                info.uordblks == direct.uordblks && info.fordblks == direct.fordblks &&
                info.keepcost == direct.keepcost;
    bool footprint = mem_Footprint() == dlmalloc_footprint() && mem_Footprint() > 100000 &&
                     mem_MaxFootprint() >= mem_Footprint();
    int limit_set = mem_Mallopt(-5, 1 << 30);
    std::fprintf(stderr, "%d%d%d%u%d", same, footprint, limit_set, mem_MemoryLimit() == (1u << 30),
                 mem_ErrorMemoryLimit());
    mem_Free(p);
  });
}

TEST(HeapChoice, MallinfoOfTheLibraryHeapIsItsFootprint) {
  EXPECT_IN_CHILD("^1 0 1$", StartMemory(); void* p = mem_Malloc(300000); mem_Mallinfo info;
                  std::fprintf(stderr, "%d %u %d", info.committed == mem_Footprint(),
                               info.in_use + info.free + info.reserved, info.committed > 300000);
                  mem_Free(p));
}

TEST(HeapChoice, MallinfoOfThePlatformHeapCountsItsBlocks) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer replaces the C library's heap and its statistics";
#endif
  EXPECT_IN_CHILD("^1 1$", Set("KVN_CRTMALLOC", "1"); StartMemory(); void* p = mem_Malloc(3 << 20);
                  mem_Mallinfo info; std::fprintf(stderr, "%d %d", info.in_use >= (3u << 20),
                                                  info.committed >= info.in_use);
                  mem_Free(p));
}

}  // namespace
