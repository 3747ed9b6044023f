#include "varururor/frame/alert_listener.h"

#include <new>

#include "varururor/mem/allocation.h"
#include "varururor/mem/operators.h"

namespace {
// The process-wide listener; every listener constructed takes the slot.
omi_AlertListener* g_alert_listener_slot = nullptr;
}  // namespace

omi_AlertListener::omi_AlertListener() : handlers_{}, thread_id_(0), handle_(nullptr) {
  g_alert_listener_slot = this;
}

// An unarmed listener holds no thread and no handle.
omi_AlertListener::~omi_AlertListener() = default;

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
