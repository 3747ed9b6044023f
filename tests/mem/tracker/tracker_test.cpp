// The tracker in real runs: each test runs its program in a child with tracking decided
// there, then reads back the files it wrote, field by field.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
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
using tracker_files::ReadRun;
using tracker_files::Record;

// The child tells the parent its block addresses through a file.
void WriteBlocks(std::string const& path, std::vector<void*> const& blocks) {
  std::ofstream out(path);
  for (void* block : blocks) out << reinterpret_cast<std::uintptr_t>(block) << "\n";
}

std::vector<std::uint32_t> ReadBlocks(std::string const& path) {
  std::ifstream in(path);
  return {std::istream_iterator<std::uint32_t>(in), std::istream_iterator<std::uint32_t>()};
}

// Pointer, old pointer, kind, transaction, size, thread, phase.
using Fields = std::array<std::int64_t, 7>;

std::vector<Fields> FieldsOf(std::vector<Record> const& records) {
  std::vector<Fields> fields;
  for (Record const& r : records)
    fields.push_back({r.pointer, r.old_pointer, r.kind, r.transaction, r.size, r.thread, r.phase});
  return fields;
}

TEST(Tracker, RecordsEveryOperationWithItsThreadAndPhase) {
  std::string const dir = tracker_files::MakeTempDir();
  EXPECT_IN_CHILD("^$", {
    setenv("KOV_MEM_TRACK", "1", 1);
    mem_Free(mem_Malloc(1));  // before start-up the mode is undecided: not recorded
    tracker_files::StartTracked(dir, "1");
    mem_Tracker_Interface::SetOutputName("run");
    void* p = mem_Malloc(10);
    mem_Tracker_Interface::EnterPhase("solve", 0);
    mem_Tracker_Interface::EnterPhase("assemble", 0);
    void* q = mem_Calloc(3, 8);
    void* p2 = mem_Realloc(p, 100000);
    mem_Tracker_Interface::ExitPhase(0);
    mem_Release(q);
    mem_Acquire(q);
    mem_Free(q);
    mem_Tracker_Interface::ExitPhase(0);
    mem_Tracker_Interface::ExitPhase(0);  // at ROOT: stays there
    mem_Free(p2);
    WriteBlocks(dir + "/blocks", {p, q, p2});
    tracker_files::Finish();
  });
  std::vector<std::uint32_t> b = ReadBlocks(dir + "/blocks");
  ASSERT_EQ(b.size(), 3u);
  EXPECT_EQ(
      ReadPhaseFile(dir + "/run.phaseStack"),
      (std::map<std::string, int>{{"ROOT", 0}, {"ROOT->solve", 1}, {"ROOT->solve->assemble", 2}}));
  std::vector<Fields> const expected{
      {b[0], 0, 0, 0, 10, 0, 0}, {b[1], 0, 5, 1, 24, 0, 2}, {b[2], b[0], 4, 2, 100000, 0, 2},
      {b[1], 0, 7, 3, -1, 0, 1}, {b[1], 0, 8, 4, -1, 0, 1}, {b[1], 0, 1, 5, -1, 0, 1},
      {b[2], 0, 1, 6, -1, 0, 0},
  };
  EXPECT_EQ(FieldsOf(ReadRecordFile(dir + "/run.memT0")), expected);
  EXPECT_FALSE(Exists(dir + "/run.memT1"));
  EXPECT_FALSE(Exists(dir + "/unknownMemTrack.memT0"));
}

