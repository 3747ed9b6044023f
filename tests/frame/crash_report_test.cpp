// Crash reports: faults in a child process, the report it leaves, line by line.
#include "crash_report_support.h"
#include "varururor/frame/fpe.h"

namespace crash_test {
char const kProgram[] = "frame_crash_tests";
}  // namespace crash_test

namespace {

using namespace crash_test;

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
              testing::ExitedWithCode(kQuietExitBase + SIGSEGV), "^Unexpected error 193: .*/broken/External/dbghelp.so: .+\n$");
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
  EXPECT_EXIT((PrepareWithoutKovPath(), CallerOfTheNullWrite()),
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
