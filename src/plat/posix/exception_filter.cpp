#include "plat/exception_filter.h"

#include <signal.h>
#include <sys/ucontext.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace plat {
namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGFPE, SIGILL, SIGBUS, SIGTRAP};
// Room for the filter and for what it calls, when the thread's own stack is gone.
constexpr std::size_t kAlternateStackSize = 256 * 1024;
// A fault this close below the stack pointer (or above it) is the stack running out.
constexpr unsigned kStackOverflowReach = 64 * 1024;
constexpr int kQuietExitBase = 128;  // exit status 128 + signal, as a shell reports it
constexpr long kPollNanoseconds = 10 * 1000 * 1000;
constexpr unsigned kPollMilliseconds = 10;

std::atomic<UnhandledExceptionFilter> g_filter{nullptr};
alignas(16) char g_alternate_stack[kAlternateStackSize];
bool g_handlers_installed = false;

unsigned CodeOf(int signal_number, siginfo_t const* info, ucontext_t const* context) {
  switch (signal_number) {
    case SIGSEGV: {
      unsigned fault = reinterpret_cast<unsigned>(info->si_addr);
      unsigned sp = static_cast<unsigned>(context->uc_mcontext.gregs[REG_ESP]);
      bool near_stack = fault + kStackOverflowReach >= sp && fault <= sp + kStackOverflowReach;
      return near_stack && info->si_code == SEGV_MAPERR ? kExceptionStackOverflow
                                                        : kExceptionAccessViolation;
    }
    case SIGFPE:
      switch (info->si_code) {
        case FPE_INTDIV:
          return kExceptionIntDivideByZero;
        case FPE_INTOVF:
          return kExceptionIntOverflow;
        case FPE_FLTDIV:
          return kExceptionFltDivideByZero;
        case FPE_FLTOVF:
          return kExceptionFltOverflow;
        case FPE_FLTUND:
          return kExceptionFltUnderflow;
        case FPE_FLTRES:
          return kExceptionFltInexactResult;
        case FPE_FLTSUB:
          return kExceptionArrayBoundsExceeded;
        default:
          return kExceptionFltInvalidOperation;
      }
    case SIGILL:
      return info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG
                 ? kExceptionPrivInstruction
                 : kExceptionIllegalInstruction;
    case SIGBUS:
      return info->si_code == BUS_ADRALN ? kExceptionDatatypeMisalignment : kExceptionInPageError;
    default:  // SIGTRAP
      return info->si_code == TRAP_TRACE ? kExceptionSingleStep : kExceptionBreakpoint;
  }
}

void OnFault(int signal_number, siginfo_t* info, void* raw_context) {
  ucontext_t* context = static_cast<ucontext_t*>(raw_context);
  greg_t const* registers = context->uc_mcontext.gregs;
  ExceptionRecord record{CodeOf(signal_number, info, context),
                         static_cast<unsigned>(registers[REG_EIP])};
  ExceptionContext registers_at_fault{static_cast<unsigned>(registers[REG_CS]) & 0xFFFF,
                                      static_cast<unsigned>(registers[REG_EIP]),
                                      static_cast<unsigned>(registers[REG_ESP]),
                                      static_cast<unsigned>(registers[REG_EBP]), context};
  ExceptionPointers pointers{&record, &registers_at_fault};
  UnhandledExceptionFilter filter = g_filter.load();
  int verdict = filter == nullptr ? kExceptionContinueSearch : filter(&pointers);
  if (verdict == kExceptionExecuteHandler) _exit(kQuietExitBase + signal_number);
  // The default action follows once the handler returns and the signal is unblocked.
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigaction(signal_number, &fallback, nullptr);
  raise(signal_number);
}

}  // namespace

UnhandledExceptionFilter SetUnhandledExceptionFilter(UnhandledExceptionFilter filter) {
  UnhandledExceptionFilter previous = g_filter.exchange(filter);
  if (!g_handlers_installed) {
    stack_t alternate = {};
    alternate.ss_sp = g_alternate_stack;
    alternate.ss_size = sizeof g_alternate_stack;
    sigaltstack(&alternate, nullptr);
    struct sigaction action = {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    // The filter runs with every fault signal blocked: a fault inside it is fatal at once.
    for (int signal_number : kFaultSignals) sigaddset(&action.sa_mask, signal_number);
    for (int signal_number : kFaultSignals) sigaction(signal_number, &action, nullptr);
    g_handlers_installed = true;
  }
  return previous;
}

bool RunInProcessCopy(void (*work)(void* argument), void* argument, unsigned timeout_ms) {
  // _Fork runs no fork handlers and takes no locks: the faulting thread may hold any.
  pid_t child = _Fork();
  if (child < 0) return false;
  if (child == 0) {
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    for (int signal_number : kFaultSignals) sigaction(signal_number, &fallback, nullptr);
    sigset_t all;
    sigemptyset(&all);
    for (int signal_number : kFaultSignals) sigaddset(&all, signal_number);
    sigprocmask(SIG_UNBLOCK, &all, nullptr);
    work(argument);
    _exit(0);
  }
  for (unsigned waited = 0;; waited += kPollMilliseconds) {
    int status;
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (done < 0) return false;
    if (waited >= timeout_ms) break;
    timespec pause{0, kPollNanoseconds};
    nanosleep(&pause, nullptr);
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  return false;
}

}  // namespace plat
