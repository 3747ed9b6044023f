// The process's error mode: whether a fault is handed to the system (debugger, core
// dump) or ends the process silently.
#ifndef VARURUROR_FRAME_ERROR_MODE_H
#define VARURUROR_FRAME_ERROR_MODE_H

#include "varururor/frame/export.h"

extern "C" {

// Decides the mode on the first call (system fault handling when JRT_DEBUG_POPUP exists,
// none otherwise) and applies that decision on every call.
VR_API void omi_setErrorMode();

}  // extern "C"

#endif
