// tools/memtrack on runs made here with tracking on, and on files cut short or foreign.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "child_process.h"
#include "tracker_files.h"
#include "varururor/varururor.h"

namespace {

struct Result {
  int status;  // exit status, or -1 when it did not exit
  std::string out;
  std::string err;
};

Result Memtrack(std::string const& arguments, std::string const& dir) {
  std::string const out = dir + "/memtrack.out";
  std::string const err = dir + "/memtrack.err";
  int const status = std::system(
      (std::string(MEMTRACK_PATH) + " " + arguments + " >" + out + " 2>" + err).c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, tracker_files::ReadFile(out),
          tracker_files::ReadFile(err)};
}

void WriteBytes(std::string const& path, std::string const& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A run with nested phases, a second thread and two leaks (5000 and 300 bytes).
void TrackedRun(std::string const& dir, int scale) {
  tracker_files::StartTracked(dir);
  mem_Tracker_Interface::SetOutputName("job");
  mem_Tracker_Interface::EnterPhase("solve", 0);
  mem_Tracker_Interface::EnterPhase("assemble", 0);
  mem_Free(mem_Malloc(100000 * scale));  // 0, 1: the peak
  mem_Tracker_Interface::ExitPhase(0);
  mem_Malloc(5000);  // 2: left live
  mem_Tracker_Interface::ExitPhase(0);
  std::thread([] {
    mem_Calloc(10, 30);       // 3: left live, thread 1
    mem_Free(mem_Malloc(7));  // 4, 5
  }).join();
  tracker_files::Finish();
}

// The reports of a run, and the same run's files damaged.
TEST(Memtrack, ReportsPhasesPeaksThreadsLeaksAndTheDifferenceToAnotherRun) {
  std::string const dir = tracker_files::MakeTempDir();
  mkdir((dir + "/b").c_str(), 0700);  // made already when the body runs again in a child
  EXPECT_IN_CHILD("^$", TrackedRun(dir, 1));
  EXPECT_IN_CHILD("^$", TrackedRun(dir + "/b", 3));
  Result text = Memtrack(dir + "/job", dir);
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("6 records, 3 phases, 2 threads"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Peak of live bytes: 100000 at transaction 0"), std::string::npos);
  EXPECT_NE(text.out.find("Live bytes at the end: 5300 in 2 blocks"), std::string::npos);
  // The indented phase tree; beside the peak while a phase ran, its own blocks' peak.
  EXPECT_TRUE(std::regex_search(text.out, std::regex("\n  ROOT +3 +307 +7 +5307 +4 +307\n"
                                                     "    solve +1 +5000 +0 +5000 +2 +5000\n"
                                                     "      assemble +2 +100000 +100000 "
                                                     "+100000 +0 +100000\n")))
      << text.out;
  EXPECT_TRUE(std::regex_search(text.out, std::regex("\n  0 +3 +105000 +100000\n"
                                                     "  1 +3 +307 +7\n")))
      << text.out;
  // Leaks largest first, with transaction, thread and phase.
  EXPECT_TRUE(std::regex_search(text.out, std::regex("\n +5000 +2 0x[0-9a-f]{8} +0  ROOT->solve\n"
                                                     " +300 +3 0x[0-9a-f]{8} +1  ROOT\n")))
      << text.out;

  Result json = Memtrack("--json " + dir + "/job", dir);
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("{\"name\":\"assemble\",\"path\":\"ROOT->solve->assemble\",\"id\":2,"
                          "\"operations\":2,\"allocated\":100000,\"freed\":100000,"
                          "\"peak_live\":100000,\"peak_transaction\":0,\"own_peak\":100000"),
            std::string::npos)
      << json.out;
  Result diff = Memtrack(dir + "/job --diff " + dir + "/b/job", dir);
  ASSERT_EQ(diff.status, 0) << diff.err;
  EXPECT_TRUE(std::regex_search(
      diff.out, std::regex("\n  ROOT->solve->assemble +2 +2 +100000 +300000 +100000 +300000\n")))
      << diff.out;

  // The run's files damaged one way at a time: each is refused with its file and offset.
  std::string const base = dir + "/job";
  std::string const records = tracker_files::ReadFile(base + ".memT0");
  std::string const phases = tracker_files::ReadFile(base + ".phaseStack");
  ASSERT_EQ(records.size(), 4u + 6 * 28);
  auto refused = [&](std::string const& record_file, std::string const& phase_file,
                     std::string const& what) {
    WriteBytes(base + ".memT0", record_file);
    WriteBytes(base + ".phaseStack", phase_file);
    Result result = Memtrack(base, dir);
    EXPECT_EQ(result.status, 2) << what;
    EXPECT_NE(result.err.find(base + what), std::string::npos) << result.err;
  };
  refused(records.substr(0, records.size() - 10), phases, ".memT0: at byte offset 162: truncated");
  std::string bad_kind = records;
  bad_kind[4 + 28 * 3 + 8] = 99;
  refused(bad_kind, phases, ".memT0: at byte offset 96: unknown operation kind 99");
  std::string longer = records.substr(0, 4 + 28 * 2);
  longer[0] = 1;
  refused(longer, phases, ".memT0: at byte offset 32: not a record file");
  refused(records, phases.substr(0, 1000), ".phaseStack: at byte offset 1000: not a phase file");
  std::string unterminated = phases;
  std::fill(unterminated.begin() + 8, unterminated.begin() + 4 + 131076, 'x');
  refused(records, unterminated, ".phaseStack: at byte offset 8: phase path without");

  // The largest transaction number counts too (a signed increment of it would overflow).
  std::string crafted = records;
  for (int byte = 0; byte < 4; ++byte) crafted[4 + 28 * 4 + 12 + byte] = byte == 3 ? 0x7F : 0xFF;
  WriteBytes(base + ".memT0", crafted);
  WriteBytes(base + ".phaseStack", phases);
  Result numbers = Memtrack(base, dir);
  EXPECT_EQ(numbers.status, 0) << numbers.err;
  EXPECT_NE(numbers.out.find("Breaks in the transaction numbers: 2\n"), std::string::npos)
      << numbers.out;
  EXPECT_NE(Memtrack(dir + "/nothing", dir)
                .err.find(dir + "/nothing.phaseStack: at byte offset 0: cannot open"),
            std::string::npos);
  EXPECT_EQ(Memtrack("--bogus " + base, dir).status, 2);
  EXPECT_EQ(Memtrack("", dir).status, 2);
}

// The page: self-contained, phase names as text, no "</script>" in its data, thinned points.
TEST(Memtrack, WritesAStandAlonePage) {
  std::string const dir = tracker_files::MakeTempDir();
  EXPECT_IN_CHILD("^$", {
    tracker_files::StartTracked(dir);
    mem_Tracker_Interface::EnterPhase("<script>alert(1)</script>", 0);
    for (int i = 0; i < 20000; ++i) mem_Malloc(16);
    tracker_files::Finish();
  });
  std::string const page = dir + "/page.html";
  Result html = Memtrack("--html " + page + " " + dir + "/unknownMemTrack", dir);
  ASSERT_EQ(html.status, 0) << html.err;
  std::string const source = tracker_files::ReadFile(page);
  EXPECT_FALSE(std::regex_search(source, std::regex("http| src=|<script>alert")));
  EXPECT_NE(source.find("&lt;script&gt;alert(1)&lt;/script&gt;</span>"), std::string::npos);
  EXPECT_NE(source.find("\\u003cscript>alert(1)\\u003c/script>"), std::string::npos);
  EXPECT_NE(source.find("peak 320000 at transaction 19999, own peak 320000"), std::string::npos);
  std::regex const point("\\[[0-9]+,[0-9]+,[0-9]+\\]");
  auto const points = std::distance(std::sregex_iterator(source.begin(), source.end(), point),
                                    std::sregex_iterator());
  EXPECT_GT(points, 1000);
  EXPECT_LE(points, 4096);
}

}  // namespace
