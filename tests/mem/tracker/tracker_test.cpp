// The tracker in real runs: a child decides tracking and runs; the parent reads the files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "tracker_files.h"
#include "varururor/varururor.h"

namespace {

using tracker_files::Exists;
using tracker_files::ReadPhaseFile;
using tracker_files::ReadRecordFile;
using tracker_files::Record;

// Pointer, old pointer, kind, transaction, size, thread, phase.
using Fields = std::array<std::int64_t, 7>;

std::vector<Fields> FieldsOf(std::vector<Record> const& records) {
  std::vector<Fields> fields;
  for (Record const& r : records)
    fields.push_back({r.pointer, r.old_pointer, r.kind, r.transaction, r.size, r.thread, r.phase});
  return fields;
}

// Every entry point, in phases, stopped and restarted. The watch list takes empty and repeated
// pieces and is cut at fifty (5, the last, is not watched). The name's directory goes above the
// output directory. Pairs fill the buffer: its file is written, and an empty one after it.
TEST(Tracker, RecordsEveryOperationWithItsThreadAndPhase) {
  std::string list = "7,2,,6,0,6,1,3,4";
  for (int i = 0; i < 42; ++i) list += "," + std::to_string(200000 + i);
  list += ",5";
  std::string const dir = tracker_files::MakeTempDir();
  mkdir((dir + "/trk").c_str(), 0700);  // made already when the body runs again in a child
  EXPECT_IN_CHILD(
      "^memTracker  --  Too many debug transactions specified. First 50 will be used.\n"
      "ROOT->solve  --  ENTER PHASE  --  Monitored TransID = 1 --  threadId = 0\n"
      "ROOT->solve->assemble  --  ENTER PHASE  --  Monitored TransID = 1 --  threadId = 0\n"
      "mem_Tracker  --  transaction 1  --  calloc\n"
      "mem_Tracker  --  transaction 2  --  realloc\n"
      "ROOT->solve->assemble  --  EXIT PHASE  -- Monitored TransID = 3 -- threadId = 0\n"
      "mem_Tracker  --  transaction 3  --  release\n"
      "mem_Tracker  --  transaction 4  --  acquire\n"
      "mem_Tracker  --  transaction 6  --  free\n"
      "here  --  Monitored TransId = 7\n"
      "lab  --  Monitored TransId = 7\n$",
      {
        setenv("KOV_MEM_TRACK", "1", 1);
        setenv("KOV_MEM_DBTRANS", list.c_str(), 1);
        mem_Free(mem_Malloc(1));  // before start-up the mode is undecided: not recorded
        tracker_files::StartTracked("trk", "1");
        mem_Tracker_Interface::SetOutputName((dir + "/run").c_str());
        void* p = mem_Malloc(10);  // 0: watched, a malloc: no line
        mem_Tracker_Interface::EnterPhase("solve", 1);
        int print = 1;
        char name[] = "assembleNOT";
        MEM_TRACKER_ENTERPHASE(&print, name, 8);
        void* q = mem_Calloc(3, 8);
        void* p2 = mem_Realloc(p, 100000);
        MEM_TRACKER_EXITPHASE(&print);
        mem_Release(q);
        mem_Acquire(q);
        mem_Free(q);  // 5: not watched
        mem_Tracker_Interface::ExitPhase(0);
        mem_Tracker_Interface::ExitPhase(0);  // at ROOT: stays there
        mem_Free(p2);                         // 6: listed twice, announced once
        mem_Tracker_Interface::PrintTransaction("here");
        char label[] = "label";
        MEM_TRACKER_PRINTTRANSACTION(label, 3);
        void* before = mem_Malloc(8);  // 7: recorded
        mem_Tracker_Interface::StopTracking();
        void* hidden = mem_Malloc(8);              // not recorded
        void* moved = mem_Realloc(hidden, 50000);  // not recorded; the new block is hidden
        void* same = mem_Calloc(2, 2);             // not recorded
        mem_Release(same);                         // hidden: not recorded, stays hidden
        mem_Free(before);                          // 8: made before the stop
        mem_Tracker_Interface::StartTracking();
        void* after = mem_Malloc(4);  // 9: recorded again
        mem_Free(moved);              // hidden: not recorded
        mem_Acquire(same);            // hidden: not recorded, stays hidden
        mem_Free(same);               // hidden: not recorded, no longer hidden
        mem_Release(same);            // 10: only reports, and is recorded now
        mem_Free(after);              // 11
        for (int i = 12; i < 131072; i += 2) mem_Free(mem_Malloc(16));
        std::ofstream blocks(dir + "/blocks");  // the child's addresses, for the parent
        for (void* block : {p, q, p2, before, after, same}) blocks << block << "\n";
        tracker_files::Finish();
      });
  std::ifstream blocks(dir + "/blocks");
  std::vector<std::uint32_t> b;
  for (void* block; blocks >> block;) b.push_back(reinterpret_cast<std::uintptr_t>(block));
  ASSERT_EQ(b.size(), 6u);
  EXPECT_EQ(
      ReadPhaseFile(dir + "/trk/run.phaseStack"),
      (std::map<std::string, int>{{"ROOT", 0}, {"ROOT->solve", 1}, {"ROOT->solve->assemble", 2}}));
  std::vector<Fields> const expected{
      {b[0], 0, 0, 0, 10, 0, 0}, {b[1], 0, 5, 1, 24, 0, 2},  {b[2], b[0], 4, 2, 100000, 0, 2},
      {b[1], 0, 7, 3, -1, 0, 1}, {b[1], 0, 8, 4, -1, 0, 1},  {b[1], 0, 1, 5, -1, 0, 1},
      {b[2], 0, 1, 6, -1, 0, 0}, {b[3], 0, 0, 7, 8, 0, 0},   {b[3], 0, 1, 8, -1, 0, 0},
      {b[4], 0, 0, 9, 4, 0, 0},  {b[5], 0, 7, 10, -1, 0, 0}, {b[4], 0, 1, 11, -1, 0, 0},
  };
  std::vector<Record> const all = ReadRecordFile(dir + "/trk/run.memT0");
  ASSERT_EQ(all.size(), 131072u);
  EXPECT_EQ(FieldsOf({all.begin(), all.begin() + 12}), expected);
  for (std::size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i].transaction, static_cast<int>(i));
  EXPECT_TRUE(ReadRecordFile(dir + "/trk/run.memT1").empty());
  EXPECT_FALSE(Exists(dir + "/trk/run.memT2"));
  EXPECT_FALSE(Exists(dir + "/trk/unknownMemTrack.memT0"));
}

