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
extern FixedRegion* g_head_region[kClassCount] __attribute__((visibility("hidden")));

// A page's region record lies behind the page mark and the fixed-block record (byte 48).
constexpr std::uintptr_t kRegionOffsetBytes =
    mem_TBPool::kBlockOffsetBytes + mem_FixedBlock::kRegionOffset * kWordBytes;
// The length of a pool page's region, counted from its record.
constexpr int kRegionLength = mem_TBPool::kMemoryWords - mem_FixedBlock::kRegionOffset;
// The first slot's byte offset in its page (80).
constexpr unsigned kFirstSlotByte = kRegionOffsetBytes + FixedRegion::kHeaderWords * kWordBytes;

// What the common cases read of a class, one 32-byte record per class.
//
// The slot test: the slot bytes are 2^k times an odd factor whose inverse modulo 2^32 is
// inverse. Multiplying by it maps the 32-bit words one to one and takes v * slot bytes to
// v * 2^k, so a byte offset x in the slot area is a slot start exactly when x * inverse is
// below slot_limit (slots * 2^k) with its low k bits (low_bits) clear: one multiplication
// tests the alignment and the range at once.
struct alignas(32) ClassShape {
  int slot_words;
  int last_offset;  // the last offset at which a slot can start
  std::uint32_t inverse;
  std::uint32_t slot_limit;
  std::uint32_t low_bits;
};

constexpr std::uint32_t InverseOfOdd(std::uint32_t odd) {
  std::uint32_t inverse = odd;  // right to 3 bits; each step doubles them
  for (int step = 0; step < 4; ++step) inverse *= 2u - odd * inverse;
  return inverse;
}

constexpr ClassShape ShapeOf(int size_class) {
  auto words = static_cast<int>(mem::blocks::kSlotWords[size_class]);
  std::uint32_t bytes = static_cast<std::uint32_t>(words) * kWordBytes;
  std::uint32_t power = bytes & (0u - bytes);
  auto slots = static_cast<std::uint32_t>((kRegionLength - FixedRegion::kHeaderWords) / words);
  return ClassShape{words, kRegionLength - words, InverseOfOdd(bytes / power), slots * power,
                    power - 1};
}

inline constexpr std::array<ClassShape, kClassCount> kClassShapes = [] {
  std::array<ClassShape, kClassCount> shapes{};
  for (int size_class = 0; size_class < kClassCount; ++size_class)
    shapes[size_class] = ShapeOf(size_class);
  return shapes;
}();

constexpr bool IsSlotStart(std::uint32_t in_slots, ClassShape const& shape) {
  std::uint32_t scaled = in_slots * shape.inverse;
  return scaled < shape.slot_limit && (scaled & shape.low_bits) == 0;
}

constexpr bool SlotTestIsExact() {
  for (ClassShape const& shape : kClassShapes) {
    std::uint32_t bytes = static_cast<std::uint32_t>(shape.slot_words) * kWordBytes;
    std::uint32_t slots =
        static_cast<std::uint32_t>((kRegionLength - FixedRegion::kHeaderWords) / shape.slot_words);
    for (std::uint32_t x = 0; x < kPoolPageBytes; ++x) {
      if (IsSlotStart(x, shape) != (x % bytes == 0 && x / bytes < slots)) return false;
    }
    // Offsets below the slot area wrap to the top of the word.
    for (std::uint32_t below = 1; below <= kFirstSlotByte; ++below) {
      if (IsSlotStart(0u - below, shape)) return false;
    }
  }
  return true;
}
static_assert(SlotTestIsExact(), "the slot test finds every slot start and nothing else");

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
  std::uint32_t in_slots =
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p) & (kPoolPageBytes - 1)) -
      kFirstSlotByte;
  if (!IsSlotStart(in_slots, shape)) return Misuse::kInterior;
  if (alloc_count == 0) return Misuse::kEmptyPage;
  if (first_free == SlotOffset(p)) return Misuse::kFirstFreeSlot;
  return Misuse::kNone;
}

// A slot for size (under kRoutedSizeLimit) bytes from its class's head page, or null
// when the pool must decide. The region's own allocation, with the slot size and length
// every pool page of the class has: its free list first, then the slots never handed out.
inline void* TryAllocate(unsigned size) {
  if (g_thread_lock) return nullptr;
  int size_class = RoutedClassOf(size);
  FixedRegion* region = g_head_region[size_class];
  if (region == nullptr) return nullptr;
  ClassShape const& shape = kClassShapes[size_class];
  int offset = region->FirstFree();
  if (offset > shape.last_offset) return nullptr;
  std::int32_t* slot = region->SlotAt(offset);
  int next = *slot;
  if (next == FixedRegion::kNeverUsed) {
    next = offset + shape.slot_words;
    if (next < kRegionLength) slot[shape.slot_words] = FixedRegion::kNeverUsed;
  }
  region->Took(next, shape.slot_words);
  return slot;
}

// Gives back p, in a live page of the pool, unless the pool must decide: false then, with
// nothing changed. The pool decides a page with no free slot (it may be out of its class
// list), the last slot of a page (it empties it), and every pointer the cheap tests find
// wrong (it stops the process).
inline bool TryFree(void* p) {
  if (g_thread_lock) return false;
  auto address = reinterpret_cast<std::uintptr_t>(p);
  FixedRegion* region = RegionOfPage(address & ~(kPoolPageBytes - 1));
  ClassShape const& shape = kClassShapes[region->SizeClass()];
  std::uint32_t in_slots =
      static_cast<std::uint32_t>(address & (kPoolPageBytes - 1)) - kFirstSlotByte;
  if (!IsSlotStart(in_slots, shape)) return false;
  int offset = static_cast<int>(in_slots / kWordBytes) + FixedRegion::kHeaderWords;
  int first_free = region->FirstFree();
  if (first_free > shape.last_offset || first_free == offset ||
      region->AllocCount() <= shape.slot_words) {
    return false;
  }
  region->FreeAt(offset);
  return true;
}

}  // namespace mem::thread_block

#endif
