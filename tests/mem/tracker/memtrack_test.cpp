// tools/memtrack on runs made here with tracking on, and on files cut short or foreign.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
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
  std::string const err_file = dir + "/memtrack.err";
  std::string const command = std::string(MEMTRACK_PATH) + " " + arguments + " 2>" + err_file;
  Result result{-1, "", ""};
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  int const status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::vector<unsigned char> err = tracker_files::ReadBytes(err_file);
  result.err.assign(err.begin(), err.end());
  return result;
}

// A run with nested phases, a second thread and two leaks (5000 and 300 bytes).
void TrackedRun(std::string const& dir, int scale) {
  tracker_files::StartTracked(dir);
  mem_Tracker_Interface::SetOutputName("job");
  mem_Tracker_Interface::EnterPhase("solve", 0);
  mem_Tracker_Interface::EnterPhase("assemble", 0);
  void* big = mem_Malloc(100000 * scale);  // 0: the peak
  mem_Free(big);                           // 1
  mem_Tracker_Interface::ExitPhase(0);
  void* leak = mem_Malloc(5000);  // 2: left live
  mem_Tracker_Interface::ExitPhase(0);
  std::thread([] {
    void* p = mem_Calloc(10, 30);  // 3: left live, thread 1
    static_cast<void>(p);
    mem_Free(mem_Malloc(7));  // 4, 5
  }).join();
  static_cast<void>(leak);
  tracker_files::Finish();
}

TEST(Memtrack, ReportsPhasesPeaksThreadsAndLeaks) {
  std::string const dir = tracker_files::MakeTempDir();
  EXPECT_IN_CHILD("^$", TrackedRun(dir, 1));
  Result text = Memtrack(dir + "/job", dir);
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("6 records, 3 phases, 2 threads"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Peak of live bytes: 100000 at transaction 0"), std::string::npos);
  EXPECT_NE(text.out.find("Live bytes at the end: 5300 in 2 blocks"), std::string::npos);
  // The tree: ROOT, then solve indented below it, assemble below solve.
  // Beside the program's peak while a phase ran, the peak of the phase's own blocks.
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
  EXPECT_NE(json.out.find("\"records\":6,\"peak_live\":100000,\"peak_transaction\":0,"
                          "\"live_at_end\":5300"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("{\"name\":\"assemble\",\"path\":\"ROOT->solve->assemble\",\"id\":2,"
                          "\"operations\":2,\"allocated\":100000,\"freed\":100000,"
                          "\"peak_live\":100000,\"peak_transaction\":0,\"own_peak\":100000"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"leak_count\":2,\"leaks\":[\n{\"size\":5000,\"transaction\":2,"),
            std::string::npos)
      << json.out;
}

TEST(Memtrack, ComparesTwoRunsByPhase) {
  std::string const dir = tracker_files::MakeTempDir();
  mkdir((dir + "/a").c_str(), 0700);  // made already when the body runs again in a child
  mkdir((dir + "/b").c_str(), 0700);
  EXPECT_IN_CHILD("^$", TrackedRun(dir + "/a", 1));
  EXPECT_IN_CHILD("^$", TrackedRun(dir + "/b", 3));
  Result diff = Memtrack(dir + "/a/job --diff " + dir + "/b/job", dir);
  ASSERT_EQ(diff.status, 0) << diff.err;
  EXPECT_TRUE(std::regex_search(
      diff.out, std::regex("\n  ROOT->solve->assemble +2 +2 +100000 +300000 +100000 +300000\n")))
      << diff.out;
  Result json = Memtrack("--json " + dir + "/a/job --diff " + dir + "/b/job", dir);
  EXPECT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("\"path\":\"ROOT->solve\",\"first\":{\"operations\":1"),
            std::string::npos)
      << json.out;
}

void WriteBytes(std::string const& path, std::vector<unsigned char> const& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<char const*>(bytes.data()), static_cast<long>(bytes.size()));
}

using Bytes = std::vector<unsigned char>;

