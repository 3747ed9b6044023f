// The library's main job, start to finish: start it, allocate through every entry point,
// show which heap serves the process and what it holds, and stop it.
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "varururor/varururor.h"

namespace {

// A class over 128 bytes and one of at most 128, each with its fitting mix-in.
struct Matrix : mem_AllocationOperators {
  double cells[6][6];
};
struct Node : mem_AllocationOperatorsTiny {
  int id;
  Node* next;
};

void PrintHeap(char const* moment) {
  std::printf("%-28s heap=%s footprint=%u max=%u limit=%u\n", moment,
              mem_UseDL() ? "library" : "platform", mem_Footprint(), mem_MaxFootprint(),
              mem_MemoryLimit());
}

}  // namespace

int main() {
  int started = 0;
  UTI_VaruRuror_initialize(started);
  std::printf("library started: %d modules\n", started);
  PrintHeap("after start-up:");

  // The plain entry points, as Fortran callers use them.
  char* text = static_cast<char*>(mem_Malloc(64));
  std::strcpy(text, "engineering analysis");
  int* counts = static_cast<int*>(mem_Calloc(1000, sizeof(int)));
  text = static_cast<char*>(mem_Realloc(text, 4096));
  void* large = mem_Malloc(4u << 20);  // a block with a mapping of its own
  mem_Release(counts);
  mem_Acquire(counts);
  PrintHeap("with blocks out:");

  // The operator-new family and the mix-ins.
  void* raw = mem_OperatorNewThrow(256);
  void* tiny = mem_OperatorNewTinyThrow(32);
  void* quiet = mem_OperatorNewNoThrow(512, std::nothrow);
  void* quiet_tiny = mem_OperatorNewTinyNoThrow(16, std::nothrow);
  void* builtin = mem_OperatorNewThrowBuiltin(0);
  void* builtin_quiet = mem_OperatorNewNoThrowBuiltin(100);
  double* vector = new (mem_BuiltInAllocTag) double[100];
  Matrix* matrix = new Matrix;
  Node* node = new Node;
  node->id = 1;
  node->next = nullptr;

  try {
    mem_OperatorNewThrow(0xFFFFFF00u);
  } catch (std::bad_alloc const& failure) {
    std::printf("an impossible request throws: %s\n", failure.what());
  }

  mem_DLMallinfoResult info = mem_DLMallinfo();
  std::printf("heap statistics: arena=%u in use=%u free=%u top=%u largest free chunk=%u\n",
              info.arena, info.uordblks, info.fordblks, info.keepcost, mem_FragmentationInfo());
  mem_Mallinfo summary;
  std::printf("heap summary: committed=%u in use=%u free=%u reserved=%u\n", summary.committed,
              summary.in_use, summary.free, summary.reserved);

  delete node;
  delete matrix;
  for (void* p : {raw, tiny, quiet, quiet_tiny, builtin, builtin_quiet, static_cast<void*>(vector),
                  large, static_cast<void*>(counts), static_cast<void*>(text)}) {
    mem_Free(p);
  }
  std::printf("trim released memory: %d\n", mem_Trim(0));
  PrintHeap("after freeing:");

  UTI_VaruRuror_finalize(started);
  std::printf("library stopped: %d modules\n", started);
  return 0;
}
