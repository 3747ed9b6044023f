// What the platform's own malloc heap holds: the totals a walk of its entries and of the
// address-space regions under them gives.
#ifndef VARURUROR_PLAT_PLATFORM_HEAP_H
#define VARURUROR_PLAT_PLATFORM_HEAP_H

#include <cstddef>

namespace plat {

struct PlatformHeapTotals {
  std::size_t committed;  // address space of the heap's regions that holds memory
  std::size_t in_use;     // bytes of entries in use
  std::size_t free;       // bytes of free entries
  std::size_t reserved;   // address space of the heap's regions held but not committed
};

// False when the heap cannot be read; totals then hold what was gathered.
bool WalkPlatformHeap(PlatformHeapTotals* totals);

}  // namespace plat

#endif
