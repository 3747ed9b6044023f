// Start-up and shutdown of the system-services module.
#include "frame/crash_filter.h"
#include "frame/start_counter.h"
#include "plat/exception_filter.h"
#include "varururor/frame/alert_listener.h"
#include "varururor/frame/fpe.h"
#include "varururor/frame/startup.h"

namespace {
frame::StartCounter g_omni_counter;
}  // namespace

// Every thread that starts the library gets an alternate signal stack, so that its
// stack overflow is reported: also one whose call only counts.
void omni_initialize(int& started_modules) {
  plat::PrepareThreadForFaults();
  if (!g_omni_counter.Start(started_modules)) return;
  omn_enableFPE();
  frame::InstallCrashFilter();
}

void omni_finalize(int& started_modules) {
  if (!g_omni_counter.Stop(started_modules)) return;
  omi_SingletonBase<omi_AlertListener>::Finalize();
}

void omni_formalize() {}
