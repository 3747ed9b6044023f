// Per-process choices of the front end, tried in fresh children (the heap, each operator-new
// form's size check); the operator-new forms' failures; the allocator interface's retry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"
#include "mem/cache_manager_port.h"
#include "varururor/varururor.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPlatformHeapWalked = false;  // the sanitizer replaces the C library's heap
#else
constexpr bool kPlatformHeapWalked = true;
#endif

// More than any heap of a 32-bit process can give.
constexpr unsigned kImpossible = 0xFFFFFF00u;

enum class FirstUse { kStartUp, kMalloc, kFree, kQuery };

struct HeapChoice {
  char const* crtmalloc;  // null: not set
  char const* dlallocator;
  FirstUse first;
  int library_heap;
};

HeapChoice const kHeapChoices[] = {
    {nullptr, nullptr, FirstUse::kStartUp, 1},
    {"", nullptr, FirstUse::kStartUp, 0},
    {"1", "0", FirstUse::kStartUp, 1},
    {nullptr, "1", FirstUse::kStartUp, 1},  // KVN_DLALLOCATOR alone changes nothing here
    // A use before start-up chooses, and start-up keeps that choice.
    {nullptr, nullptr, FirstUse::kMalloc, 0},
    {nullptr, nullptr, FirstUse::kFree, 0},
    {nullptr, nullptr, FirstUse::kQuery, 0},
    {nullptr, "", FirstUse::kMalloc, 1},
};

// The queries answer for the heap in use: zeros for the platform heap, the library heap's own.
bool QueriesAnswerForTheHeap() {
  void* p = mem_Malloc(3 << 20);
  mem_DLMallinfoResult info = mem_DLMallinfo();
  mem_Mallinfo walked;
  bool library = mem_Footprint() == dlmalloc_footprint() && mem_Footprint() > (3u << 20) &&
                 mem_MaxFootprint() >= mem_Footprint() && info.uordblks == dlmallinfo().uordblks &&
                 walked.committed == mem_Footprint() &&
                 walked.in_use + walked.free + walked.reserved == 0;
  bool platform =
      (mem_Trim(0) | mem_Mallopt(-1, 5) | mem_Footprint() | mem_MaxFootprint() | mem_MemoryLimit() |
       mem_ErrorMemoryLimit() | mem_FragmentationInfo() | info.arena | info.ordblks | info.hblkhd |
       info.usmblks | info.uordblks | info.fordblks | info.keepcost) == 0 &&
      (!kPlatformHeapWalked || walked.in_use >= (3u << 20));
  mem_Free(p);
  return mem_UseDL() ? library : platform;
}

void ChooseAndReport(HeapChoice const& choice) {
  if (choice.crtmalloc != nullptr) setenv("KVN_CRTMALLOC", choice.crtmalloc, 1);
  if (choice.dlallocator != nullptr) setenv("KVN_DLALLOCATOR", choice.dlallocator, 1);
  if (choice.first == FirstUse::kMalloc) mem_Free(mem_Malloc(10));
  if (choice.first == FirstUse::kFree) mem_Free(nullptr);
  if (choice.first == FirstUse::kQuery) mem_Footprint();
  int modules = 0;
  mem_initialize(modules);
  std::fprintf(stderr, "%d %s", mem_UseDL(), QueriesAnswerForTheHeap() ? "answers" : "wrong");
}

TEST(HeapChoice, StartUpOrTheFirstUseChoosesOnceForTheProcess) {
  for (HeapChoice const& choice : kHeapChoices) {
    EXPECT_IN_CHILD("^" + std::to_string(choice.library_heap) + " answers$",
                    ChooseAndReport(choice))
        << "row " << &choice - kHeapChoices;
  }
}

enum Form { kThrow, kNoThrow, kTinyThrow, kTinyNoThrow, kBuiltin, kNoThrowBuiltin };

void* (*const kNew[])(unsigned) = {
    mem_OperatorNewThrow,
    [](unsigned size) { return mem_OperatorNewNoThrow(size, std::nothrow); },
    mem_OperatorNewTinyThrow,
    [](unsigned size) { return mem_OperatorNewTinyNoThrow(size, std::nothrow); },
    mem_OperatorNewThrowBuiltin,
    mem_OperatorNewNoThrowBuiltin,
};

char const kUseTiny[] =
    "^KOVRIN class with sizeof\\(class\\) < 129 should use mem_AllocationOperatorsTiny\n$";
char const kUseNormal[] =
    "^KOVRIN class with sizeof\\(class\\) > 128 should use mem_AllocationOperators\n$";

struct SizeCheck {
  char const* setting;
  Form form;
  unsigned size;
  char const* message;  // null: allocates
};

