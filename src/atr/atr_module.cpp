// Start-up and shutdown of the strings module.
#include <cstdio>
#include <cstdlib>

#include "atr/string_statistics.h"
#include "frame/start_counter.h"
#include "varururor/atr/dictionary.h"
#include "varururor/atr/natural_order.h"
#include "varururor/frame/startup.h"

namespace {
frame::StartCounter g_atr_counter;
}  // namespace

void atr_initialize(int& started_modules) {
  if (!g_atr_counter.Start(started_modules)) return;
  atr::StartStringStatistics();
  // Natural-order sorting is on unless the variable is set, whatever its value.
  atr_setNaturalOrder(std::getenv("KVN_USE_NATURAL_ORDER_SORT") != nullptr ? 0 : 1);
}

void atr_finalize(int& started_modules) {
  if (!g_atr_counter.Stop(started_modules)) return;
  atr_trReleaseDB();
  atr::FinishStringStatistics(stderr);
}
