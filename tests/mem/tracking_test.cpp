// Reports to the tracker: decided once per process by KOV_MEM_TRACK at start-up, with
// each entry point keeping its own copy of the mode.
#include <gtest/gtest.h>

#include <cstdlib>

#include "child_process.h"
#include "mem/tracking_port.h"
#include "varururor/varururor.h"

namespace {

using mem::tracking::Operation;
using mem::tracking::ReportCount;

void PrintCounts() {
  for (Operation op : {Operation::kMalloc, Operation::kFree, Operation::kRealloc,
                       Operation::kCalloc, Operation::kRelease, Operation::kAcquire}) {
    std::fprintf(stderr, "%u,", ReportCount(op));
  }
}

void EveryEntryPointOnce() {
  void* p = mem_Malloc(10);
  p = mem_Realloc(p, 20);
  void* q = mem_Calloc(2, 8);
  mem_Release(q);
  mem_Acquire(q);
  mem_Free(q);
  mem_Free(p);
}

TEST(Tracking, WithTrackingOnEveryOperationIsReportedFromStartUp) {
  EXPECT_IN_CHILD("^2,4,1,1,1,1,$", {
    setenv("KOV_MEM_TRACK", "", 1);
    EveryEntryPointOnce();  // before start-up the mode is undecided: nothing
    int total = 0;
    mem_initialize(total);
    EveryEntryPointOnce();
    mem_Free(nullptr);  // reported too
    mem_Free(mem_Malloc(1));
    PrintCounts();
  });
}

TEST(Tracking, WithoutTheVariableNothingIsReported) {
  EXPECT_IN_CHILD("^0,0,0,0,0,0,$", {
    int total = 0;
    mem_initialize(total);
    EveryEntryPointOnce();
    PrintCounts();
  });
}

TEST(Tracking, AnEntryPointThatReadOffStopsLooking) {
  EXPECT_IN_CHILD("^0100$", {
    mem::tracking::ModeCache cache;
    mem::tracking::g_mode = mem::tracking::kUndecided;
    bool undecided = cache.ShouldReport();
    mem::tracking::g_mode = mem::tracking::kOn;
    bool on = cache.ShouldReport();
    mem::tracking::g_mode = mem::tracking::kFinished;
    bool finished = cache.ShouldReport();
    mem::tracking::g_mode = mem::tracking::kOn;
    bool after = cache.ShouldReport();  // read off once: stays off
    std::fprintf(stderr, "%d%d%d%d", undecided, on, finished, after);
  });
}

}  // namespace
