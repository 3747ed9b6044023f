#include "mem/thread_block_port.h"

#include <cstdlib>

#include "mem/tbpool/tb_pool.h"
#include "varururor/mem/allocation.h"

namespace mem::thread_block {

unsigned char g_routing = 0;
unsigned char g_pool_seen = 0;
unsigned char g_thread_lock = 0;

namespace {

// The one pool of the process, made on first need and never destroyed. Its creation is
// not locked: the first use must not race.
mem_TBPool* g_pool = nullptr;

mem_TBPool* Pool() {
  if (g_pool == nullptr) g_pool = mem_TBPool::Create();
  return g_pool;
}

}  // namespace

void* Allocate(unsigned size) {
  mem_TBPool* pool = Pool();
  return pool != nullptr ? pool->Allocate(size, true) : nullptr;
}

// A block that carries the page mark was made by the pool, so the pool exists.
void Free(void* p) { g_pool->FreeSlot(p); }

void* Resize(void* p, unsigned size) { return g_pool->Resize(p, size); }

mem_TBPool* ExistingPool() { return g_pool; }

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

void mem_TBThreadLock(bool on) {
  mem::thread_block::Pool();
  mem::thread_block::g_thread_lock = on ? 1 : 0;
}
