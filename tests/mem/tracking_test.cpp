// Reports to the tracker: each entry point keeps its own copy of the mode, decided once per
// process by KOV_MEM_TRACK at start-up (the tracker's tests read back what is reported).
#include <gtest/gtest.h>

#include <cstdio>

#include "child_process.h"
#include "mem/tracking_port.h"
#include "varururor/varururor.h"

namespace {

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