// A full buffer starts the next file; an exactly full one leaves an empty last file.
TEST(Tracker, AFullBufferStartsTheNextFile) {
  std::string const top = tracker_files::MakeTempDir();
  for (int extra : {3, 0}) {
    std::string const dir = top + "/" + std::to_string(extra);
    mkdir(dir.c_str(), 0700);  // made already when the body runs again in a child
    EXPECT_IN_CHILD("^$", {
      tracker_files::StartTracked(dir);
      for (int i = 0; i < 65536 + extra; ++i) mem_Free(mem_Malloc(16));
      tracker_files::Finish();
    });
    EXPECT_EQ(ReadRecordFile(dir + "/unknownMemTrack.memT0").size(), 131072u);
    EXPECT_EQ(ReadRecordFile(dir + "/unknownMemTrack.memT1").size(), 2u * extra);
    EXPECT_FALSE(Exists(dir + "/unknownMemTrack.memT2"));
    EXPECT_TRUE(Exists(dir + "/unknownMemTrack.phaseStack"));
    std::vector<Record> all = ReadRun(dir + "/unknownMemTrack");
    for (std::size_t i = 0; i < all.size(); ++i) {
      ASSERT_EQ(all[i].transaction, static_cast<int>(i));
      ASSERT_EQ(all[i].kind, i % 2 == 0 ? 0 : 1);
      ASSERT_EQ(all[i].size, i % 2 == 0 ? 16 : -1);
    }
  }
}

TEST(Tracker, StoppedTrackingKeepsItsBlocksOutOfTheRecords) {
  std::string const dir = tracker_files::MakeTempDir();
  EXPECT_IN_CHILD("^$", {
    tracker_files::StartTracked(dir);
    void* before = mem_Malloc(8);  // 0: recorded
    mem_Tracker_Interface::StopTracking();
    void* hidden = mem_Malloc(8);              // not recorded
    void* moved = mem_Realloc(hidden, 50000);  // not recorded; the new block is hidden
    void* same = mem_Calloc(2, 2);             // not recorded
    mem_Release(same);                         // hidden: not recorded, stays hidden
    mem_Free(before);                          // 1: made before the stop
    mem_Tracker_Interface::StartTracking();
    void* after = mem_Malloc(4);  // 2: recorded again
    mem_Free(moved);              // hidden: not recorded
    mem_Acquire(same);            // hidden: not recorded, stays hidden
    mem_Free(same);               // hidden: not recorded, no longer hidden
    mem_Release(same);            // 3: only reports, and is recorded now
    mem_Free(after);              // 4
    EXPECT_TRUE(mem_Tracker_Interface::IsTrackingActive());
    WriteBlocks(dir + "/blocks", {before, after, same});
    tracker_files::Finish();
  });
  std::vector<std::uint32_t> b = ReadBlocks(dir + "/blocks");
  ASSERT_EQ(b.size(), 3u);
  std::vector<Fields> const expected{
      {b[0], 0, 0, 0, 8, 0, 0},  {b[0], 0, 1, 1, -1, 0, 0}, {b[1], 0, 0, 2, 4, 0, 0},
      {b[2], 0, 7, 3, -1, 0, 0}, {b[1], 0, 1, 4, -1, 0, 0},
  };
  EXPECT_EQ(FieldsOf(ReadRecordFile(dir + "/unknownMemTrack.memT0")), expected);
}

// Empty and repeated pieces are allowed; past the fiftieth the list is cut, so that the last
// piece, transaction 5, is not watched.
TEST(Tracker, WatchedTransactionsAreAnnouncedInOrder) {
  std::string list = "7,3,,4,0,4";
  for (int i = 1000; i < 1045; ++i) list += "," + std::to_string(i);
  list += ",5";
  std::string const dir = tracker_files::MakeTempDir();
  EXPECT_IN_CHILD(
      "^memTracker  --  Too many debug transactions specified. First 50 will be used.\n"
      "mem_Tracker  --  transaction 3  --  free\n"
      "mem_Tracker  --  transaction 4  --  calloc\n"
      "mem_Tracker  --  transaction 7  --  release\n$",
      {
        setenv("KOV_MEM_DBTRANS", list.c_str(), 1);
        tracker_files::StartTracked(dir);
        void* a = mem_Malloc(1);     // 0: watched, a malloc: no line
        void* b = mem_Malloc(1);     // 1
        void* c = mem_Malloc(1);     // 2
        mem_Free(a);                 // 3
        void* d = mem_Calloc(1, 1);  // 4 (listed twice, announced once)
        mem_Free(b);                 // 5
        mem_Free(c);                 // 6
        mem_Release(d);              // 7
        mem_Free(d);                 // 8
        tracker_files::Finish();
      });
}

