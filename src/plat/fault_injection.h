// Failure injection for tests: makes chosen platform operations fail on purpose,
// so that the library's handling of a refusing system can be exercised.
#ifndef VARURUROR_PLAT_FAULT_INJECTION_H
#define VARURUROR_PLAT_FAULT_INJECTION_H

namespace plat {

enum class Operation {
  kVirtualAlloc,
  kVirtualFree,
  kCreateEvent,
  kCreateThread,
  kTlsAlloc,
  kGetTempFileName,
  kLoadLibrary,
  kCount
};

// After skip more successful calls of op, the next count calls fail.
void InjectFailures(Operation op, unsigned skip, unsigned count);
void ClearInjectedFailures();

// True when this call of op is to fail; called by the operations themselves.
bool ShouldFail(Operation op);

}  // namespace plat

#endif
