// The start counters of the library and its modules. Each case runs in a child process,
// since the counters live as long as the process.
#include <gtest/gtest.h>

#include <cstdio>

#include "child_process.h"
#include "varururor/varururor.h"

namespace {

// Runs a start or stop call, then prints the running total: four steps read "6,6,6,0,".
#define STEP(call) \
  call;            \
  std::fprintf(stderr, "%d,", total)

// Formalize hooks change nothing; a library stopped can be started again. After the umbrella
// stops, a module started directly is still started: another initialize only counts.
// Finalizing more often than initializing drives a counter below zero; the module then
// needs more initializes before it really starts again.
TEST(Startup, TheUmbrellaAndEachModuleCountTheirStartsAndStops) {
  EXPECT_IN_CHILD(
      "^0,0,6,6,6,6,0,6,0,1,6,1,1,1,0,0,0,1,2,3,4,4,4,3,2,1,0,$", int total = 0;
      STEP(mem_formalize()); STEP(omni_formalize()); STEP(UTI_VaruRuror_initialize(total));
      STEP(UTI_VaruRuror_initialize(total)); STEP(mem_formalize());
      STEP(UTI_VaruRuror_finalize(total)); STEP(UTI_VaruRuror_finalize(total));
      STEP(UTI_VaruRuror_initialize(total)); STEP(UTI_VaruRuror_finalize(total));
      STEP(mem_initialize(total)); STEP(UTI_VaruRuror_initialize(total));
      STEP(UTI_VaruRuror_finalize(total)); STEP(mem_initialize(total)); STEP(mem_finalize(total));
      STEP(mem_finalize(total)); STEP(uts_finalize(total)); STEP(uts_initialize(total));
      STEP(uts_initialize(total)); STEP(atr_initialize(total)); STEP(aio_initialize(total));
      STEP(omni_initialize(total)); STEP(omni_initialize(total)); STEP(omni_finalize(total));
      STEP(omni_finalize(total)); STEP(aio_finalize(total)); STEP(atr_finalize(total));
      STEP(uts_finalize(total)));
}

TEST(Startup, StreamsModuleAttachesTheStandardStreamsAndLeavesThemAttached) {
  EXPECT_IN_CHILD("^111$", bool empty_at_load = aio_cin.fptr() == nullptr &&
                                                aio_cout.fptr() == nullptr &&
                                                aio_cerr.fptr() == nullptr;
                  int total = 0; aio_initialize(total);
                  bool attached = aio_cin.fptr() == stdin && aio_cout.fptr() == stdout &&
                                  aio_cerr.fptr() == stderr;
                  aio_finalize(total); bool still = aio_cout.fptr() == stdout;
                  std::fprintf(stderr, "%d%d%d", empty_at_load, attached, still));
}

}  // namespace
