// The processor's floating-point control: the x87 unit's control word and pending
// exceptions, and the SSE unit's control/status register (MXCSR).
#ifndef VARURUROR_PLAT_FLOAT_CONTROL_H
#define VARURUROR_PLAT_FLOAT_CONTROL_H

namespace plat {

// x87 control word: exception masks (a set bit masks), precision and rounding.
constexpr unsigned kX87MaskInvalid = 0x0001;
constexpr unsigned kX87MaskDenormal = 0x0002;
constexpr unsigned kX87MaskZeroDivide = 0x0004;
constexpr unsigned kX87MaskOverflow = 0x0008;
constexpr unsigned kX87MaskUnderflow = 0x0010;
constexpr unsigned kX87MaskInexact = 0x0020;
constexpr unsigned kX87MaskAll = 0x003F;
constexpr unsigned kX87PrecisionField = 0x0300;
constexpr unsigned kX87Precision53 = 0x0200;
constexpr unsigned kX87RoundingField = 0x0C00;
constexpr unsigned kX87RoundNearest = 0x0000;

// MXCSR: exception flags (sticky status), denormals-are-zero, masks, flush-to-zero.
constexpr unsigned kSseStatusAll = 0x003F;
constexpr unsigned kSseDenormalsAreZero = 0x0040;
constexpr unsigned kSseMaskInvalid = 0x0080;
constexpr unsigned kSseMaskDenormal = 0x0100;
constexpr unsigned kSseMaskZeroDivide = 0x0200;
constexpr unsigned kSseMaskOverflow = 0x0400;
constexpr unsigned kSseMaskUnderflow = 0x0800;
constexpr unsigned kSseMaskInexact = 0x1000;
constexpr unsigned kSseMaskAll = 0x1F80;
constexpr unsigned kSseFlushToZero = 0x8000;

// The state a new process starts with: every exception masked, no flushing, and the x87
// unit at extended precision rounding to nearest.
constexpr unsigned kMxcsrAtStart = kSseMaskAll;
constexpr unsigned kX87ControlAtStart = 0x037F;

unsigned GetX87ControlWord();
void SetX87ControlWord(unsigned control);
// Clears the x87 unit's pending exceptions, so that unmasking one does not fire it.
void ClearX87Exceptions();

unsigned GetMxcsr();
void SetMxcsr(unsigned value);

}  // namespace plat

#endif
