#include "varururor/frame/alert_trigger.h"

#include "frame/alert_message.h"

void omi_AlertTrigger::Alert(omi_AlertEnm alert) const {
  plat::PostThreadMessage(thread_id_, frame::kAlertMessage, static_cast<unsigned>(alert), 0);
}
