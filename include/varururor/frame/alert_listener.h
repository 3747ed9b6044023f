// The alert listener: a thread of the library's own that runs the handlers registered
// for six alerts when another thread posts one (omi_AlertTrigger). One process-wide
// listener lives from omi_Singleton<omi_AlertListener>::Instance() until omni_finalize.
#ifndef VARURUROR_FRAME_ALERT_LISTENER_H
#define VARURUROR_FRAME_ALERT_LISTENER_H

#include "varururor/frame/export.h"
#include "varururor/frame/singleton.h"

// The alerts; each handler receives the matching POSIX signal number.
enum omi_AlertEnm {
  omi_AlertInterrupt = 0,  // 2, SIGINT; also installed as the SIGINT handler
  omi_AlertTerminate = 1,  // 15, SIGTERM
  omi_AlertStop = 2,       // 20, SIGTSTP
  omi_AlertContinue = 3,   // 18, SIGCONT
  omi_AlertUser1 = 4,      // 10, SIGUSR1
  omi_AlertUser2 = 5,      // 12, SIGUSR2
};

class VR_API omi_AlertListener {
 public:
  using Handler = void (*)(int);
  static constexpr int kAlertCount = 6;

  // Unarmed, with no handlers; becomes the process-wide listener.
  omi_AlertListener();
  // Disarms; frees the process-wide slot if it holds this listener.
  ~omi_AlertListener();
  omi_AlertListener(omi_AlertListener const&) = delete;
  omi_AlertListener& operator=(omi_AlertListener const&) = delete;

  // Registers the handler of an alert; a null handler makes the listener ignore it.
  // For the interrupt alert of an armed listener, also the SIGINT handler at once.
  void SetHandler(omi_AlertEnm alert, Handler handler);
  // Starts the listener thread and returns once it takes alerts; nothing when armed.
  void Arm();
  // Stops the listener thread and waits for its end; nothing when not armed.
  void Disarm();

  // The id to give an omi_AlertTrigger; 0 while unarmed.
  unsigned int GetThreadId() const { return thread_id_; }

  // Arm, Disarm and SetHandler belong to one controlling thread.
 private:
  VR_HIDDEN static unsigned Listen(void* listener);
  VR_HIDDEN void RunHandler(unsigned command);

  Handler handlers_[kAlertCount];
  unsigned int thread_id_;  // 0 while unarmed
  void* handle_;            // start-up event while arming, then the thread
};
static_assert(sizeof(omi_AlertListener) == 32, "six handlers, a thread id and a handle");

#endif
