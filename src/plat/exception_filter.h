// The unhandled-exception filter: a process-wide function called when a thread faults
// (invalid access, arithmetic trap, illegal instruction, bus error, breakpoint), with
// the fault named by its exception code. Its verdict decides how the process ends.
#ifndef VARURUROR_PLAT_EXCEPTION_FILTER_H
#define VARURUROR_PLAT_EXCEPTION_FILTER_H

namespace plat {

// Exception codes, with their values on the system the library was written for.
constexpr unsigned kExceptionAccessViolation = 0xC0000005;
constexpr unsigned kExceptionDatatypeMisalignment = 0x80000002;
constexpr unsigned kExceptionBreakpoint = 0x80000003;
constexpr unsigned kExceptionSingleStep = 0x80000004;
constexpr unsigned kExceptionArrayBoundsExceeded = 0xC000008C;
constexpr unsigned kExceptionFltDenormalOperand = 0xC000008D;
constexpr unsigned kExceptionFltDivideByZero = 0xC000008E;
constexpr unsigned kExceptionFltInexactResult = 0xC000008F;
constexpr unsigned kExceptionFltInvalidOperation = 0xC0000090;
constexpr unsigned kExceptionFltOverflow = 0xC0000091;
constexpr unsigned kExceptionFltStackCheck = 0xC0000092;
constexpr unsigned kExceptionFltUnderflow = 0xC0000093;
constexpr unsigned kExceptionIntDivideByZero = 0xC0000094;
constexpr unsigned kExceptionIntOverflow = 0xC0000095;
constexpr unsigned kExceptionPrivInstruction = 0xC0000096;
constexpr unsigned kExceptionInPageError = 0xC0000006;
constexpr unsigned kExceptionIllegalInstruction = 0xC000001D;
constexpr unsigned kExceptionNoncontinuableException = 0xC0000025;
constexpr unsigned kExceptionStackOverflow = 0xC00000FD;
constexpr unsigned kExceptionInvalidDisposition = 0xC0000026;
constexpr unsigned kExceptionGuardPage = 0x80000001;
constexpr unsigned kExceptionInvalidHandle = 0xC0000008;
// What the compiler's runtime raises for a C++ exception that nobody catches.
constexpr unsigned kExceptionCpp = 0xE06D7363;

struct ExceptionRecord {
  unsigned code;
  unsigned address;  // of the faulting instruction
};

// The faulting thread's registers; machine_context is the full register state in the
// form the debugging-help library's stack walk takes.
struct ExceptionContext {
  unsigned code_segment;
  unsigned instruction_pointer;
  unsigned stack_pointer;
  unsigned frame_pointer;
  void* machine_context;
};

struct ExceptionPointers {
  ExceptionRecord* record;
  ExceptionContext* context;
};

// The system's text for an exception code outside the named ones (for kExceptionCpp,
// "unhandled C++ exception"), cut to fit size; false, with an empty text, for a code it
// has no text for.
bool FormatExceptionMessage(unsigned code, char* buffer, unsigned size);

// Verdicts: end the process quietly, or hand the fault on to the system (its default
// action: a core dump, or the debugger that watches the process).
constexpr int kExceptionExecuteHandler = 1;
constexpr int kExceptionContinueSearch = 0;

using UnhandledExceptionFilter = int (*)(ExceptionPointers* exception);

// Installs the filter and gives the one it replaces (null at first); the calling thread
// is prepared for faults as by PrepareThreadForFaults. The filter runs on the faulting
// thread, on that thread's alternate stack when it has one. A fault inside the filter
// ends the process at once. Only faults raised by the processor reach it: a fault signal
// sent by a process (kill, raise) keeps its default action.
UnhandledExceptionFilter SetUnhandledExceptionFilter(UnhandledExceptionFilter filter);

// Gives the calling thread an alternate signal stack of its own (once; released when the
// thread ends) and records its stack's bounds, so that its stack overflow reaches the
// filter as EXCEPTION_STACK_OVERFLOW. A thread without one dies of its overflow
// unreported. Threads made by CreateThread are prepared at their start.
void PrepareThreadForFaults();

// Hands a software exception (kExceptionCpp) to the filter as the system does for an
// exception nobody handles, with the calling thread's registers. When the filter's
// verdict is kExceptionExecuteHandler the process ends quietly (exit status 128 + the
// abort signal's number); otherwise this returns and the caller goes on to abort.
void RaiseUnhandledException(unsigned code);

// Runs work(argument) in a copy of the process (the faulting thread alone), waits for it
// at most timeout_ms, and kills it after that. For work that is not safe in a signal
// handler; the copy may hang on a lock the fault left held, hence the limit. Safe in a
// signal handler. False when no copy could be made or it did not finish in time.
bool RunInProcessCopy(void (*work)(void* argument), void* argument, unsigned timeout_ms);

}  // namespace plat

#endif
