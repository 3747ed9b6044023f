// Uses the installed headers (all of them, through the umbrella) and library.
#include <cstdio>

#include "varururor/varururor.h"

int main() {
  int started = 0;
  UTI_VaruRuror_initialize(started);
  std::printf("started %d\n", started);

  int* values = static_cast<int*>(mem_Malloc(100 * sizeof(int)));
  int sum = 0;
  for (int i = 0; i < 100; ++i) sum += values[i] = i + 1;
  std::printf("sum %d\n", sum);
  mem_Free(values);

  atr_String text = atr_String(12) + atr_raw(" files");
  std::printf("text [%s] %u\n", text.CStr(), text.Length());
  std::printf("natural %d\n", strnatcmp("file2", "file10"));

  UTI_VaruRuror_finalize(started);
  std::printf("stopped %d\n", started);
  return 0;
}
