// Start-up and shutdown of the unit-test module: it only counts.
#include "frame/start_counter.h"
#include "varururor/frame/startup.h"

namespace {
frame::StartCounter g_uts_counter;
}  // namespace

void uts_initialize(int& started_modules) { g_uts_counter.Start(started_modules); }

void uts_finalize(int& started_modules) { g_uts_counter.Stop(started_modules); }
