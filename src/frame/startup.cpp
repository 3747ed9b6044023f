// The umbrella start-up: the library's five modules in their fixed order.
#include "varururor/frame/startup.h"

#include "frame/start_counter.h"
#include "plat/exception_filter.h"

namespace {
frame::StartCounter g_library_counter;
}  // namespace

void UTI_VaruRuror_initialize(int& started_modules) {
  plat::PrepareThreadForFaults();  // also on a call that only counts (see omni_initialize)
  if (!g_library_counter.Start(started_modules)) return;
  mem_initialize(started_modules);
  uts_initialize(started_modules);
  atr_initialize(started_modules);
  aio_initialize(started_modules);
  omni_initialize(started_modules);
}

void UTI_VaruRuror_finalize(int& started_modules) {
  if (!g_library_counter.Stop(started_modules)) return;
  omni_finalize(started_modules);
  aio_finalize(started_modules);
  atr_finalize(started_modules);
  uts_finalize(started_modules);
  mem_finalize(started_modules);
}
