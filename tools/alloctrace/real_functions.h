// The heap functions the recorder stands in front of: the next definitions after it in
// the process's lookup order (the C library's, or those of a heap loaded after it).
#ifndef VARURUROR_TOOLS_ALLOCTRACE_REAL_FUNCTIONS_H
#define VARURUROR_TOOLS_ALLOCTRACE_REAL_FUNCTIONS_H

#include <stddef.h>

namespace alloctrace {

struct RealFunctions {
  void* (*malloc)(size_t);
  void (*free)(void*);
  void* (*calloc)(size_t, size_t);
  void* (*realloc)(void*, size_t);
  void* (*memalign)(size_t, size_t);
  int (*posix_memalign)(void**, size_t, size_t);
  void* (*aligned_alloc)(size_t, size_t);
  void* (*valloc)(size_t);
  void* (*pvalloc)(size_t);
};

extern RealFunctions g_real;

// Looks them up the first time; a thread that comes while another looks waits for it.
void ResolveRealFunctions();

// True on the thread that is looking them up, while it does: dlsym allocates, and those
// calls must be served without them.
bool Resolving();

}  // namespace alloctrace

#endif