TEST(Tracker, PhasesPrintTheirPathsWhenAsked) {
  std::string const dir = tracker_files::MakeTempDir();
  EXPECT_IN_CHILD(
      "^ROOT->a  --  ENTER PHASE  --  Monitored TransID = 1 --  threadId = 0\n"
      "here  --  Monitored TransId = 1\n"
      "ROOT->a->xyz  --  ENTER PHASE  --  Monitored TransID = 1 --  threadId = 0\n"
      "ROOT->a->xyz  --  EXIT PHASE  -- Monitored TransID = 1 -- threadId = 0\n"
      "lab  --  Monitored TransId = 1\n$",
      {
        tracker_files::StartTracked(dir);
        mem_Free(nullptr);
        mem_Tracker_Interface::EnterPhase("a", 1);
        mem_Tracker_Interface::PrintTransaction("here");
        int print = 1;
        char name[] = "xyzNOT";
        MEM_TRACKER_ENTERPHASE(&print, name, 3);
        MEM_TRACKER_EXITPHASE(&print);
        char label[] = "label";
        MEM_TRACKER_PRINTTRANSACTION(label, 3);
      });
}

TEST(Tracker, OverLongNamesSwitchTrackingOff) {
  std::string const dir = tracker_files::MakeTempDir();
  EXPECT_IN_CHILD("^ERROR: Output file names are too long in memory tracking code.\n0 0$", {
    tracker_files::StartTracked(dir);
    mem_Free(mem_Malloc(1));  // 0 and 1, recorded
    mem_Tracker_Interface::SetOutputName(std::string(2037 - dir.size(), 'x').c_str());
    mem_Free(mem_Malloc(1));  // tracking off: not recorded
    std::fprintf(stderr, "%d %d", mem_Tracker_Interface::IsTrackingActive(),
                 mem_Tracker_Interface::CurrTransactionId() - 2);
    tracker_files::Finish();
  });
  // Off by the time the tracker goes: the last records still go out, no phase file.
  EXPECT_EQ(ReadRecordFile(dir + "/unknownMemTrack.memT0").size(), 2u);
  EXPECT_FALSE(Exists(dir + "/unknownMemTrack.phaseStack"));
}

TEST(Tracker, AnOverLongOutputDirectorySwitchesTrackingOff) {
  EXPECT_IN_CHILD(
      "^ERROR: Name of output directory given for memory tracking is too long.\n"
      "Name must be under 1024 characters.\n\n0$",
      {
        tracker_files::StartTracked(std::string(1024, 'd'));
        std::fprintf(stderr, "%d", mem_Tracker_Interface::IsTrackingActive());
      });
}

TEST(Tracker, TheOutputDirectoryGoesBelowTheNamesDirectory) {
  std::string const dir = tracker_files::MakeTempDir();
  mkdir((dir + "/trk").c_str(), 0700);  // made already when the body runs again in a child
  EXPECT_IN_CHILD("^$", {
    tracker_files::StartTracked("trk");
    mem_Tracker_Interface::SetOutputName((dir + "/job1").c_str());
    mem_Free(mem_Malloc(1));
    tracker_files::Finish();
  });
  EXPECT_EQ(ReadRecordFile(dir + "/trk/job1.memT0").size(), 2u);
  EXPECT_TRUE(Exists(dir + "/trk/job1.phaseStack"));
}

TEST(Tracker, AMissingDirectoryIsReportedAndTheRecordsDropped) {
  EXPECT_IN_CHILD(
      "\nUnable to open memory tracking file.\n  FileName: /nonexistent/vr/unknownMemTrack.memT0"
      "  Does the output directory /nonexistent/vr exist\\?\n",
      {
        tracker_files::StartTracked("/nonexistent/vr");
        mem_Free(mem_Malloc(1));
        tracker_files::Finish();
      });
}

