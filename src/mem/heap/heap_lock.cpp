#include "mem/heap/heap_lock.h"

#include "plat/interlocked.h"
#include "plat/race_annotations.h"

namespace mem::heap {

void HeapLock::Acquire() {
  if (plat::InterlockedIncrement(&count) > 1) plat::WaitForEvent(EnsureEvent());
  // Thread checkers see the hand-over only through these; the count is an atomic word.
  plat::HappensAfter(this);
}

void HeapLock::Release() {
  plat::HappensBefore(this);
  // A waiter may not have reached its wait yet; the auto-reset event keeps the signal.
  if (plat::InterlockedDecrement(&count) > 0) plat::SetEvent(EnsureEvent());
}

plat::EventHandle HeapLock::EnsureEvent() {
  // Exchanging null for null reads the handle with the ordering of an interlocked operation.
  plat::EventHandle current =
      plat::InterlockedCompareExchangePointer<plat::EventObject>(&event, nullptr, nullptr);
  if (current != nullptr) {
    plat::HappensAfter(&event);  // the event was made whole before it was installed
    return current;
  }
  plat::EventHandle created = plat::CreateEvent(false, false);
  // Without an event a waiter has nothing to sleep on and a releaser nothing to signal,
  // so creation is retried until the system grants one: acquire never fails.
  while (created == nullptr) created = plat::CreateEvent(false, false);
  plat::HappensBefore(&event);
  current = plat::InterlockedCompareExchangePointer<plat::EventObject>(&event, created, nullptr);
  if (current == nullptr) return created;
  plat::HappensAfter(&event);
  plat::CloseEvent(created);
  return current;
}

}  // namespace mem::heap
