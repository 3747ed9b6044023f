// HeapLock: the lock of the general-purpose heap, also used by the thread-block pool.
//
// A count of the threads that hold or wait for the lock, and an auto-reset event on which
// the waiters sleep. An acquire and a release without contention cost one interlocked
// operation each; the event is made only when two threads first meet at the lock. The
// lock is not recursive. A zero-filled HeapLock is a free lock, so static instances need
// no constructor and work before any start-up code has run.
#ifndef VARURUROR_MEM_HEAP_HEAP_LOCK_H
#define VARURUROR_MEM_HEAP_HEAP_LOCK_H

#include <cstddef>

#include "plat/event.h"

namespace mem::heap {

struct HeapLock {
  long volatile count;
  plat::EventObject* volatile event;

  void Acquire();
  void Release();

 private:
  plat::EventHandle EnsureEvent();
};
static_assert(offsetof(HeapLock, count) == 0 && offsetof(HeapLock, event) == 4 &&
                  sizeof(HeapLock) == 8,
              "a count and an event handle");

}  // namespace mem::heap

#endif
