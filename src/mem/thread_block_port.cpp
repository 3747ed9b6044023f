#include "mem/thread_block_port.h"

#include <cstdlib>

#include "mem/heap_table.h"
#include "varururor/mem/allocation.h"

namespace mem::thread_block {

unsigned char g_routing = 0;
unsigned char g_pool_seen = 0;
unsigned char g_thread_lock = 0;

// The small-block pool is not part of this build yet: the heap serves routed requests,
// so no block carries the page mark and free and resize never come here for pool pages.
void* Allocate(unsigned size) { return g_heap_table.malloc(size); }
void Free(void* p) { g_heap_table.free(p); }
void* Resize(void* p, unsigned size) { return g_heap_table.realloc(p, size); }

}  // namespace mem::thread_block

void mem_TBAllocator(int mode) {
  using namespace mem::thread_block;
  char const* setting = std::getenv("KVN_TBMALLOC");
  if (setting != nullptr && setting[0] == '0') {
    g_routing = 0;
    return;
  }
  if (mode != 0) {
    g_pool_seen = 1;
    if (mode == 2) g_routing = 1;
  } else {
    g_routing = 0;
  }
}

void mem_TBThreadLock(bool on) { mem::thread_block::g_thread_lock = on ? 1 : 0; }
