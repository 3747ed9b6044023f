// Posts alerts to an alert listener's thread, from any thread or signal handler.
#ifndef VARURUROR_FRAME_ALERT_TRIGGER_H
#define VARURUROR_FRAME_ALERT_TRIGGER_H

#include "varururor/frame/alert_listener.h"
#include "varururor/frame/export.h"

class VR_API omi_AlertTrigger {
 public:
  // The listener's thread id (omi_AlertListener::GetThreadId).
  explicit omi_AlertTrigger(unsigned int listener_thread_id) : thread_id_(listener_thread_id) {}

  // Posts the alert and returns at once; a listener that is gone misses it silently.
  // Safe in a signal handler.
  void Alert(omi_AlertEnm alert) const;

 private:
  unsigned int thread_id_;
};
static_assert(sizeof(omi_AlertTrigger) == 4, "the listener's thread id");

#endif
