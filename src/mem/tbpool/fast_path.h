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
#include "mem/tbpool/misuse.h"
#include "mem/tbpool/page_runs.h"
#include "mem/tbpool/tb_pool.h"
#include "mem/thread_block_port.h"

namespace mem::thread_block {

using mem::blocks::FixedRegion;
using mem::blocks::kClassCount;
using mem::blocks::kWordBytes;

// The region of each class list's head page, null while the list is empty. The pool keeps
// it beside the head's page id, so that an allocation needs no lookup in the id table;
// there is one pool per process, so the cache is process-wide.
extern FixedRegion* g_head_region[kClassCount];

// The head page's free offset and allocated words, kept here rather than in its region
// while it is the head: every page's records lie at the same offsets of a 4096-byte page,
// so they all share a few cache sets, and allocation then reads none of them. The region
// gets them back before the pool's own operations touch the class (WriteBack) and they are
// read again after (Reload). With an empty list, first_free lies beyond every slot.
struct HeadState {
  FixedRegion* region;
  int first_free;
  int alloc_count;
};
extern HeadState g_head_state[kClassCount];

// A page's region record lies behind the page mark and the fixed-block record (byte 48).
constexpr std::uintptr_t kRegionOffsetBytes =
    mem_TBPool::kBlockOffsetBytes + mem_FixedBlock::kRegionOffset * kWordBytes;
// The length of a pool page's region, counted from its record.
constexpr int kRegionLength = mem_TBPool::kMemoryWords - mem_FixedBlock::kRegionOffset;
constexpr int kNoHeadOffset = kRegionLength + 1;

// What the common cases need of a class: its slot words, the last offset at which a slot
// can start, its slots' bytes and their span, and the multiplier that divides a byte
// offset in the slot area by the slot bytes (exact below the span).
struct ClassShape {
  int slot_words;
  int last_offset;
  unsigned slot_bytes;
  unsigned span;
  unsigned reciprocal;
};
constexpr int kReciprocalShift = 22;
constexpr std::array<ClassShape, kClassCount> kClassShapes = [] {
  std::array<ClassShape, kClassCount> shapes{};
  for (int size_class = 0; size_class < kClassCount; ++size_class) {
    auto words = static_cast<int>(mem::blocks::kSlotWords[size_class]);
    unsigned bytes = static_cast<unsigned>(words) * kWordBytes;
    unsigned slots = static_cast<unsigned>((kRegionLength - FixedRegion::kHeaderWords) / words);
    shapes[size_class] = {words, kRegionLength - words, bytes, slots * bytes,
                          ((1u << kReciprocalShift) + bytes - 1) / bytes};
  }
  return shapes;
}();

constexpr unsigned SlotNumber(unsigned offset_in_slots, ClassShape const& shape) {
  return (offset_in_slots * shape.reciprocal) >> kReciprocalShift;
}

constexpr bool ReciprocalsDivideExactly() {
  for (ClassShape const& shape : kClassShapes) {
    for (unsigned offset = 0; offset < shape.span; ++offset) {
      if (SlotNumber(offset, shape) != offset / shape.slot_bytes) return false;
    }
  }
  return true;
}
static_assert(ReciprocalsDivideExactly(), "every offset in a page finds its slot");

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

inline FixedRegion* RegionOfPage(std::uintptr_t page) {
  return reinterpret_cast<FixedRegion*>(page + kRegionOffsetBytes);
}

// The slot's word offset from its region record, for p in a live page of the pool.
inline int SlotOffset(void const* p) {
  auto address = reinterpret_cast<std::uintptr_t>(p);
  return static_cast<int>(((address & (kPoolPageBytes - 1)) - kRegionOffsetBytes) / kWordBytes);
}

// Whether p, in a live page of the class, may be given back to a region whose free list
// starts at first_free and that has alloc_count words allocated.
inline Misuse FindMisuse(void const* p, ClassShape const& shape, int first_free, int alloc_count) {
  unsigned in_slots = (reinterpret_cast<std::uintptr_t>(p) & (kPoolPageBytes - 1)) -
                      (kRegionOffsetBytes + FixedRegion::kHeaderWords * kWordBytes);
  // Below the first slot, in_slots wraps past the span.
  if (in_slots >= shape.span || SlotNumber(in_slots, shape) * shape.slot_bytes != in_slots) {
    return Misuse::kInterior;
  }
  if (alloc_count == 0) return Misuse::kEmptyPage;
  if (first_free == SlotOffset(p)) return Misuse::kFirstFreeSlot;
  return Misuse::kNone;
}

// A slot for size (under kRoutedSizeLimit) bytes from its class's head page, or null
// when the pool must decide. The same slot the region would give: its free list first,
// then the slots never handed out, in order.
inline void* TryAllocate(unsigned size) {
  if (g_thread_lock) return nullptr;
  int size_class = RoutedClassOf(size);
  HeadState& head = g_head_state[size_class];
  ClassShape const& shape = kClassShapes[size_class];
  int offset = head.first_free;
  if (offset > shape.last_offset) return nullptr;
  std::int32_t* slot = head.region->SlotAt(offset);
  if (*slot == FixedRegion::kNeverUsed) {
    int next = offset + shape.slot_words;
    head.first_free = next;
    if (next < kRegionLength) slot[shape.slot_words] = FixedRegion::kNeverUsed;
  } else {
    head.first_free = *slot;
  }
  head.alloc_count += shape.slot_words;
  return slot;
}

// Gives back p, a slot of a live page of the pool, unless the pool must decide: false
// then, with nothing changed. A page with no free slot may be out of its class list, and
// the last slot of a page empties it; both cases need the class list.
inline bool TryFree(void* p) {
  if (g_thread_lock) return false;
  std::uintptr_t page = reinterpret_cast<std::uintptr_t>(p) & ~(kPoolPageBytes - 1);
  FixedRegion* region = RegionOfPage(page);
  int size_class = region->SizeClass();
  ClassShape const& shape = kClassShapes[size_class];
  HeadState& head = g_head_state[size_class];
  auto* slot = static_cast<std::int32_t*>(p);
  if (head.region == region) {
    Misuse misuse = FindMisuse(p, shape, head.first_free, head.alloc_count);
    if (misuse != Misuse::kNone) StopOnMisuse("mem_Free", p, misuse);
    if (head.alloc_count == shape.slot_words) return false;
    *slot = head.first_free;
    head.first_free = SlotOffset(p);
    head.alloc_count -= shape.slot_words;
    return true;
  }
  int first_free = region->FirstFree();
  int alloc_count = region->AllocCount();
  Misuse misuse = FindMisuse(p, shape, first_free, alloc_count);
  if (misuse != Misuse::kNone) StopOnMisuse("mem_Free", p, misuse);
  if (first_free > shape.last_offset || alloc_count == shape.slot_words) return false;
  region->FreeAt(SlotOffset(p));
  return true;
}

}  // namespace mem::thread_block

#endif