SizeCheck const kSizeChecks[] = {
    {"ON", kThrow, 128, kUseTiny},       {"ONLY", kNoThrow, 1, kUseTiny},
    {"ON", kTinyThrow, 129, kUseNormal}, {"ON", kTinyNoThrow, 4096, kUseNormal},
    {"ON", kThrow, 129, nullptr},        {"ON", kThrow, 0, nullptr},
    {"ON", kTinyThrow, 128, nullptr},    {"ON", kTinyNoThrow, 0, nullptr},
    {"ON", kBuiltin, 1, nullptr},        {"ON", kNoThrowBuiltin, 1000, nullptr},
    {"on", kThrow, 1, nullptr},          {" ON", kTinyNoThrow, 4096, nullptr},
};

// KVN_DEBUG_MEMSIZE "ON...": each form aborts on the other mix-in's sizes; 0 and Builtin pass.
TEST(SizeCheck, OnAbortsWhenAClassUsesTheMixInForTheOtherSize) {
  for (SizeCheck const& check : kSizeChecks) {
    SCOPED_TRACE(testing::Message() << "row " << &check - kSizeChecks);
    setenv("KVN_DEBUG_MEMSIZE", check.setting, 1);
    if (check.message != nullptr) {
      EXPECT_ABORT_IN_CHILD(check.message, kNew[check.form](check.size));
    } else {
      EXPECT_IN_CHILD("^allocated$", void* p = kNew[check.form](check.size);
                      std::fputs(p != nullptr ? "allocated" : "null", stderr); mem_Free(p));
    }
  }
  // Each form reads the setting at its first call only.
  EXPECT_IN_CHILD("^survived$", unsetenv("KVN_DEBUG_MEMSIZE"); mem_Free(kNew[kThrow](8));
                  setenv("KVN_DEBUG_MEMSIZE", "ON", 1); mem_Free(kNew[kThrow](8));
                  std::fputs("survived", stderr));
  unsetenv("KVN_DEBUG_MEMSIZE");
}

int g_handler_calls = 0;

void CountingHandler() {
  if (++g_handler_calls == 3) std::set_new_handler(nullptr);
}

TEST(OperatorNew, FailureThrowsOrGivesNullAndOnlyTheBuiltinFormsRunTheNewHandler) {
  for (Form form : {kThrow, kTinyThrow, kNoThrow, kTinyNoThrow, kBuiltin, kNoThrowBuiltin}) {
    SCOPED_TRACE(form);
    g_handler_calls = 0;
    std::set_new_handler(CountingHandler);
    bool throws = form == kThrow || form == kTinyThrow || form == kBuiltin;
    try {
      EXPECT_EQ(kNew[form](kImpossible), nullptr);
      EXPECT_FALSE(throws);
    } catch (std::bad_alloc const& failure) {
      EXPECT_TRUE(throws);
      EXPECT_STREQ(failure.what(), "bad allocation");
    }
    EXPECT_EQ(g_handler_calls, form == kBuiltin || form == kNoThrowBuiltin ? 3 : 0);
    std::set_new_handler(nullptr);
  }
}

using Purge = std::pair<mem_CacheManager*, unsigned>;  // the manager asked, the bytes wanted
std::vector<Purge> g_purges;

unsigned RecordingPurge(mem_CacheManager* manager, unsigned need) {
  g_purges.emplace_back(manager, need);
  return 0;
}

// A failure asks a bound allocator's manager once for the memory (one element's for calloc)
// and tries again; a resize to 0 is no failure; clones and copies keep the manager.
TEST(AllocatorInterface, ABoundAllocatorPurgesOnceAndTriesAgainAnUnboundOneFailsAtOnce) {
  mem::PurgeWalk saved_walk = mem::g_purge_walk;  // the cache manager's, set at load
  mem::g_purge_walk = RecordingPurge;
  // Any address stands for a manager: the allocator only hands it to the purge walk.
  auto* manager = reinterpret_cast<mem_CacheManager*>(&g_purges);
  mem_Allocator unbound(nullptr);
  EXPECT_EQ(unbound.Malloc("mem_Block", kImpossible), nullptr);
  EXPECT_EQ(unbound.Calloc("mem_Block", 0x10000, 0x10000), nullptr);
  mem_Allocator bound(manager);
  std::unique_ptr<mem_Allocator> clone(bound.Clone());
  EXPECT_EQ(clone->Malloc("mem_CachePool", kImpossible), nullptr);
  EXPECT_EQ(mem_Allocator(bound).Calloc("mem_CachePool", 0x10000, 0x10001), nullptr);
  void* p = bound.Malloc("mem_CachePool", 64);
  EXPECT_EQ(bound.Realloc("mem_CachePool", p, kImpossible), nullptr);
  EXPECT_EQ(bound.Realloc("mem_CachePool", p, 0), nullptr);
  mem::g_purge_walk = saved_walk;
  EXPECT_EQ(g_purges, (std::vector<Purge>{
                          {manager, kImpossible}, {manager, 0x10001u}, {manager, kImpossible}}));
}

}  // namespace
