// Crash reports: each fault is raised in a child started like a client, in a scratch
// directory that holds KOV_PATH/External with the helper.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "varururor/frame/alert_listener.h"
#include "varururor/frame/alert_trigger.h"
#include "varururor/frame/startup.h"

namespace {

constexpr char kProgram[] = "frame_crash_tests";
constexpr int kQuietExitBase = 128;
constexpr char kDirVariable[] = "VR_CRASH_TEST_DIR";
constexpr unsigned kGarbage = 0xDEAD0000;  // not mapped in a 32-bit process here
constexpr int kPollMicroseconds = 1000;
constexpr int kSomeFrames = -1;

int* volatile g_null = nullptr;  // the pointer itself volatile: not known to be null
volatile int g_sink;
volatile int g_int_zero = 0;
volatile int g_int_min = INT_MIN;
volatile int g_minus_one = -1;
volatile double g_double_zero = 0.0;
volatile double g_double_sink;
volatile int g_depth_limit = 1 << 30;  // never reached: the stack runs out first

// Each fault below is raised where the compiler cannot move it.
__attribute__((noinline)) void WriteThroughNull() { *g_null = 1; }
__attribute__((noinline)) void DivideIntegerByZero() { g_sink = 7 / g_int_zero; }
__attribute__((noinline)) void DivideDoubleByZero() { g_double_sink = 1.0 / g_double_zero; }
__attribute__((noinline)) void ExecuteIllegalInstruction() { __asm__ __volatile__("ud2"); }
__attribute__((noinline)) int OverflowTheStack(int depth) {
  volatile char pad[256];
  pad[0] = static_cast<char>(depth);
  if (depth == g_depth_limit) return 0;
  int result = OverflowTheStack(depth + 1) + pad[0];
  g_sink = result;
  return result;
}

__attribute__((noinline)) void FaultWithSmashedFramePointer() {
  __asm__ __volatile__("movl %0, %%ebp\n\txorl %%eax, %%eax\n\tmovl %%eax, (%%eax)" ::"i"(kGarbage)
                       : "eax", "memory");
}

__attribute__((noinline)) void JumpToTheStack() {
  unsigned char code[16] = {0xC3};  // ret, never run: the stack is not executable
  reinterpret_cast<void (*)()>(reinterpret_cast<std::uintptr_t>(code))();
  g_sink = code[1];
}

__attribute__((noinline)) void ThrowUncaught() { throw std::runtime_error("the solver gave up"); }

// Overflowing divisions the decoder must tell from a division by zero: a memory operand and
// a byte register (AX -128 / -1).
void DivideThroughMemoryOperand() {
  __asm__ __volatile__("movl %0, %%eax\n\tcltd\n\tidivl (%1)" ::"r"(g_int_min), "r"(&g_minus_one)
                       : "eax", "edx", "memory");
}
void DivideByteRegister() {
  __asm__ __volatile__("movw $-128, %%ax\n\tmovb $-1, %%cl\n\tidivb %%cl" ::: "eax", "ecx");
}
void StartTheLibrary() {
  int total = 0;
  UTI_VaruRuror_initialize(total);
}

void OverflowOnTheListener() {
  omi_AlertListener& listener = omi_Singleton<omi_AlertListener>::Instance();
  listener.SetHandler(omi_AlertUser1, [](int) { OverflowTheStack(0); });
  listener.Arm();
  omi_AlertTrigger(listener.GetThreadId()).Alert(omi_AlertUser1);
  for (;;) pause();
}

// One thread holds the loader's lock (the blocking library's constructor marks the
// directory once it does); another waits in its first write to a full standard error inside
// malloc_stats, holding the main arena's lock and stderr's lock, for good.
void CrashWhileTheLoaderAndTheHeapAreHeld() {
  std::thread([] { dlopen(VR_BLOCKING_LIBRARY, RTLD_NOW); }).detach();
  std::string mark = std::string(std::getenv(kDirVariable)) + "/loader_held";
  while (access(mark.c_str(), F_OK) != 0) usleep(kPollMicroseconds);
  int ends[2];
  if (pipe(ends) != 0) std::abort();
  fcntl(ends[1], F_SETFL, O_NONBLOCK);
  char block[4096] = {};
  while (write(ends[1], block, sizeof block) > 0) {
  }
  fcntl(ends[1], F_SETFL, 0);
  dup2(ends[1], STDERR_FILENO);
  std::atomic<pid_t> holder{0};
  std::thread([&holder] {
    holder = static_cast<pid_t>(gettid());
    malloc_stats();
  }).detach();
  // Polled without stdio or the heap until the holder sleeps in write(2).
  constexpr int kWriteCall = 4;
  char path[64];
  char text[16] = {};
  while (std::atoi(text) != kWriteCall) {
    usleep(kPollMicroseconds);
    std::snprintf(path, sizeof path, "/proc/self/task/%d/syscall", static_cast<int>(holder));
    int fd = open(path, O_RDONLY);
    if (fd < 0) continue;
    if (read(fd, text, sizeof text - 1) <= 0) text[0] = '\0';
    close(fd);
  }
  WriteThroughNull();
}

std::string Dir() { return std::getenv(kDirVariable); }
std::string Kov() { return Dir() + "/kov"; }
std::string ReportPath() { return Dir() + "/" + kProgram + ".dmp"; }

// Runs in the child: the library, which looks for the helper as it starts, is started in the
// scratch directory, where the report goes.
void Start() {
  if (chdir(Dir().c_str()) != 0) std::abort();
  StartTheLibrary();
}

struct Fault {
  char const* name;
  void (*raise)();
  int signal;             // the quiet exit is 128 + signal
  char const* exception;  // a pattern
  // Named with this file and a line by a frame, and by the fault line when the fault is in
  // this program; null: not checked.
  char const* function = nullptr;
  char const* module = kProgram;  // holding the fault address; null: not checked
  int frames = kSomeFrames;
};

// The fault line, the frames, an empty line and the modules, this program among them.
void CheckReport(Fault const& fault) {
  std::ifstream in(ReportPath());
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::string const program = kProgram;
  // The symbol: its name without the parameters, then "()+" and the displacement, or a blank
  // (the fault line) or nothing (a frame) when there is none; then this file and a line.
  std::string const source = std::string(fault.function == nullptr ? "" : fault.function) +
                             "(\\(\\)\\+[0-9]{4} byte\\(s\\)| )?, [^,]*crash_report_test\\.cpp, "
                             "line [0-9]{4}";
  std::string fault_line = "^" + program + " caused an " + fault.exception + " in module " +
                           (fault.module == nullptr ? ".+" : fault.module) +
                           " at [0-9A-F]{4}:[0-9A-F]{8}";
  if (fault.module != nullptr && fault.function != nullptr) fault_line += ", .*" + source;
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(std::regex_search(lines[0], std::regex(fault_line))) << lines[0];
  std::size_t const blank = std::find(lines.begin(), lines.end(), "") - lines.begin();
  int const frames = static_cast<int>(blank) - 1;
  EXPECT_TRUE(fault.frames == kSomeFrames ? frames > 0 : frames == fault.frames) << frames;
  std::regex const frame("^[0-9A-F]{4}:[0-9A-F]{8} \\S+");
  std::regex const module("^.+:\\t[0-9A-F]{8} - [0-9A-F]{8}$");
  std::regex const named(" " + program + ", .*" + source);
  bool function_named = fault.function == nullptr;
  bool program_listed = false;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (i == blank) continue;
    EXPECT_TRUE(std::regex_search(lines[i], i < blank ? frame : module)) << lines[i];
    function_named = function_named || (i < blank && std::regex_search(lines[i], named));
    program_listed = program_listed || lines[i].find("/" + program + ":\t") != std::string::npos;
  }
  EXPECT_TRUE(function_named);
  EXPECT_TRUE(program_listed);
}

