#include "plat/exception_filter.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/ucontext.h>
#include <ucontext.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace plat {
namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGFPE, SIGILL, SIGBUS, SIGTRAP};
// Room for the filter and for what it calls, when the thread's own stack is gone.
constexpr std::size_t kAlternateStackSize = 256 * 1024;
constexpr std::size_t kPageSize = 4096;
// Below the main thread's lowest stack address the kernel keeps this gap unmapped
// (256 pages); its overflow faults in it. Other threads have their guard size.
constexpr std::uintptr_t kMainThreadGuardGap = 256 * kPageSize;
constexpr unsigned kRecordMagic = 0x53544B42;
constexpr int kQuietExitBase = 128;  // exit status 128 + signal, as a shell reports it
constexpr long kPollNanoseconds = 10 * 1000 * 1000;
constexpr unsigned kPollMilliseconds = 10;

// Above each thread's alternate stack, in the same mapping: where its own stack may end.
// The fault handler finds it through sigaltstack, without thread-local storage (whose
// first use in a thread may allocate).
struct StackRecord {
  unsigned magic;
  std::uintptr_t guard_low;   // the guard area: [guard_low, guard_high)
  std::uintptr_t guard_high;
};

// Mapping: a guard page, the alternate stack, the record's page.
constexpr std::size_t kMappingSize = kPageSize + kAlternateStackSize + kPageSize;

struct AlternateStack {
  void* mapping = nullptr;
  ~AlternateStack() {
    if (mapping == nullptr) return;
    stack_t off = {};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    munmap(mapping, kMappingSize);
  }
};
thread_local AlternateStack t_alternate_stack;

std::atomic<UnhandledExceptionFilter> g_filter{nullptr};
bool g_handlers_installed = false;

StackRecord const* CurrentRecord() {
  stack_t current;
  if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) != 0) return nullptr;
  if (current.ss_size != kAlternateStackSize) return nullptr;  // not one of ours
  auto const* record = reinterpret_cast<StackRecord const*>(static_cast<char*>(current.ss_sp) +
                                                            current.ss_size);
  return record->magic == kRecordMagic ? record : nullptr;
}

// The stack ran out when the fault lies in the thread's guard area.
bool IsStackOverflow(siginfo_t const* info) {
  StackRecord const* record = CurrentRecord();
  if (record == nullptr) return false;
  std::uintptr_t fault = reinterpret_cast<std::uintptr_t>(info->si_addr);
  return fault >= record->guard_low && fault < record->guard_high;
}

// The divisor of the faulting div or idiv, decoded from the instruction and registers;
// false when the instruction is not one this can read (then the trap is taken as a
// division by zero, which is what the processor reports).
bool FaultingDivisor(ucontext_t const* context, std::int64_t* divisor) {
  static int const kRegisterOf[] = {REG_EAX, REG_ECX, REG_EDX, REG_EBX,
                                    REG_ESP, REG_EBP, REG_ESI, REG_EDI};
  constexpr unsigned char kOperandSizePrefix = 0x66;
  constexpr unsigned char kDivide8 = 0xF6;
  constexpr unsigned char kDivide = 0xF7;
  constexpr unsigned kUnsignedDivide = 6;
  constexpr unsigned kSignedDivide = 7;
  greg_t const* registers = context->uc_mcontext.gregs;
  auto reg = [&](unsigned number) { return static_cast<std::uint32_t>(registers[kRegisterOf[number]]); };
  unsigned char const* code = reinterpret_cast<unsigned char const*>(registers[REG_EIP]);
  unsigned width = 4;
  for (;; ++code) {
    unsigned char byte = *code;
    if (byte == kOperandSizePrefix) {
      width = 2;
    } else if (byte != 0x2E && byte != 0x3E && byte != 0x26 && byte != 0x36) {
      break;  // fs: and gs: bases are not in the context
    }
  }
  if (*code == kDivide8) {
    width = 1;
  } else if (*code != kDivide) {
    return false;
  }
  ++code;
  unsigned modrm = *code++;
  unsigned mod = modrm >> 6;
  unsigned operation = (modrm >> 3) & 7;
  unsigned rm = modrm & 7;
  if (operation != kUnsignedDivide && operation != kSignedDivide) return false;
  bool is_signed = operation == kSignedDivide;
  std::uint32_t raw;
  if (mod == 3) {
    raw = width == 1 ? (rm < 4 ? reg(rm) : reg(rm - 4) >> 8) : reg(rm);
  } else {
    std::uint32_t address = 0;
    auto displacement32 = [&]() {
      std::uint32_t value = code[0] | code[1] << 8 | code[2] << 16 | static_cast<std::uint32_t>(code[3]) << 24;
      code += 4;
      return value;
    };
    if (rm == 4) {
      unsigned sib = *code++;
      unsigned index = (sib >> 3) & 7;
      unsigned base = sib & 7;
      if (index != 4) address = reg(index) << (sib >> 6);
      address += base == 5 && mod == 0 ? displacement32() : reg(base);
    } else if (rm == 5 && mod == 0) {
      address = displacement32();
    } else {
      address = reg(rm);
    }
    if (mod == 1) address += static_cast<std::uint32_t>(static_cast<signed char>(*code));
    if (mod == 2) address += displacement32();
    // The instruction has just read this operand, so it is readable.
    unsigned char const* operand = reinterpret_cast<unsigned char const*>(address);
    raw = 0;
    for (unsigned i = 0; i < width; ++i) raw |= static_cast<std::uint32_t>(operand[i]) << (8 * i);
  }
  unsigned bits = 8 * width;
  if (bits < 32) raw &= (1u << bits) - 1;
  if (is_signed && bits < 32 && (raw >> (bits - 1)) != 0) {
    *divisor = static_cast<std::int64_t>(raw) - (std::int64_t{1} << bits);
  } else if (is_signed) {
    *divisor = static_cast<std::int32_t>(raw);
  } else {
    *divisor = raw;
  }
  return true;
}

