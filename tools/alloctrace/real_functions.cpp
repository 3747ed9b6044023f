#include "real_functions.h"

#include <dlfcn.h>
#include <sched.h>

namespace alloctrace {

RealFunctions g_real;

namespace {

enum ResolveState { kUnresolved, kResolving, kResolved };
int g_resolve_state = kUnresolved;
// Initial-exec: the preloaded library's thread storage must not be set up by malloc.
__thread __attribute__((tls_model("initial-exec"))) bool t_resolving;

template <typename F>
void Lookup(F* slot, char const* name) {
  *slot = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

void ResolveRealFunctions() {
  if (__atomic_load_n(&g_resolve_state, __ATOMIC_ACQUIRE) == kResolved) return;
  int expected = kUnresolved;
  if (!__atomic_compare_exchange_n(&g_resolve_state, &expected, kResolving, false, __ATOMIC_ACQ_REL,
                                   __ATOMIC_ACQUIRE)) {
    while (__atomic_load_n(&g_resolve_state, __ATOMIC_ACQUIRE) != kResolved) sched_yield();
    return;
  }
  t_resolving = true;
  Lookup(&g_real.malloc, "malloc");
  Lookup(&g_real.free, "free");
  Lookup(&g_real.calloc, "calloc");
  Lookup(&g_real.realloc, "realloc");
  Lookup(&g_real.memalign, "memalign");
  Lookup(&g_real.posix_memalign, "posix_memalign");
  Lookup(&g_real.aligned_alloc, "aligned_alloc");
  Lookup(&g_real.valloc, "valloc");
  Lookup(&g_real.pvalloc, "pvalloc");
  t_resolving = false;
  __atomic_store_n(&g_resolve_state, kResolved, __ATOMIC_RELEASE);
}

bool Resolving() { return t_resolving; }

}  // namespace alloctrace