char const kAccess[] = "EXCEPTION_ACCESS_VIOLATION";
char const kOverflow[] = "EXCEPTION_STACK_OVERFLOW";
char const kIntOverflow[] = "EXCEPTION_INT_OVERFLOW";

Fault const kFaults[] = {
    {"NullWrite", WriteThroughNull, SIGSEGV, kAccess, "WriteThroughNull"},
    {"IntegerDivisionByZero", DivideIntegerByZero, SIGFPE, "EXCEPTION_INT_DIVIDE_BY_ZERO",
     "DivideIntegerByZero"},
    {"FloatingDivisionByZeroWithTrapsOn", DivideDoubleByZero, SIGFPE,
     "EXCEPTION_FLT_DIVIDE_BY_ZERO", "DivideDoubleByZero"},
    {"IllegalInstruction", ExecuteIllegalInstruction, SIGILL, "EXCEPTION_ILLEGAL_INSTRUCTION",
     "ExecuteIllegalInstruction"},
    // A deep stack gives exactly 200 frame lines.
    {"StackOverflow", [] { OverflowTheStack(0); }, SIGSEGV, kOverflow, "OverflowTheStack", kProgram,
     200},
    // A failed stack step ends the stack part; the empty line and the modules still follow.
    {"SmashedFramePointer", FaultWithSmashedFramePointer, SIGSEGV, kAccess},
    {"JumpToTheStack", JumpToTheStack, SIGSEGV, kAccess, nullptr, "<UNKNOWN>", 0},
    {"StackOverflowOnTheListener", OverflowOnTheListener, SIGSEGV, kOverflow, "OverflowTheStack"},
    // A thread the client starts, which starts the library again (that only counts).
    {"StackOverflowOnAClientThread",
     [] { std::thread([] { StartTheLibrary(), OverflowTheStack(0); }).join(); }, SIGSEGV,
     kOverflow},
    // On a thread of its own: the death test would catch it on this one.
    {"UncaughtCppException", [] { std::thread(ThrowUncaught).join(); }, SIGABRT,
     "unhandled C\\+\\+ exception of type std::runtime_error \\(the solver gave up\\)",
     "ThrowUncaught", nullptr},
    {"IntMinByMinusOne", [] { g_sink = g_int_min / g_minus_one; }, SIGFPE, kIntOverflow},
    {"MemoryOperand", DivideThroughMemoryOperand, SIGFPE, kIntOverflow},
    {"ByteRegister", DivideByteRegister, SIGFPE, kIntOverflow},
    {"WhileOtherThreadsHoldTheLoaderAndTheHeap", CrashWhileTheLoaderAndTheHeapAreHeld, SIGSEGV,
     kAccess, "WriteThroughNull"},
};

