// Crash reports: faults in a child process, the report it leaves, line by line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "varururor/frame/fpe.h"
#include "varururor/frame/startup.h"

namespace {

char const kProgram[] = "frame_crash_tests";
constexpr int kQuietExitBase = 128;
char const kDirVariable[] = "VR_CRASH_TEST_DIR";

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
    if (chdir(dir_.c_str()) != 0) std::abort();
    setenv("KOV_PATH", kov_path.c_str(), 1);
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
int EmptyLine(std::vector<std::string> const& lines) {
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty()) return static_cast<int>(i);
  }
  return -1;
}

// The fault line, the frames, the empty line and a module list naming this program.
void CheckShape(std::vector<std::string> const& lines, char const* exception) {
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

std::string Joined(std::vector<std::string> const& lines) {
  std::string text;
  for (std::string const& line : lines) text += line + "\n";
  return text;
}

// True when some frame line names the function and this file with a line number.
bool FrameNames(std::vector<std::string> const& lines, char const* function) {
  std::regex pattern(std::string(" ") + kProgram + ", .*" + function +
                     ".*crash_report_test\\.cpp, line [0-9]{4}");
  int empty = EmptyLine(lines);
  for (int i = 1; i < empty; ++i) {
    if (std::regex_search(lines[i], pattern)) return true;
  }
  return false;
}

int* volatile g_null = nullptr;  // the pointer itself volatile: not known to be null
volatile int g_int_zero = 0;
volatile int g_sink;
volatile double g_double_zero = 0.0;
volatile double g_double_sink;
volatile int g_depth_limit = 1 << 30;  // never reached: the stack runs out first

__attribute__((noinline)) void WriteThroughNull() { *g_null = 1; }
__attribute__((noinline)) void CallerOfTheNullWrite() {
  WriteThroughNull();
  g_sink = 0;
}
__attribute__((noinline)) void DivideIntegerByZero() { g_sink = 7 / g_int_zero; }
__attribute__((noinline)) void DivideDoubleByZero() { g_double_sink = 1.0 / g_double_zero; }
__attribute__((noinline)) void ExecuteIllegalInstruction() { __asm__ __volatile__("ud2"); }
__attribute__((noinline)) int RecurseDeeply(int depth) {
  if (depth == 0) {
    *g_null = depth;
    return 0;
  }
  int result = RecurseDeeply(depth - 1);
  g_sink = result;
  return result + 1;
}
__attribute__((noinline)) int OverflowTheStack(int depth) {
  volatile char pad[256];
  pad[0] = static_cast<char>(depth);
  if (depth == g_depth_limit) return 0;
  int result = OverflowTheStack(depth + 1) + pad[0];
  g_sink = result;
  return result;
}

#if !defined(__SANITIZE_ADDRESS__)
// The sanitizer owns the fault signals; these run only in the plain build.

TEST_F(CrashReportTest, NullWrite) {
  EXPECT_EXIT((Prepare(Kov()), CallerOfTheNullWrite()),
              testing::ExitedWithCode(kQuietExitBase + SIGSEGV), "");
  std::vector<std::string> lines = Report();
  CheckShape(lines, "EXCEPTION_ACCESS_VIOLATION");
  EXPECT_NE(lines[0].find(std::string("in module ") + kProgram + " at "), std::string::npos);
  EXPECT_NE(lines[0].find("WriteThroughNull"), std::string::npos) << lines[0];
  EXPECT_TRUE(FrameNames(lines, "WriteThroughNull"));
  EXPECT_TRUE(FrameNames(lines, "CallerOfTheNullWrite")) << Joined(lines);
}

TEST_F(CrashReportTest, IntegerDivisionByZero) {
  EXPECT_EXIT((Prepare(Kov()), DivideIntegerByZero()),
              testing::ExitedWithCode(kQuietExitBase + SIGFPE), "");
  std::vector<std::string> lines = Report();
  CheckShape(lines, "EXCEPTION_INT_DIVIDE_BY_ZERO");
  EXPECT_TRUE(FrameNames(lines, "DivideIntegerByZero"));
}

TEST_F(CrashReportTest, FloatingDivisionByZeroWithTrapsOn) {
  EXPECT_EXIT((Prepare(Kov()), DivideDoubleByZero()),
              testing::ExitedWithCode(kQuietExitBase + SIGFPE), "");
  std::vector<std::string> lines = Report();
  CheckShape(lines, "EXCEPTION_FLT_DIVIDE_BY_ZERO");
  EXPECT_TRUE(FrameNames(lines, "DivideDoubleByZero"));
}

TEST_F(CrashReportTest, IllegalInstruction) {
  EXPECT_EXIT((Prepare(Kov()), ExecuteIllegalInstruction()),
              testing::ExitedWithCode(kQuietExitBase + SIGILL), "");
  std::vector<std::string> lines = Report();
  CheckShape(lines, "EXCEPTION_ILLEGAL_INSTRUCTION");
  EXPECT_TRUE(FrameNames(lines, "ExecuteIllegalInstruction"));
}

TEST_F(CrashReportTest, DeepStackGivesExactly200Frames) {
  EXPECT_EXIT((Prepare(Kov()), RecurseDeeply(300)),
              testing::ExitedWithCode(kQuietExitBase + SIGSEGV), "");
  std::vector<std::string> lines = Report();
  CheckShape(lines, "EXCEPTION_ACCESS_VIOLATION");
  EXPECT_EQ(EmptyLine(lines), 201);
  EXPECT_TRUE(FrameNames(lines, "RecurseDeeply"));
}

TEST_F(CrashReportTest, StackOverflow) {
  EXPECT_EXIT((Prepare(Kov()), OverflowTheStack(0)),
              testing::ExitedWithCode(kQuietExitBase + SIGSEGV), "");
  std::vector<std::string> lines = Report();
  CheckShape(lines, "EXCEPTION_STACK_OVERFLOW");
  EXPECT_EQ(EmptyLine(lines), 201);
  EXPECT_TRUE(FrameNames(lines, "OverflowTheStack"));
}

TEST_F(CrashReportTest, PopupHandsTheFaultToTheSystem) {
  EXPECT_EXIT((Prepare(Kov(), true), CallerOfTheNullWrite()), testing::KilledBySignal(SIGSEGV), "");
  CheckShape(Report(), "EXCEPTION_ACCESS_VIOLATION");
}

TEST_F(CrashReportTest, HelperMissingFromKovPath) {
  std::string path = dir_ + "/nowhere;" + dir_ + "/empty";
  EXPECT_EXIT((Prepare(path), CallerOfTheNullWrite()),
              testing::ExitedWithCode(kQuietExitBase + SIGSEGV),
              "^dbghelp.dll not found in KOV_PATH$");
  EXPECT_FALSE(HasReport());
}

TEST_F(CrashReportTest, HelperFoundInALaterDirectory) {
  std::string path = dir_ + "/empty;;" + Kov();
  EXPECT_EXIT((Prepare(path), CallerOfTheNullWrite()),
              testing::ExitedWithCode(kQuietExitBase + SIGSEGV), "^$");
  CheckShape(Report(), "EXCEPTION_ACCESS_VIOLATION");
}

TEST_F(CrashReportTest, HelperThatCannotBeLoaded) {
  std::string broken = dir_ + "/broken/External";
  ASSERT_EQ(
      std::system(("mkdir -p " + broken + " && echo junk > " + broken + "/dbghelp.so").c_str()), 0);
  EXPECT_EXIT((Prepare(dir_ + "/broken;" + Kov()), CallerOfTheNullWrite()),
              testing::ExitedWithCode(kQuietExitBase + SIGSEGV), "^Unexpected error -?[0-9]+\n$");
  EXPECT_FALSE(HasReport());
}

TEST_F(CrashReportTest, HelperWithoutItsOperations) {
  std::string other = dir_ + "/other/External";
  // The death-test child runs this again: ln -sf does not mind the link being there.
  ASSERT_EQ(std::system(("mkdir -p " + other + " && ln -sf /lib/i386-linux-gnu/libm.so.6 " + other +
                         "/dbghelp.so")
                            .c_str()),
            0);
  EXPECT_EXIT((Prepare(dir_ + "/other"), CallerOfTheNullWrite()),
              testing::ExitedWithCode(kQuietExitBase + SIGSEGV), "^$");
  EXPECT_FALSE(HasReport());
}

TEST_F(CrashReportTest, NoKovPathNoReportNoMessage) {
  EXPECT_EXIT((Prepare(Kov()), unsetenv("KOV_PATH"), CallerOfTheNullWrite()),
              testing::ExitedWithCode(kQuietExitBase + SIGSEGV), "^$");
  EXPECT_FALSE(HasReport());
}

TEST_F(CrashReportTest, UnwritableDirectoryStillEndsQuietly) {
  EXPECT_EXIT((Prepare(Kov()), chdir("/proc"), CallerOfTheNullWrite()),
              testing::ExitedWithCode(kQuietExitBase + SIGSEGV), "");
  EXPECT_FALSE(HasReport());
}
#endif

}  // namespace
