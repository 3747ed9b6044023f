// Events on futexes: the word is 1 while signalled. Waiters sleep on the word; an
// auto-reset event is taken by the one waiter whose exchange finds it 1.
#include "plat/event.h"

#include <errno.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "plat/clock.h"
#include "plat/fault_injection.h"
#include "plat/race_annotations.h"

namespace plat {

// The handle's owner holds one reference and a signaller holds another while it signals,
// so that a waiter may close the event the moment it wakes.
struct EventObject {
  std::atomic<int> signalled;
  std::atomic<int> references;
  bool manual_reset;
};

namespace {

static_assert(sizeof(std::atomic<int>) == sizeof(int), "futex word must be a plain int");

long FutexWait(std::atomic<int>* word, int expected, timespec const* timeout) {
  return syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAIT_PRIVATE, expected, timeout,
                 nullptr, 0);
}

void FutexWake(std::atomic<int>* word, int count) {
  syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAKE_PRIVATE, count, nullptr, nullptr, 0);
}

bool TryTake(EventObject* event) {
  bool taken;
  if (event->manual_reset) {
    taken = event->signalled.load() == 1;
  } else {
    int expected = 1;
    taken = event->signalled.compare_exchange_strong(expected, 0);
  }
  if (taken) HappensAfter(event);
  return taken;
}

void Release(EventObject* event) {
  HappensBefore(&event->references);
  if (event->references.fetch_sub(1) != 1) return;
  HappensAfter(&event->references);
  event->~EventObject();
  std::free(event);
}

}  // namespace

EventHandle CreateEvent(bool manual_reset, bool initially_signalled) {
  if (ShouldFail(Operation::kCreateEvent)) return nullptr;
  // Events live outside the library's heaps: a heap's lock creates one while it is held.
  void* memory = std::malloc(sizeof(EventObject));
  if (memory == nullptr) return nullptr;
  EventObject* event = new (memory) EventObject;
  event->signalled.store(initially_signalled ? 1 : 0);
  event->references.store(1);
  event->manual_reset = manual_reset;
  DeclareAtomicWord(&event->signalled, sizeof event->signalled);
  DeclareAtomicWord(&event->references, sizeof event->references);
  return event;
}

void CloseEvent(EventHandle event) {
  if (event != nullptr) Release(event);
}

void SetEvent(EventHandle event) {
  // The reference keeps the event alive until the wake is done, even if a waiter closes
  // it as soon as it sees the store.
  event->references.fetch_add(1);
  HappensBefore(event);
  event->signalled.store(1);
  FutexWake(&event->signalled, event->manual_reset ? INT32_MAX : 1);
  Release(event);
}

void ResetEvent(EventHandle event) { event->signalled.store(0); }

void WaitForEvent(EventHandle event) {
  while (!TryTake(event)) FutexWait(&event->signalled, 0, nullptr);
}

bool WaitForEvent(EventHandle event, unsigned milliseconds) {
  std::int64_t frequency = QueryPerformanceFrequency();
  std::int64_t deadline = QueryPerformanceCounter() + frequency / 1000 * milliseconds;
  while (!TryTake(event)) {
    std::int64_t left = deadline - QueryPerformanceCounter();
    if (left <= 0) return false;
    std::int64_t nanoseconds = left * 1000000000 / frequency;
    timespec timeout{static_cast<time_t>(nanoseconds / 1000000000),
                     static_cast<long>(nanoseconds % 1000000000)};
    FutexWait(&event->signalled, 0, &timeout);
  }
  return true;
}

}  // namespace plat
