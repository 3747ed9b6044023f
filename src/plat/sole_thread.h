// Whether the calling thread is the only thread of the process, as the C library knows it.
// Inline, since the heap asks on every operation.
#ifndef VARURUROR_PLAT_SOLE_THREAD_H
#define VARURUROR_PLAT_SOLE_THREAD_H

// glibc's byte (since 2.32): nonzero while the process has a single thread. It is cleared
// before the second thread is created, and may be set again only after every other thread
// has ended, so a thread alone in the process is the only one that can see it change.
extern "C" char __libc_single_threaded;

namespace plat {

inline bool IsSoleThread() {
  return __atomic_load_n(&__libc_single_threaded, __ATOMIC_RELAXED) != 0;
}

}  // namespace plat

#endif
