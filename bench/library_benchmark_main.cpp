// The main of the benchmarks that measure the library started as a client starts it.
#include <benchmark/benchmark.h>

#include "varururor/frame/startup.h"

int main(int argc, char** argv) {
  int started = 0;
  UTI_VaruRuror_initialize(started);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  UTI_VaruRuror_finalize(started);
  return 0;
}
