// The thread message by which alerts reach the listener thread.
#ifndef VARURUROR_FRAME_ALERT_MESSAGE_H
#define VARURUROR_FRAME_ALERT_MESSAGE_H

#include "plat/message_queue.h"

namespace frame {

constexpr unsigned kAlertMessage = plat::kMessageApplication;
// The message's first parameter: 0 to 5 run that alert's handler, then these.
constexpr unsigned kAlertCommandStop = 6;
constexpr unsigned kAlertCommandReady = 7;  // posted once armed; the listener ignores it

}  // namespace frame

#endif
