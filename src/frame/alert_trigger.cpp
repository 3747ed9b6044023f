#include "varururor/frame/alert_trigger.h"

#include <atomic>

#include "frame/alert_message.h"
#include "plat/message_queue.h"
#include "plat/process.h"

namespace {

char const kDroppedMessage[] = "Alert dropped: the alert listener's queue is full\n";
std::atomic<bool> g_drop_reported{false};

}  // namespace

// A full queue drops the alert; the first drop of the process is said on standard error
// (Alert may run in a signal handler, so the line goes out with one plain write).
void omi_AlertTrigger::Alert(omi_AlertEnm alert) const {
  if (plat::PostThreadMessage(thread_id_, frame::kAlertMessage, static_cast<unsigned>(alert), 0)) {
    return;
  }
  if (!plat::HasMessageQueue(thread_id_)) return;
  if (!g_drop_reported.exchange(true)) plat::WriteStandardError(kDroppedMessage);
}
