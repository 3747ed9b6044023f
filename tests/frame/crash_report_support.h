// What the crash-report tests share: a scratch directory holding KOV_PATH/External with
// the helper, a child started like a client, and the report it leaves, line by line.
#ifndef VARURUROR_TESTS_FRAME_CRASH_REPORT_SUPPORT_H
#define VARURUROR_TESTS_FRAME_CRASH_REPORT_SUPPORT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "varururor/frame/startup.h"

namespace crash_test {


// The program whose report is read: each test program names itself.
extern char const kProgram[];
constexpr int kQuietExitBase = 128;
inline char const kDirVariable[] = "VR_CRASH_TEST_DIR";

// A scratch directory that holds KOV_PATH/External/dbghelp.so and receives the report.
class CrashReportTest : public testing::Test {
 protected:
  void SetUp() override {
    // The death-test child runs the program again: it takes its parent's directory.
    in_child_ = !GTEST_FLAG_GET(internal_run_death_test).empty();
    if (in_child_) {
      dir_ = std::getenv(kDirVariable);
      return;
    }
    char pattern[] = "/tmp/vr_crash_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv(kDirVariable, pattern, 1);
    std::string external = dir_ + "/kov/External";
    ASSERT_EQ(std::system(("mkdir -p " + external + " " + dir_ + "/empty/External").c_str()), 0);
    ASSERT_EQ(symlink(VR_DBGHELP_FILE, (external + "/dbghelp.so").c_str()), 0);
  }
  void TearDown() override {
    if (!in_child_) std::system(("rm -rf " + dir_).c_str());
  }

  // Runs in the child: report here, helper from KOV_PATH, the library started.
  void Prepare(std::string const& kov_path, bool popup = false) {
    setenv("KOV_PATH", kov_path.c_str(), 1);
    Start(popup);
  }
  // The helper is looked for when the library starts: without KOV_PATH then, none.
  void PrepareWithoutKovPath() {
    unsetenv("KOV_PATH");
    Start(false);
  }
  void Start(bool popup) {
    if (chdir(dir_.c_str()) != 0) std::abort();
    if (popup) {
      setenv("JRT_DEBUG_POPUP", "", 1);  // set, also when empty
    } else {
      unsetenv("JRT_DEBUG_POPUP");
    }
    int total = 0;
    UTI_VaruRuror_initialize(total);
  }

  std::string Kov() const { return dir_ + "/kov"; }

  std::vector<std::string> Report() const {
    std::ifstream in(dir_ + "/" + kProgram + ".dmp");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  bool HasReport() const { return access((dir_ + "/" + kProgram + ".dmp").c_str(), F_OK) == 0; }

  std::string dir_;
  bool in_child_ = false;
};

// Index of the empty line between frames and modules, or -1.
inline int EmptyLine(std::vector<std::string> const& lines) {
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty()) return static_cast<int>(i);
  }
  return -1;
}

// The fault line, the frames, the empty line and a module list naming this program.
inline void CheckShape(std::vector<std::string> const& lines, char const* exception) {
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind(std::string(kProgram) + " caused an " + exception + " in module ", 0),
            0u)
      << lines[0];
  EXPECT_TRUE(std::regex_search(lines[0], std::regex(" at [0-9A-F]{4}:[0-9A-F]{8}"))) << lines[0];
  int empty = EmptyLine(lines);
  ASSERT_GT(empty, 1);
  std::regex frame("^[0-9A-F]{4}:[0-9A-F]{8} \\S+");
  for (int i = 1; i < empty; ++i) EXPECT_TRUE(std::regex_search(lines[i], frame)) << lines[i];
  std::regex module("^.+:\\t[0-9A-F]{8} - [0-9A-F]{8}$");
  bool program_listed = false;
  for (std::size_t i = empty + 1; i < lines.size(); ++i) {
    EXPECT_TRUE(std::regex_match(lines[i], module)) << lines[i];
    if (lines[i].find(std::string("/") + kProgram + ":\t") != std::string::npos) {
      program_listed = true;
    }
  }
  EXPECT_TRUE(program_listed);
}

inline std::string Joined(std::vector<std::string> const& lines) {
  std::string text;
  for (std::string const& line : lines) text += line + "\n";
  return text;
}

// True when some frame line names the function and this file with a line number.
inline bool FrameNames(std::vector<std::string> const& lines, char const* function,
                       char const* file = "crash_report_test\\.cpp") {
  std::regex pattern(std::string(" ") + kProgram + ", .*" + function + ".*" + file +
                     ", line [0-9]{4}");
  int empty = EmptyLine(lines);
  for (int i = 1; i < empty; ++i) {
    if (std::regex_search(lines[i], pattern)) return true;
  }
  return false;
}

}  // namespace crash_test

#endif
