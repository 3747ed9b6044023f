// Per-thread tracking state: each thread's tracker number, in a thread-local slot. The
// library gets no thread notifications, so a record lives until the thread that owns it
// calls mem_finalize (or forever); a count of holders says when the slot can go.
#ifndef VARURUROR_MEM_TRACKER_THREAD_STATE_H
#define VARURUROR_MEM_TRACKER_THREAD_STATE_H

#include "plat/thread_local_storage.h"

namespace mem::tracker {

constexpr int kNoThreadNumber = -1;

// Made by the first tracked use, which must not race with another thread's (as the
// tracker itself); afterwards only read.
extern bool g_slot_made;
extern unsigned g_slot;

// The calling thread's record made, with the slot on first use; null when the system
// has no slot or no memory for it.
int* MakeCallingThreadRecord();

// The calling thread's record: its number, kNoThreadNumber until given one.
inline int* CallingThreadRecord() {
  if (g_slot_made) {
    if (void* record = plat::TlsGetValue(g_slot)) return static_cast<int*>(record);
  }
  return MakeCallingThreadRecord();
}

// Frees the calling thread's record and, once no thread holds one, the slot itself.
void ReleaseCallingThreadRecord();

}  // namespace mem::tracker

#endif
