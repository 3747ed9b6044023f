// Start-up and shutdown of the memory module.
#include "frame/start_counter.h"
#include "mem/heap_table.h"
#include "mem/tracking_port.h"
#include "varururor/frame/startup.h"

namespace {
frame::StartCounter g_mem_counter;
}  // namespace

void mem_initialize(int& started_modules) {
  if (!g_mem_counter.Start(started_modules)) return;
  mem::ChooseHeapAtStartup();
  mem::tracking::StartThreadTracking();
}

void mem_finalize(int& started_modules) {
  if (!g_mem_counter.Stop(started_modules)) return;
  mem::tracking::FinishTracking();
}

void mem_formalize() {}
