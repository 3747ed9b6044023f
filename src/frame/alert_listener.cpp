#include "varururor/frame/alert_listener.h"

#include <csignal>
#include <new>
#include <thread>

#include "frame/alert_message.h"
#include "plat/event.h"
#include "plat/race_annotations.h"
#include "plat/thread.h"
#include "varururor/mem/allocation.h"
#include "varururor/mem/operators.h"

namespace {

// The process-wide listener; every listener constructed takes the slot.
omi_AlertListener* g_alert_listener_slot = nullptr;

// The number each alert's handler receives: the POSIX signal it stands for.
constexpr int kAlertSignals[omi_AlertListener::kAlertCount] = {2, 15, 20, 18, 10, 12};

// Handlers are set by the controlling thread and read by the listener thread.
omi_AlertListener::Handler LoadHandler(omi_AlertListener::Handler const* slot) {
  return __atomic_load_n(slot, __ATOMIC_ACQUIRE);
}

}  // namespace

omi_AlertListener::omi_AlertListener() : handlers_{}, thread_id_(0), handle_(nullptr) {
  plat::DeclareAtomicWord(handlers_, sizeof handlers_);
  g_alert_listener_slot = this;
}

// A listener that ends also leaves the slot if it holds it, so that the slot never
// points at a dead object (one on the stack, say).
omi_AlertListener::~omi_AlertListener() {
  Disarm();
  if (g_alert_listener_slot == this) g_alert_listener_slot = nullptr;
}

void omi_AlertListener::SetHandler(omi_AlertEnm alert, Handler handler) {
  unsigned index = static_cast<unsigned>(alert);
  if (index >= kAlertCount) return;
  __atomic_store_n(&handlers_[index], handler, __ATOMIC_RELEASE);
  if (thread_id_ != 0 && alert == omi_AlertInterrupt) {
    std::signal(SIGINT, handler == nullptr ? SIG_DFL : handler);
  }
}

void omi_AlertListener::Arm() {
  if (thread_id_ != 0) return;
  plat::EventHandle ready = plat::CreateEvent(false, false);
  if (ready == nullptr) return;
  handle_ = ready;
  plat::ThreadHandle thread = plat::CreateThread(&Listen, this, &thread_id_);
  if (thread == nullptr) {
    plat::CloseEvent(ready);
    handle_ = nullptr;
    thread_id_ = 0;
    return;
  }
  // Refused without privilege; the listener then runs at normal priority.
  plat::SetThreadPriority(thread, plat::kThreadPriorityHighest);
  plat::WaitForEvent(ready);
  plat::CloseEvent(ready);
  handle_ = thread;
  plat::PostThreadMessage(thread_id_, frame::kAlertMessage, frame::kAlertCommandReady, 0);
}

void omi_AlertListener::Disarm() {
  if (thread_id_ == 0) return;
  // A full queue takes the stop command once the listener has caught up; a thread
  // that has ended has no queue and needs none.
  while (!plat::PostThreadMessage(thread_id_, frame::kAlertMessage, frame::kAlertCommandStop, 0) &&
         plat::HasMessageQueue(thread_id_)) {
    std::this_thread::yield();
  }
  plat::ThreadHandle thread = static_cast<plat::ThreadHandle>(handle_);
  plat::WaitForThread(thread);
  plat::CloseThread(thread);
  thread_id_ = 0;
  handle_ = nullptr;
}

// An alert without a handler is ignored: it may arrive before its handler is set.
void omi_AlertListener::RunHandler(unsigned command) {
  Handler handler = LoadHandler(&handlers_[command]);
  if (handler != nullptr) handler(kAlertSignals[command]);
}

unsigned omi_AlertListener::Listen(void* argument) {
  omi_AlertListener* self = static_cast<omi_AlertListener*>(argument);
  Handler interrupt = LoadHandler(&self->handlers_[omi_AlertInterrupt]);
  if (interrupt != nullptr) std::signal(SIGINT, interrupt);

  plat::ThreadMessage message;
  plat::PeekMessage(&message, false);  // the queue exists before Arm returns
  plat::SetEvent(static_cast<plat::EventHandle>(self->handle_));

  for (;;) {
    if (plat::GetMessage(&message) <= 0 || message.message != frame::kAlertMessage) break;
    mem_TBThreadLock(true);
    unsigned command = static_cast<unsigned>(message.wparam);
    if (command < static_cast<unsigned>(kAlertCount)) self->RunHandler(command);
    mem_TBThreadLock(false);
    if (command == frame::kAlertCommandStop) break;
  }

  if (LoadHandler(&self->handlers_[omi_AlertInterrupt]) != nullptr) std::signal(SIGINT, SIG_DFL);
  return 0;
}

template <>
omi_AlertListener* omi_SingletonBase<omi_AlertListener>::Instance() {
  return g_alert_listener_slot;
}

template <>
omi_AlertListener& omi_Singleton<omi_AlertListener>::Instance() {
  if (g_alert_listener_slot == nullptr) {
    new (mem_OperatorNewThrow(sizeof(omi_AlertListener))) omi_AlertListener;
  }
  return *g_alert_listener_slot;
}

template <>
void omi_SingletonBase<omi_AlertListener>::Finalize() {
  omi_AlertListener* listener = g_alert_listener_slot;
  if (listener == nullptr) return;
  listener->~omi_AlertListener();
  mem_Free(listener);
  g_alert_listener_slot = nullptr;
}
