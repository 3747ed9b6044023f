// Reports to the tracker: decided once per process by KOV_MEM_TRACK at start-up, with
// each entry point keeping its own copy of the mode.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "child_process.h"
#include "mem/tracking_port.h"
#include "tracker/tracker_files.h"
#include "varururor/varururor.h"

namespace {

using tracker_files::Record;

void EveryEntryPointOnce() {
  void* p = mem_Malloc(10);
  p = mem_Realloc(p, 20);
  void* q = mem_Calloc(2, 8);
  mem_Release(q);
  mem_Acquire(q);
  mem_Free(q);
  mem_Free(p);
}

TEST(Tracking, WithTrackingOnEveryOperationIsRecordedFromStartUp) {
  std::string const dir = tracker_files::MakeTempDir();
  EXPECT_IN_CHILD("^$", {
    setenv("KOV_MEM_TRACK", "", 1);
    setenv("KOV_MEM_OUTPUTDIR", dir.c_str(), 1);
    EveryEntryPointOnce();  // before start-up the mode is undecided: nothing
    int total = 0;
    mem_initialize(total);
    EveryEntryPointOnce();
    mem_Free(nullptr);  // recorded too
    mem_Free(mem_Malloc(1));
    mem_finalize(total);
  });
  std::vector<Record> records = tracker_files::ReadRun(dir + "/unknownMemTrack");
  // kind, size, whether the block is null
  struct Expected {
    int kind, size;
    bool null_block;
  };
  std::vector<Expected> const expected = {
      {0, 10, false}, {4, 20, false}, {5, 16, false}, {7, -1, false}, {8, -1, false},
      {1, -1, false}, {1, -1, false}, {1, -1, true},  {0, 1, false},  {1, -1, false}};
  ASSERT_EQ(records.size(), expected.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].kind, expected[i].kind) << i;
    EXPECT_EQ(records[i].size, expected[i].size) << i;
    EXPECT_EQ(records[i].pointer == 0, expected[i].null_block) << i;
    EXPECT_EQ(records[i].transaction, static_cast<int>(i));
  }
  // The realloc names the block it resized; the frees name the blocks made before.
  EXPECT_EQ(records[1].old_pointer, records[0].pointer);
  EXPECT_EQ(records[5].pointer, records[2].pointer);
  EXPECT_EQ(records[6].pointer, records[1].pointer);
  EXPECT_EQ(records[9].pointer, records[8].pointer);
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