// A run's files damaged one way at a time: each is refused with its file and offset.
TEST(Memtrack, RefusesBadInputNamingTheFileAndOffset) {
  std::string const dir = tracker_files::MakeTempDir();
  EXPECT_IN_CHILD("^$", TrackedRun(dir, 1));
  std::string const base = dir + "/job";
  Bytes const records = tracker_files::ReadBytes(base + ".memT0");
  Bytes const phases = tracker_files::ReadBytes(base + ".phaseStack");
  ASSERT_EQ(records.size(), 4u + 6 * 28);
  Result missing = Memtrack(dir + "/nothing", dir);
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find(dir + "/nothing.phaseStack: at byte offset 0: cannot open"),
            std::string::npos)
      << missing.err;
  // Writes both files and runs memtrack: refused, naming the file and the offset.
  auto refused = [&](Bytes const& record_file, Bytes const& phase_file, std::string const& what) {
    WriteBytes(base + ".memT0", record_file);
    WriteBytes(base + ".phaseStack", phase_file);
    Result result = Memtrack(base, dir);
    EXPECT_EQ(result.status, 2) << what;
    EXPECT_NE(result.err.find(base + what), std::string::npos) << result.err;
  };
  refused({records.begin(), records.end() - 10}, phases, ".memT0: at byte offset 162: truncated");
  Bytes bad_kind = records;
  bad_kind[4 + 28 * 3 + 8] = 99;
  refused(bad_kind, phases, ".memT0: at byte offset 96: unknown operation kind 99");
  refused({'G', 'I', 'F', '8', '9', 'a', 1, 2, 3}, phases, ".memT0: at byte offset 9: truncated");
  Bytes longer(records.begin(), records.begin() + 4 + 28 * 2);
  longer[0] = 1;
  refused(longer, phases, ".memT0: at byte offset 32: not a record file");
  refused({1, 0}, phases, ".memT0: at byte offset ");
  refused(records, {phases.begin(), phases.begin() + 1000},
          ".phaseStack: at byte offset 1000: not a phase file");
  Bytes unterminated = phases;
  std::fill(unterminated.begin() + 8, unterminated.begin() + 4 + 131076, 'x');
  refused(records, unterminated, ".phaseStack: at byte offset 8: phase path without");

  // Any transaction number is counted, the largest one included (a signed increment of it
  // would overflow).
  Bytes crafted = records;
  for (int byte = 0; byte < 4; ++byte) crafted[4 + 28 * 4 + 12 + byte] = byte == 3 ? 0x7F : 0xFF;
  WriteBytes(base + ".memT0", crafted);
  WriteBytes(base + ".phaseStack", phases);
  Result numbers = Memtrack(base, dir);
  EXPECT_EQ(numbers.status, 0) << numbers.err;
  EXPECT_NE(numbers.out.find("Breaks in the transaction numbers: 2\n"), std::string::npos)
      << numbers.out;
  EXPECT_EQ(Memtrack("--bogus " + base, dir).status, 2);
  EXPECT_EQ(Memtrack("", dir).status, 2);
}

// The page is checked in a real browser: its script must run and plot every point, and it
// must stand alone (no address outside the page).
TEST(Memtrack, WritesAPageThatAHeadlessBrowserPlots) {
  if (std::system("command -v chromium > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "chromium is not installed (scripts/setup installs it): the page is not "
                    "checked";
  }
  std::string const dir = tracker_files::MakeTempDir();
  EXPECT_IN_CHILD("^$", {
    tracker_files::StartTracked(dir);
    mem_Tracker_Interface::EnterPhase("<script>alert(1)</script>", 0);
    for (int i = 0; i < 20000; ++i) mem_Malloc(16);  // more points than a plot keeps
    mem_Tracker_Interface::EnterPhase("brief", 0);   // two operations: a marker of its own
    mem_Free(mem_Malloc(64));
    mem_Tracker_Interface::ExitPhase(0);
    for (int i = 0; i < 2000; ++i) mem_Malloc(16);
    tracker_files::Finish();
  });
  std::string const page = dir + "/page.html";
  Result html = Memtrack("--html " + page + " " + dir + "/unknownMemTrack", dir);
  ASSERT_EQ(html.status, 0) << html.err;
  std::vector<unsigned char> bytes = tracker_files::ReadBytes(page);
  std::string const source(bytes.begin(), bytes.end());
  EXPECT_EQ(source.find("http"), std::string::npos) << "the page must not reach out";
  EXPECT_EQ(source.find(" src="), std::string::npos);

  std::string const command =
      "chromium --headless --no-sandbox --disable-gpu --dump-dom 'file://" + page + "' 2>/dev/null";
  Result dom{-1, "", ""};
  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) dom.out.append(buffer, n);
  pclose(pipe);
  std::smatch status;
  ASSERT_TRUE(std::regex_search(
      dom.out, status,
      std::regex("<p id=\"plot-status\" data-points=\"([0-9]+)\" data-x-ticks=\"([0-9]+)\" "
                 "data-y-ticks=\"([0-9]+)\" data-markers=\"([0-9]+)\">plotted [0-9]+ points</p>")))
      << dom.out.substr(0, 2000);
  int const plotted = std::stoi(status[1]);
  EXPECT_GT(plotted, 1000);
  EXPECT_LE(plotted, 4096);
  EXPECT_GE(std::stoi(status[2]), 4) << "ticks on the transaction axis";
  EXPECT_GE(std::stoi(status[3]), 3) << "ticks on the live-bytes axis";
  EXPECT_EQ(status[4], "1") << "the brief phase gets a marker, the long one none";
  // The legend: every phase, each in a colour of its own.
  std::regex const item(
      "<li data-id=\"[0-9]+\"><i class=\"swatch\" style=\"background: "
      "(rgb\\([0-9, ]+\\));\"></i>([^<]*)</li>");
  std::set<std::string> colours;
  std::vector<std::string> legend;
  for (std::sregex_iterator it(dom.out.begin(), dom.out.end(), item), end; it != end; ++it) {
    colours.insert((*it)[1]);
    legend.push_back((*it)[2]);
  }
  EXPECT_EQ(legend, (std::vector<std::string>{
                        "ROOT", "ROOT-&gt;&lt;script&gt;alert(1)&lt;/script&gt;",
                        "ROOT-&gt;&lt;script&gt;alert(1)&lt;/script&gt;-&gt;brief (brief: marked "
                        "\u25C6)"}));
  EXPECT_EQ(colours.size(), 3u);
  // The phase name is shown as text, never run.
  EXPECT_NE(dom.out.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_TRUE(std::regex_search(
      dom.out, std::regex("<span class=\"phase\" data-id=\"1\"><i class=\"swatch\" "
                          "style=\"background: rgb\\([0-9, ]+\\);\"></i>")))
      << "phase swatches are coloured by the script";
  EXPECT_NE(dom.out.find("peak 352000 at transaction 22001, own peak 352000"), std::string::npos);
}

}  // namespace
