// The one line a process says before it stops on a misused or damaged block, shared by the
// heap and the thread-block pool so that both speak alike.
#ifndef VARURUROR_MEM_MISUSE_LINE_H
#define VARURUROR_MEM_MISUSE_LINE_H

namespace mem {

// Writes "VaruRuror: OPERATION(0x........): FINDING" to standard error, or
// "VaruRuror: FINDING" when operation is null, then aborts. Async-signal-safe: it formats
// by hand, takes no lock, allocates nothing and writes with one system call.
[[noreturn]] __attribute__((cold, noinline)) void StopOnMisuse(char const* operation,
                                                               void const* address,
                                                               char const* finding);

}  // namespace mem

#endif