TEST(Tracker, WithoutTheVariableNothingIsWritten) {
  std::string const dir = tracker_files::MakeTempDir();
  EXPECT_IN_CHILD("^0 0$", {
    setenv("KOV_MEM_OUTPUTDIR", dir.c_str(), 1);
    int started = 0;
    mem_initialize(started);
    void* p = mem_Realloc(mem_Malloc(10), 20);  // every entry point: none reports
    void* q = mem_Calloc(2, 8);
    mem_Release(q);
    mem_Acquire(q);
    mem_Free(q);
    mem_Free(p);
    mem_Tracker_Interface::EnterPhase("a", 1);
    std::fprintf(stderr, "%d %d", mem_Tracker_Interface::IsTrackingActive(),
                 mem_Tracker_Interface::CurrTransactionId());
    tracker_files::Finish();
  });
  EXPECT_FALSE(Exists(dir + "/unknownMemTrack.memT0"));
  EXPECT_FALSE(Exists(dir + "/unknownMemTrack.phaseStack"));
}

TEST(Tracker, PhasesPastTheStackStayInTheDeepestOne) {
  std::string const dir = tracker_files::MakeTempDir();
  EXPECT_IN_CHILD(
      // The paths are long: the pool grows, with its warnings, before the stack is full. The
      // growth is itself tracked, and the phases entered before it keep their ids.
      "WARNING: Memory tracking. Forced to resize mem_StackHash.\n.*"
      "ERROR: Memory tracking: phases nest too deep on thread 0; records stay in ROOT(->n)+\\.\n$",
      {
        tracker_files::StartTracked(dir);
        mem_Tracker_Interface::EnterPhase("n", 0);
        mem_Free(nullptr);  // 0: before the pool grows
        for (int i = 1; i < 1030; ++i) mem_Tracker_Interface::EnterPhase("n", 0);
        mem_Free(nullptr);  // 1: in the deepest phase kept
        for (int i = 0; i < 1030; ++i) mem_Tracker_Interface::ExitPhase(0);
        mem_Free(nullptr);  // 2: back at ROOT
        tracker_files::Finish();
      });
  std::map<std::string, int> phases = ReadPhaseFile(dir + "/unknownMemTrack.phaseStack");
  EXPECT_EQ(phases.size(), 1025u);
  std::string deepest = "ROOT";
  for (int i = 0; i < 1024; ++i) deepest += "->n";
  std::vector<Record> r;
  int pool_blocks = 0;
  for (Record const& record : ReadRun(dir + "/unknownMemTrack")) {
    if (record.pointer == 0) {
      r.push_back(record);
    } else {
      ++pool_blocks;
    }
  }
  EXPECT_GT(pool_blocks, 0);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].phase, phases["ROOT->n"]);
  EXPECT_EQ(r[1].phase, phases[deepest]);
  EXPECT_EQ(r[2].phase, 0);
}

TEST(Tracker, ASixtyFifthThreadSwitchesTrackingOff) {
  std::string const dir = tracker_files::MakeTempDir();
  EXPECT_IN_CHILD("^ERROR: Memory tracking follows at most 64 threads; tracking is off.\n0$", {
    tracker_files::StartTracked(dir);
    for (int i = 0; i < 64; ++i) std::thread([] { mem_Free(nullptr); }).join();
    std::fprintf(stderr, "%d", mem_Tracker_Interface::IsTrackingActive());
    tracker_files::Finish();
  });
  std::vector<Record> r = ReadRun(dir + "/unknownMemTrack");
  ASSERT_EQ(r.size(), 63u);
  for (int i = 0; i < 63; ++i) EXPECT_EQ(r[i].thread, i + 1);
}

}  // namespace
