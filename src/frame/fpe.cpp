#include "varururor/frame/fpe.h"

#include "plat/float_control.h"

namespace {

bool g_fpe_frozen = false;

constexpr unsigned kX87Trapping =
    plat::kX87MaskInvalid | plat::kX87MaskZeroDivide | plat::kX87MaskOverflow;
constexpr unsigned kSseTrapping =
    plat::kSseMaskInvalid | plat::kSseMaskZeroDivide | plat::kSseMaskOverflow;

}  // namespace

// The SSE unit does this build's arithmetic, so its masks follow the x87 ones: a trap
// enabled here really fires for the client's code. Pending SSE flags are cleared rather
// than set, so the register carries no stale status.
void omn_enableFPE() {
  if (g_fpe_frozen) return;
  plat::ClearX87Exceptions();
  unsigned x87 = plat::GetX87ControlWord();
  plat::SetX87ControlWord((x87 | plat::kX87MaskAll) & ~kX87Trapping);
  unsigned sse = plat::GetMxcsr() & ~plat::kSseStatusAll;
  sse = (sse | plat::kSseMaskAll) & ~kSseTrapping;
  // Flushing denormals covers inputs (denormals-are-zero) and results (flush-to-zero).
  plat::SetMxcsr(sse | plat::kSseDenormalsAreZero | plat::kSseFlushToZero);
}

void omn_disableFPE() {
  if (g_fpe_frozen) return;
  unsigned x87 = plat::GetX87ControlWord() &
                 ~(plat::kX87MaskAll | plat::kX87PrecisionField | plat::kX87RoundingField);
  plat::SetX87ControlWord(x87 | plat::kX87MaskAll | plat::kX87Precision53 | plat::kX87RoundNearest);
  plat::SetMxcsr((plat::GetMxcsr() | plat::kSseMaskAll) & ~plat::kSseFlushToZero);
}

void omn_freezeFPESetting(bool frozen) { g_fpe_frozen = frozen; }
