// Floating-point exception control: which arithmetic faults trap.
#ifndef VARURUROR_FRAME_FPE_H
#define VARURUROR_FRAME_FPE_H

#include "varururor/frame/export.h"

extern "C" {

// Invalid operation, division by zero and overflow trap (SIGFPE); inexact result,
// underflow and denormal operands stay quiet; denormals flush to zero. Applies to the
// x87 unit and to the SSE unit, which does this build's arithmetic. Affects the calling
// thread; threads started later inherit it. Nothing happens while the setting is frozen.
VR_API void omn_enableFPE();
// No floating-point exception traps; 53-bit x87 precision, rounding to nearest; SSE
// results no longer flush to zero. Nothing happens while the setting is frozen.
VR_API void omn_disableFPE();
// While frozen, omn_enableFPE and omn_disableFPE leave the control registers alone.
VR_API void omn_freezeFPESetting(bool frozen);

}  // extern "C"

#endif
