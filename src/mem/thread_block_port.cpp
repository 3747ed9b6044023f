#include "mem/thread_block_port.h"

#include <cstdlib>

#include "varururor/mem/allocation.h"

namespace mem::thread_block {

unsigned char g_routing = 0;
unsigned char g_pool_seen = 0;
unsigned char g_thread_lock = 0;

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
