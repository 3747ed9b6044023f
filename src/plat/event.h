// Events: unnamed kernel-style wait objects, auto-reset or manual-reset.
#ifndef VARURUROR_PLAT_EVENT_H
#define VARURUROR_PLAT_EVENT_H

namespace plat {

struct EventObject;
using EventHandle = EventObject*;

// Null when the system cannot make one.
EventHandle CreateEvent(bool manual_reset, bool initially_signalled);
void CloseEvent(EventHandle event);
// Signals: an auto-reset event lets exactly one waiter through, now or at its next wait.
void SetEvent(EventHandle event);
void ResetEvent(EventHandle event);
// Waits without a time limit.
void WaitForEvent(EventHandle event);
// Waits at most the given milliseconds; true when the event was signalled.
bool WaitForEvent(EventHandle event, unsigned milliseconds);

}  // namespace plat

#endif
