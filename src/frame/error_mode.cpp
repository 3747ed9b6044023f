#include "varururor/frame/error_mode.h"

#include <cstdlib>

#include "plat/error_mode.h"

namespace {

constexpr unsigned kModeUndecided = 0xFFFFFFFFu;
constexpr unsigned kModeSystemHandling = 0;
char const kPopupVariable[] = "JRT_DEBUG_POPUP";

unsigned g_error_mode = kModeUndecided;

}  // namespace

void omi_setErrorMode() {
  if (g_error_mode == kModeUndecided) {
    g_error_mode = std::getenv(kPopupVariable) != nullptr ? kModeSystemHandling
                                                          : plat::kErrorModeNoFaultDialog;
  }
  plat::SetErrorMode(g_error_mode);
}
