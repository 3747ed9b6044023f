// What the thread-block pool finds wrong with a pointer it is given back: a pointer that
// is not at a slot of its page, or a slot that is already free by the cheap tests (its page
// has nothing allocated, or it is the page's first free slot). Like the heap, the pool
// then stops the process with one line on standard error rather than hand the same memory
// to two owners.
#ifndef VARURUROR_MEM_TBPOOL_MISUSE_H
#define VARURUROR_MEM_TBPOOL_MISUSE_H

namespace mem::thread_block {

enum class Misuse {
  kNone,
  kInterior,       // not at the start of a slot
  kEmptyPage,      // the page has no slot in use
  kFirstFreeSlot,  // the slot heads its page's free list
};

// Writes "VaruRuror: <entry>(0x...): <what was found>" to standard error and aborts.
// Writes with no lock and no allocation, whatever state the process is in.
[[noreturn]] __attribute__((cold, noinline)) void StopOnMisuse(char const* entry, void const* p,
                                                               Misuse found);

}  // namespace mem::thread_block

#endif
