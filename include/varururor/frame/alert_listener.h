// The alert listener: a thread of the library's own that runs the handlers registered
// for six alerts when another thread posts one. One process-wide listener lives from
// omi_Singleton<omi_AlertListener>::Instance() until omni_finalize.
#ifndef VARURUROR_FRAME_ALERT_LISTENER_H
#define VARURUROR_FRAME_ALERT_LISTENER_H

#include "varururor/frame/export.h"
#include "varururor/frame/singleton.h"

class omi_AlertListener {
 public:
  using Handler = void (*)(int);
  static constexpr int kAlertCount = 6;

  // Unarmed, with no handlers; becomes the process-wide listener.
  omi_AlertListener();
  ~omi_AlertListener();
  omi_AlertListener(omi_AlertListener const&) = delete;
  omi_AlertListener& operator=(omi_AlertListener const&) = delete;

 private:
  Handler handlers_[kAlertCount];
  unsigned int thread_id_;  // 0 while unarmed
  void* handle_;
};
static_assert(sizeof(omi_AlertListener) == 32, "six handlers, a thread id and a handle");

#endif
