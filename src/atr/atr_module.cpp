// Start-up and shutdown of the strings module.
#include <cstdio>

#include "atr/string_statistics.h"
#include "frame/start_counter.h"
#include "varururor/frame/startup.h"

namespace {
frame::StartCounter g_atr_counter;
}  // namespace

void atr_initialize(int& started_modules) {
  if (!g_atr_counter.Start(started_modules)) return;
  atr::StartStringStatistics();
}

void atr_finalize(int& started_modules) {
  if (!g_atr_counter.Stop(started_modules)) return;
  atr::FinishStringStatistics(stderr);
}