unsigned CodeOf(int signal_number, siginfo_t const* info, ucontext_t const* context) {
  switch (signal_number) {
    case SIGSEGV:
      return IsStackOverflow(info) ? kExceptionStackOverflow : kExceptionAccessViolation;
    case SIGFPE:
      switch (info->si_code) {
        case FPE_INTDIV: {
          // One trap for both: a quotient too large for its register has a divisor that
          // is not zero (INT_MIN / -1).
          std::int64_t divisor = 0;
          return FaultingDivisor(context, &divisor) && divisor != 0 ? kExceptionIntOverflow
                                                                    : kExceptionIntDivideByZero;
        }
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

// The default action follows once the handler returns and the signal is unblocked.
void TakeDefaultAction(int signal_number) {
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigaction(signal_number, &fallback, nullptr);
  raise(signal_number);
}

void OnFault(int signal_number, siginfo_t* info, void* raw_context) {
  // Sent by kill, tgkill, sigqueue or raise (codes up to 0), not raised by the processor.
  if (info->si_code <= 0) {
    TakeDefaultAction(signal_number);
    return;
  }
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
  TakeDefaultAction(signal_number);
}

// [guard_low, guard_high) for the calling thread's stack.
bool StackGuard(std::uintptr_t* guard_low, std::uintptr_t* guard_high) {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return false;
  void* low = nullptr;
  std::size_t size = 0;
  std::size_t guard = 0;
  bool known = pthread_attr_getstack(&attributes, &low, &size) == 0 &&
               pthread_attr_getguardsize(&attributes, &guard) == 0;
  pthread_attr_destroy(&attributes);
  if (!known) return false;
  std::uintptr_t bottom = reinterpret_cast<std::uintptr_t>(low);
  bool main_thread = getpid() == static_cast<pid_t>(syscall(SYS_gettid));
  // The main thread's lowest address is where its limit or the mapping below stops its
  // growth: its overflow faults on either side of it, within the kernel's gap.
  std::uintptr_t reach = main_thread ? kMainThreadGuardGap : (guard > 0 ? guard : kPageSize);
  *guard_low = bottom > reach ? bottom - reach : 0;
  *guard_high = main_thread ? bottom + reach : bottom;
  return true;
}

}  // namespace

void PrepareThreadForFaults() {
  if (t_alternate_stack.mapping != nullptr) return;
  stack_t current;
  // A stack that someone else gave the thread stays; the thread keeps its reports but
  // an overflow on it is named as an access violation.
  if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0) return;
  void* mapping = mmap(nullptr, kMappingSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                       -1, 0);
  if (mapping == MAP_FAILED) return;
  char* base = static_cast<char*>(mapping);
  mprotect(base, kPageSize, PROT_NONE);  // the handler's own overflow faults here
  auto* record = reinterpret_cast<StackRecord*>(base + kPageSize + kAlternateStackSize);
  if (StackGuard(&record->guard_low, &record->guard_high)) record->magic = kRecordMagic;
  stack_t alternate = {};
  alternate.ss_sp = base + kPageSize;
  alternate.ss_size = kAlternateStackSize;
  if (sigaltstack(&alternate, nullptr) != 0) {
    munmap(mapping, kMappingSize);
    return;
  }
  t_alternate_stack.mapping = mapping;
}

UnhandledExceptionFilter SetUnhandledExceptionFilter(UnhandledExceptionFilter filter) {
  UnhandledExceptionFilter previous = g_filter.exchange(filter);
  PrepareThreadForFaults();
  if (!g_handlers_installed) {
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

bool FormatExceptionMessage(unsigned code, char* buffer, unsigned size) {
  if (buffer == nullptr || size == 0) return false;
  char const* text = code == kExceptionCpp ? "unhandled C++ exception" : "";
  unsigned length = 0;
  while (text[length] != '\0' && length + 1 < size) {
    buffer[length] = text[length];
    ++length;
  }
  buffer[length] = '\0';
  return text[0] != '\0';
}

void RaiseUnhandledException(unsigned code) {
  UnhandledExceptionFilter filter = g_filter.load();
  if (filter == nullptr) return;
  ucontext_t context;
  if (getcontext(&context) != 0) return;
  greg_t const* registers = context.uc_mcontext.gregs;
  unsigned short code_segment;  // getcontext leaves the segment registers out
  __asm__("movw %%cs, %0" : "=r"(code_segment));
  ExceptionRecord record{code, static_cast<unsigned>(registers[REG_EIP])};
  ExceptionContext registers_now{code_segment,
                                 static_cast<unsigned>(registers[REG_EIP]),
                                 static_cast<unsigned>(registers[REG_ESP]),
                                 static_cast<unsigned>(registers[REG_EBP]), &context};
  ExceptionPointers pointers{&record, &registers_now};
  if (filter(&pointers) == kExceptionExecuteHandler) _exit(kQuietExitBase + SIGABRT);
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