// Names the case in the test's listing.
void PrintTo(Fault const& fault, std::ostream* out) { *out << fault.name; }

// A scratch directory with the helper in kov/External, none in empty/External, junk in
// broken/External and a library without the helper's operations in other/External. The
// death-test child runs the program again and finds its parent's directory by the variable.
class CrashReportTest : public testing::TestWithParam<Fault> {
 protected:
  void SetUp() override {
    if (std::getenv(kDirVariable) == nullptr) {
      char pattern[] = "/tmp/vr_crash_XXXXXX";
      ASSERT_NE(mkdtemp(pattern), nullptr);
      setenv(kDirVariable, pattern, 1);
      std::system(("cd " + std::string(pattern) +
                   " && mkdir -p kov/External empty/External broken/External other/External"
                   " && echo junk > broken/External/dbghelp.so && ln -s " VR_DBGHELP_FILE
                   " kov/External/dbghelp.so && ln -s /lib/i386-linux-gnu/libm.so.6"
                   " other/External/dbghelp.so")
                      .c_str());
    }
    setenv("KOV_PATH", Kov().c_str(), 1);
    unsetenv("JRT_DEBUG_POPUP");
  }
  // Never reached in the child, which ends inside its death test.
  void TearDown() override {
    std::system(("rm -rf " + Dir()).c_str());
    unsetenv(kDirVariable);
  }
};

#if !defined(__SANITIZE_ADDRESS__)
// The sanitizer owns the fault signals; these run only in the plain build.

TEST_P(CrashReportTest, ReportNamesTheFaultItsFramesAndTheModules) {
  Fault const& fault = GetParam();
  EXPECT_EXIT((Start(), fault.raise()), testing::ExitedWithCode(kQuietExitBase + fault.signal),
              "^$");
  CheckReport(fault);
}

INSTANTIATE_TEST_SUITE_P(Faults, CrashReportTest, testing::ValuesIn(kFaults),
                         [](testing::TestParamInfo<Fault> const& info) { return info.param.name; });

// Where the helper is looked for, what is said when it cannot be had, and the popup.
TEST_F(CrashReportTest, HelperSearchAndItsFailures) {
  struct Setting {
    std::string kov_path;
    char const* crash_directory;
    bool popup;
    char const* message;
    bool report;
  };
  std::string const d = Dir() + "/";
  Setting const settings[] = {
      {d + "nowhere;" + d + "empty", ".", false, "^dbghelp.dll not found in KOV_PATH$", false},
      {d + "empty;;" + Kov(), ".", false, "^$", true},
      {d + "broken;" + Kov(), ".", false,
       "^Unexpected error 193: .*/broken/External/dbghelp.so: .+\n$", false},
      {d + "other", ".", false, "^$", false},  // a library without the helper's operations
      {Kov(), "/proc", false, "", false},      // the report cannot be written
      {Kov(), ".", true, "", true},            // the system takes the fault
  };
  for (Setting const& setting : settings) {
    SCOPED_TRACE(setting.kov_path);
    std::remove(ReportPath().c_str());
    setenv("KOV_PATH", setting.kov_path.c_str(), 1);
    if (setting.popup) setenv("JRT_DEBUG_POPUP", "", 1);  // set, also when empty
    std::function<bool(int)> ends = testing::ExitedWithCode(kQuietExitBase + SIGSEGV);
    if (setting.popup) ends = testing::KilledBySignal(SIGSEGV);
    EXPECT_EXIT((Start(), chdir(setting.crash_directory), WriteThroughNull()), ends,
                setting.message);
    if (setting.report) {
      CheckReport({"", nullptr, SIGSEGV, kAccess});
    } else {
      EXPECT_NE(access(ReportPath().c_str(), F_OK), 0);
    }
  }
}

// Only the processor's faults are exceptions; a signal a process sends keeps its default.
TEST_F(CrashReportTest, FaultSignalSentByAProcessIsNotReported) {
  for (int signal_number : {SIGSEGV, SIGFPE, SIGILL, SIGBUS, SIGTRAP}) {
    EXPECT_EXIT((Start(), kill(getpid(), signal_number), raise(signal_number)),
                testing::KilledBySignal(signal_number), "");
    EXPECT_NE(access(ReportPath().c_str(), F_OK), 0);
  }
}
#endif

}  // namespace
