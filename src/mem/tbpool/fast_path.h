// The thread-block pool's common cases, inline in the entry points: a slot from the head
// page of its class, and a slot given back to a page that stays listed and in use. Every
// other case (no pool yet, the lock switch on, a full head page, a page that fills or
// empties) goes to the pool's own operations, which decide it all again.
#ifndef VARURUROR_MEM_TBPOOL_FAST_PATH_H
#define VARURUROR_MEM_TBPOOL_FAST_PATH_H

#include <array>
#include <cstdint>

#include "mem/blocks/block.h"
#include "mem/blocks/region.h"
#include "mem/blocks/size_classes.h"
#include "mem/tbpool/tb_pool.h"
#include "mem/thread_block_port.h"

namespace mem::thread_block {

using mem::blocks::FixedRegion;
using mem::blocks::kWordBytes;

// The region of each class list's head page, null while the list is empty. The pool keeps
// it beside the head's page id, so that an allocation needs no lookup in the id table;
// there is one pool per process, so the cache is process-wide.
extern FixedRegion* g_head_region[mem::blocks::kClassCount];

// A page's region record lies behind the page mark and the fixed-block record (byte 48).
constexpr std::uintptr_t kRegionOffsetBytes =
    mem_TBPool::kBlockOffsetBytes + mem_FixedBlock::kRegionOffset * kWordBytes;

// The class of a routed request by its size in words, rounded up: every class boundary
// is a whole number of words, and a table read costs no branch.
constexpr unsigned kRoutedWords = (kRoutedSizeLimit - 1) / kWordBytes;
constexpr std::array<unsigned char, kRoutedWords + 1> kClassOfWords = [] {
  std::array<unsigned char, kRoutedWords + 1> classes{};
  for (unsigned words = 0; words <= kRoutedWords; ++words) {
    classes[words] = static_cast<unsigned char>(mem::blocks::ClassOf(words * kWordBytes));
  }
  return classes;
}();

constexpr int RoutedClassOf(unsigned size) {
  return kClassOfWords[(size + kWordBytes - 1) / kWordBytes];
}

constexpr bool RoutedClassesAgree() {
  for (unsigned size = 0; size < kRoutedSizeLimit; ++size) {
    if (RoutedClassOf(size) != mem::blocks::ClassOf(size)) return false;
  }
  return true;
}
static_assert(RoutedClassesAgree(), "the table gives every routed size its class");

// The block's memory, in which slot indexes count, begins at the block record, a fixed
// number of words before the region record.
inline std::uint32_t* MemoryOfRegion(FixedRegion* region) {
  return reinterpret_cast<std::uint32_t*>(region) - mem_FixedBlock::kRegionOffset;
}

// A slot for size (under kRoutedSizeLimit) bytes from its class's head page, or null
// when the pool must decide.
inline void* TryAllocate(unsigned size) {
  if (g_thread_lock) return nullptr;
  FixedRegion* region = g_head_region[RoutedClassOf(size)];
  if (region == nullptr) return nullptr;
  int index = region->Allocate();
  if (index == FixedRegion::kNoSlot) return nullptr;
  return MemoryOfRegion(region) + index;
}

// Gives back p, a live slot of the pool, unless the pool must decide: false then, with
// nothing changed. A page with no free slot may be out of its class list, and the last
// slot of a page empties it; both cases need the class list.
inline bool TryFree(void* p) {
  if (g_thread_lock) return false;
  std::uintptr_t page = reinterpret_cast<std::uintptr_t>(p) & ~(mem_TBPool::kPageBytes - 1);
  auto* region = reinterpret_cast<FixedRegion*>(page + kRegionOffsetBytes);
  int slot_words = region->SlotWords();
  if (region->FirstFree() > region->Length() - slot_words || region->AllocCount() == slot_words) {
    return false;
  }
  region->Free(static_cast<int>(static_cast<std::uint32_t*>(p) - MemoryOfRegion(region)));
  return true;
}

}  // namespace mem::thread_block

#endif