// A run breaking a limit or misused: its report, tracking still on (the last character), and
// the records reaching the directory (none without a record file). None writes a phase file.
struct Misuse {
  char const* name;
  void (*run)(std::string const& dir);
  char const* report;
  std::size_t records;
};

Misuse const kMisuses[] = {
    {"name",
     [](std::string const& dir) {
       tracker_files::StartTracked(dir);
       mem_Free(mem_Malloc(1));
       mem_Tracker_Interface::SetOutputName(std::string(2037 - dir.size(), 'x').c_str());
       mem_Free(mem_Malloc(1));  // tracking off: not recorded
     },
     "^ERROR: Output file names are too long in memory tracking code.\n0$", 2},
    {"directory", [](std::string const&) { tracker_files::StartTracked(std::string(1024, 'd')); },
     "^ERROR: Name of output directory given for memory tracking is too long.\n"
     "Name must be under 1024 characters.\n\n0$",
     0},
    {"threads",
     [](std::string const& dir) {
       tracker_files::StartTracked(dir);
       for (int i = 0; i < 64; ++i) std::thread([] { mem_Free(nullptr); }).join();
     },
     "^ERROR: Memory tracking follows at most 64 threads; tracking is off.\n0$", 63},
    {"missing",
     [](std::string const&) {
       tracker_files::StartTracked("/nonexistent/vr");
       mem_Free(mem_Malloc(1));
     },
     "\nUnable to open memory tracking file.\n  FileName: /nonexistent/vr/unknownMemTrack.memT0"
     "  Does the output directory /nonexistent/vr exist\\?\n$",
     0},
    {"unset",
     [](std::string const& dir) {
       setenv("KOV_MEM_OUTPUTDIR", dir.c_str(), 1);
       int started = 0;
       mem_initialize(started);
       void* p = mem_Realloc(mem_Malloc(10), 20);  // every entry point: none reports
       mem_Release(p);
       mem_Acquire(p);
       mem_Free(mem_Calloc(2, 8));
       mem_Free(p);
       mem_Tracker_Interface::EnterPhase("a", 1);
     },
     "^0$", 0},
};

TEST(Tracker, LimitsAndMisuseAreReported) {
  std::string const top = tracker_files::MakeTempDir();
  for (Misuse const& misuse : kMisuses) {
    std::string const dir = top + "/" + misuse.name;
    mkdir(dir.c_str(), 0700);  // made already when the body runs again in a child
    EXPECT_IN_CHILD(misuse.report, {
      misuse.run(dir);
      std::fprintf(stderr, "%d", mem_Tracker_Interface::IsTrackingActive());
      tracker_files::Finish();
    });
    std::string const records = dir + "/unknownMemTrack.memT0";
    EXPECT_EQ(Exists(records) ? ReadRecordFile(records).size() : 0, misuse.records) << misuse.name;
    EXPECT_FALSE(Exists(dir + "/unknownMemTrack.phaseStack")) << misuse.name;
  }
}

TEST(Tracker, PhasesPastTheStackStayInTheDeepestOne) {
  std::string const dir = tracker_files::MakeTempDir();
  EXPECT_IN_CHILD(
      // Long paths grow the pool, with warnings, before the stack is full; earlier ids stay.
      "WARNING: Memory tracking. Forced to resize mem_StackHash.\n.*"
      "ERROR: Memory tracking: phases nest too deep on thread 0; records stay in ROOT(->n)+\\.\n$",
      {
        tracker_files::StartTracked(dir);
        mem_Tracker_Interface::EnterPhase("n", 0);
        mem_Free(nullptr);  // before the pool grows
        for (int i = 1; i < 1030; ++i) mem_Tracker_Interface::EnterPhase("n", 0);
        mem_Free(nullptr);  // in the deepest phase kept
        for (int i = 0; i < 1030; ++i) mem_Tracker_Interface::ExitPhase(0);
        mem_Free(nullptr);  // back at ROOT
        tracker_files::Finish();
      });
  std::map<std::string, int> phases = ReadPhaseFile(dir + "/unknownMemTrack.phaseStack");
  std::string deepest = "ROOT";
  for (int i = 0; i < 1024; ++i) deepest += "->n";
  std::vector<int> phases_of_frees;  // the pool's own blocks are recorded too: left out
  for (Record const& record : ReadRecordFile(dir + "/unknownMemTrack.memT0")) {
    if (record.pointer == 0) phases_of_frees.push_back(record.phase);
  }
  EXPECT_EQ(phases_of_frees, (std::vector<int>{phases["ROOT->n"], phases[deepest], 0}));
}

}  // namespace
