// Crash reports in the faults they exist for: a smashed frame or stack pointer, a jump
// into the stack, stack overflows on other threads, an uncaught C++ exception, an
// overflowing division, a crash while another thread holds the loader's or the heap's
// lock, and fault signals that a process sent rather than the processor raised.
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "crash_report_support.h"
#include "varururor/frame/alert_listener.h"
#include "varururor/frame/alert_trigger.h"

namespace {

using namespace crash_test;

constexpr unsigned kGarbage = 0xDEAD0000;  // not mapped in a 32-bit process here
constexpr int kPollMicroseconds = 1000;

volatile int g_sink;
volatile int g_int_min = INT_MIN;
volatile int g_minus_one = -1;
volatile int g_zero = 0;
volatile short g_short_minus_one = -1;
volatile int g_depth_limit = 1 << 30;  // never reached: the stack runs out first

// Each fault below is raised where the compiler cannot move it.
__attribute__((noinline)) void FaultWithSmashedFramePointer() {
  __asm__ __volatile__(
      "movl %0, %%ebp\n\t"
      "xorl %%eax, %%eax\n\t"
      "movl %%eax, (%%eax)" ::"i"(kGarbage)
      : "eax", "memory");
}

__attribute__((noinline)) void FaultWithBadStackPointer() {
  __asm__ __volatile__(
      "movl %0, %%esp\n\t"
      "xorl %%eax, %%eax\n\t"
      "movl %%eax, (%%eax)" ::"i"(kGarbage)
      : "eax", "memory");
}

__attribute__((noinline)) void JumpToTheStack() {
  unsigned char code[16] = {0xC3};  // ret, never run: the stack is not executable
  reinterpret_cast<void (*)()>(reinterpret_cast<std::uintptr_t>(code))();
  g_sink = code[1];
}

__attribute__((noinline)) int Recurse(int depth) {
  volatile char pad[256];
  pad[0] = static_cast<char>(depth);
  if (depth == g_depth_limit) return 0;
  int result = Recurse(depth + 1) + pad[0];
  g_sink = result;
  return result;
}

void OverflowOnAlert(int) { Recurse(0); }

int* volatile g_null = nullptr;
__attribute__((noinline)) void WriteThroughNullHere() {
  *g_null = 1;
  g_sink = 0;
}

__attribute__((noinline)) void ThrowUncaught() {
  throw std::runtime_error("the solver gave up");
}

// Division forms the decoder must read: the compiler's own, a memory operand, a byte
// register (AX -128 / -1) and a 16-bit memory operand; and one true division by zero.
__attribute__((noinline)) void DivideIntMinByMinusOne() { g_sink = g_int_min / g_minus_one; }
__attribute__((noinline)) void DivideThroughMemoryOperand() {
  __asm__ __volatile__("movl %0, %%eax\n\tcltd\n\tidivl (%1)" ::"r"(g_int_min), "r"(&g_minus_one)
                       : "eax", "edx", "memory");
}
__attribute__((noinline)) void DivideByteRegister() {
  __asm__ __volatile__("movw $-128, %%ax\n\tmovb $-1, %%cl\n\tidivb %%cl" ::: "eax", "ecx");
}
__attribute__((noinline)) void DivideWordMemoryOperand() {
  __asm__ __volatile__("movw $-32768, %%ax\n\tmovw $-1, %%dx\n\tidivw (%0)" ::"r"(&g_short_minus_one)
                       : "eax", "edx", "memory");
}
__attribute__((noinline)) void DivideByZeroThroughMemory() {
  __asm__ __volatile__("movl $7, %%eax\n\tcltd\n\tidivl (%0)" ::"r"(&g_zero) : "eax", "edx", "memory");
}

void WaitForFile(std::string const& path) {
  while (access(path.c_str(), F_OK) != 0) usleep(kPollMicroseconds);
}

// True once the thread sleeps in write(2), the call that keeps it holding its locks. Read
// without stdio or the heap: the lock it holds is the heap's.
bool BlockedInWrite(pid_t thread) {
  constexpr int kWriteCall = 4;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/task/%d/syscall", static_cast<int>(thread));
  int fd = open(path, O_RDONLY);
  if (fd < 0) return false;
  char text[16] = {};
  ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  return got > 0 && std::atoi(text) == kWriteCall;
}

// Standard error becomes a full pipe; malloc_stats then waits in its first write holding
// the main arena's lock and stderr's lock, for good.
void HoldTheHeapLock() {
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
  while (holder == 0 || !BlockedInWrite(holder)) usleep(kPollMicroseconds);
}

#if !defined(__SANITIZE_ADDRESS__)
// The sanitizer owns the fault signals; these run only in the plain build.

// A failed stack step ends the stack part; the empty line and the modules still follow.
TEST_F(CrashReportTest, SmashedFramePointerOrStackPointerStillGivesTheWholeReport) {
  for (void (*fault)() : {FaultWithSmashedFramePointer, FaultWithBadStackPointer}) {
    EXPECT_EXIT((Prepare(Kov()), fault()), testing::ExitedWithCode(kQuietExitBase + SIGSEGV), "");
    std::vector<std::string> lines = Report();
    CheckShape(lines, "EXCEPTION_ACCESS_VIOLATION");
    EXPECT_NE(lines[0].find(std::string("in module ") + kProgram + " at "), std::string::npos);
  }
}

TEST_F(CrashReportTest, JumpToTheStackIsInNoModule) {
  EXPECT_EXIT((Prepare(Kov()), JumpToTheStack()), testing::ExitedWithCode(kQuietExitBase + SIGSEGV),
              "");
  std::vector<std::string> lines = Report();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_NE(lines[0].find("EXCEPTION_ACCESS_VIOLATION in module <UNKNOWN> at "), std::string::npos)
      << lines[0];
  EXPECT_EQ(EmptyLine(lines), 1) << Joined(lines);  // no frame: the pc is in no module
  EXPECT_NE(Joined(lines).find(std::string("/") + kProgram + ":\t"), std::string::npos);
}

TEST_F(CrashReportTest, StackOverflowOnTheLibrarysThreadAndOnAThreadThatStartedIt) {
  auto on_listener = [this] {
    Prepare(Kov());
    omi_AlertListener& listener = omi_Singleton<omi_AlertListener>::Instance();
    listener.SetHandler(omi_AlertUser1, OverflowOnAlert);
    listener.Arm();
    omi_AlertTrigger(listener.GetThreadId()).Alert(omi_AlertUser1);
    for (;;) pause();
  };
  auto on_client_thread = [this] {
    Prepare(Kov());
    std::thread([] {
      int total = 0;
      UTI_VaruRuror_initialize(total);
      Recurse(0);
    }).join();
  };
  EXPECT_EXIT(on_listener(), testing::ExitedWithCode(kQuietExitBase + SIGSEGV), "");
  CheckShape(Report(), "EXCEPTION_STACK_OVERFLOW");
  EXPECT_TRUE(FrameNames(Report(), "Recurse", "crash_survival_test\\.cpp"));
  EXPECT_EXIT(on_client_thread(), testing::ExitedWithCode(kQuietExitBase + SIGSEGV), "");
  CheckShape(Report(), "EXCEPTION_STACK_OVERFLOW");
}

TEST_F(CrashReportTest, UncaughtCppExceptionIsReported) {
  // On a thread of its own: the death test would catch it on this one.
  EXPECT_EXIT((Prepare(Kov()), std::thread(ThrowUncaught).join()),
              testing::ExitedWithCode(kQuietExitBase + SIGABRT), "^$");
  std::vector<std::string> lines = Report();
  CheckShape(lines, "unhandled C++ exception of type std::runtime_error (the solver gave up)");
  EXPECT_TRUE(FrameNames(lines, "ThrowUncaught", "crash_survival_test\\.cpp")) << Joined(lines);
}

TEST_F(CrashReportTest, DivisionThatOverflowsIsNotADivisionByZero) {
  struct Case {
    void (*divide)();
    char const* exception;
  };
  Case const cases[] = {{DivideIntMinByMinusOne, "EXCEPTION_INT_OVERFLOW"},
                        {DivideThroughMemoryOperand, "EXCEPTION_INT_OVERFLOW"},
                        {DivideByteRegister, "EXCEPTION_INT_OVERFLOW"},
                        {DivideWordMemoryOperand, "EXCEPTION_INT_OVERFLOW"},
                        {DivideByZeroThroughMemory, "EXCEPTION_INT_DIVIDE_BY_ZERO"}};
  for (Case const& one : cases) {
    EXPECT_EXIT((Prepare(Kov()), one.divide()), testing::ExitedWithCode(kQuietExitBase + SIGFPE),
                "");
    CheckShape(Report(), one.exception);
  }
}

TEST_F(CrashReportTest, CrashWhileAnotherThreadHoldsTheLoadersLock) {
  auto crash = [this] {
    Prepare(Kov());
    std::thread([] { dlopen(VR_BLOCKING_LIBRARY, RTLD_NOW); }).detach();
    WaitForFile(dir_ + "/loader_held");
    WriteThroughNullHere();
  };
  EXPECT_EXIT(crash(), testing::ExitedWithCode(kQuietExitBase + SIGSEGV), "");
  CheckShape(Report(), "EXCEPTION_ACCESS_VIOLATION");
}

TEST_F(CrashReportTest, CrashWhileAnotherThreadHoldsTheHeapLock) {
  EXPECT_EXIT((Prepare(Kov()), HoldTheHeapLock(), WriteThroughNullHere()),
              testing::ExitedWithCode(kQuietExitBase + SIGSEGV), "");
  std::vector<std::string> lines = Report();
  CheckShape(lines, "EXCEPTION_ACCESS_VIOLATION");
  EXPECT_TRUE(FrameNames(lines, "WriteThroughNullHere", "crash_survival_test\\.cpp"));
}

// Only the processor's faults are exceptions; a signal a process sends keeps its default.
TEST_F(CrashReportTest, FaultSignalSentByAProcessIsNotReported) {
  for (int signal_number : {SIGSEGV, SIGFPE, SIGILL, SIGBUS, SIGTRAP}) {
    EXPECT_EXIT((Prepare(Kov()), kill(getpid(), signal_number), raise(signal_number)),
                testing::KilledBySignal(signal_number), "");
    EXPECT_FALSE(HasReport());
  }
}
#endif

}  // namespace
