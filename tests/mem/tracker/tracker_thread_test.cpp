// Several threads tracked at once: records numbered without gaps, each with its thread and
// phase. Run in this process (tracking is decided once per process), so DRD watches them.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "long_tests.h"
#include "tracker_files.h"
#include "varururor/varururor.h"

namespace {

constexpr int kThreads = 4;
// Under DRD each operation is slow: the short form keeps the threads overlapping all the same.
int const kPairs = vr_TestLength(500, 2000);

// The phase table is not locked: callers enter new phases from one thread at a time.
std::mutex g_phase_lock;

void Worker(int index) {
  {
    std::lock_guard<std::mutex> hold(g_phase_lock);
    mem_Tracker_Interface::EnterPhase(("worker" + std::to_string(index)).c_str(), 0);
  }
  for (int i = 0; i < kPairs; ++i) {
    void* p = mem_Malloc(8 + index);
    p = mem_Realloc(p, 200 + index);
    mem_Free(p);
  }
  std::lock_guard<std::mutex> hold(g_phase_lock);
  mem_Tracker_Interface::ExitPhase(0);
}

TEST(TrackerThreads, RecordsAreNumberedWithoutGapsAndCarryTheirThreadsPhases) {
  std::string const dir = tracker_files::MakeTempDir();
  tracker_files::StartTracked(dir);
  mem_Free(mem_Malloc(1));
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) threads.emplace_back(Worker, i + 1);
  for (std::thread& thread : threads) thread.join();
  tracker_files::Finish();
  std::vector<tracker_files::Record> records =
      tracker_files::ReadRecordFile(dir + "/unknownMemTrack.memT0");
  ASSERT_EQ(records.size(), 2u + kThreads * kPairs * 3);
  std::map<std::string, int> phases =
      tracker_files::ReadPhaseFile(dir + "/unknownMemTrack.phaseStack");
  ASSERT_EQ(phases.size(), 1u + kThreads);
  // Each thread's records: how many, and their one phase, that of the worker whose sizes
  // its first record has.
  std::map<int, int> records_of_thread;
  std::map<int, int> phase_of_thread;
  for (std::size_t i = 0; i < records.size(); ++i) {
    tracker_files::Record const& r = records[i];
    ASSERT_EQ(r.transaction, static_cast<int>(i));
    if (records_of_thread[r.thread]++ == 0) {
      phase_of_thread[r.thread] =
          r.thread == 0 ? 0 : phases.at("ROOT->worker" + std::to_string(r.size - 8));
    }
    ASSERT_EQ(r.phase, phase_of_thread[r.thread]) << r.thread;
  }
  std::map<int, int> expected{{0, 2}};
  for (int thread = 1; thread <= kThreads; ++thread) expected[thread] = kPairs * 3;
  EXPECT_EQ(records_of_thread, expected);
}

}  // namespace
