// Start-up and shutdown of the system-services module.
#include "frame/crash_filter.h"
#include "frame/start_counter.h"
#include "varururor/frame/alert_listener.h"
#include "varururor/frame/fpe.h"
#include "varururor/frame/startup.h"

namespace {
frame::StartCounter g_omni_counter;
}  // namespace

void omni_initialize(int& started_modules) {
  if (!g_omni_counter.Start(started_modules)) return;
  omn_enableFPE();
  frame::InstallCrashFilter();
}

void omni_finalize(int& started_modules) {
  if (!g_omni_counter.Stop(started_modules)) return;
  omi_SingletonBase<omi_AlertListener>::Finalize();
}

void omni_formalize() {}
