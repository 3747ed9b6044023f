// A minimal client: start the library, use it, stop it.
#include <cstdio>

#include "varururor/varururor.h"

int main() {
  int started = 0;
  UTI_VaruRuror_initialize(started);

  double* values = static_cast<double*>(mem_Malloc(100 * sizeof(double)));
  for (int i = 0; i < 100; ++i) values[i] = i * 0.5;
  std::printf("last value %.1f, heap footprint %u bytes\n", values[99], mem_Footprint());
  mem_Free(values);

  UTI_VaruRuror_finalize(started);
  return started == 0 ? 0 : 1;
}
