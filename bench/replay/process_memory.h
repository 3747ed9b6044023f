// The memory the running process holds, as the system counts it: resident pages now and
// at most so far. The same measure for every allocator, whatever it reports itself.
#ifndef VARURUROR_BENCH_REPLAY_PROCESS_MEMORY_H
#define VARURUROR_BENCH_REPLAY_PROCESS_MEMORY_H

#include <cstddef>

namespace bench {

struct ResidentMemory {
  std::size_t now_kib;   // VmRSS
  std::size_t peak_kib;  // VmHWM: the high-water mark of VmRSS
};

// From /proc/self/status; zeros when it cannot be read.
ResidentMemory ReadResidentMemory();

}  // namespace bench

#endif
