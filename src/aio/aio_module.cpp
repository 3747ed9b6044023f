// Start-up and shutdown of the streams module.
#include <cstdio>

#include "frame/start_counter.h"
#include "varururor/aio/standard_streams.h"
#include "varururor/frame/startup.h"

namespace {
frame::StartCounter g_aio_counter;
}  // namespace

void aio_initialize(int& started_modules) {
  if (!g_aio_counter.Start(started_modules)) return;
  aio_cin.attach(stdin, false);
  aio_cout.attach(stdout, false);
  aio_cerr.attach(stderr, false);
}

// The standard streams stay attached after shutdown.
void aio_finalize(int& started_modules) { g_aio_counter.Stop(started_modules); }
