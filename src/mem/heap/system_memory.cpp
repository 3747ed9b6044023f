#include "mem/heap/system_memory.h"

#include "plat/virtual_memory.h"
#include "varururor/mem/dlmalloc.h"

namespace mem::heap {

namespace {

// A segment must hold the chunk, the 8-byte lead before its first chunk, the top foot,
// and at least one more byte, so that the top chunk left over is never empty.
constexpr std::size_t kSegmentRequestPad = kFirstChunkOffset + kTopFootSize + 1;
// A mapping holds the chunk, the 56 bytes kept at its end (so that it can become a
// segment in place), and room to align the chunk.
constexpr std::size_t kMappingRequestPad = kFirstChunkOffset + kTopFootSize + kAlignMask;
static_assert(kSegmentRequestPad == 65 && kMappingRequestPad == 79, "request pads");

// Adds a granule and clears the low bits: one whole granule above the unrounded sum at least.
std::size_t RoundWithSpareGranule(std::size_t nb, std::size_t pad) {
  std::size_t granularity = g_heap_params.granularity;
  std::size_t size = (nb + pad + granularity) & ~(granularity - 1);
  return size > nb ? size : 0;
}

bool PassesMemoryLimit(HeapState& m, std::size_t request) {
  std::size_t limit = m.memory_limit;
  // The sum is a 32-bit word, as everything the heap counts.
  bool passes = limit == 0 || m.footprint + request < limit;
  __atomic_store_n(&g_limit_error, passes ? 0L : -1L, __ATOMIC_RELAXED);
  return passes;
}

bool IsWholeRegion(plat::MemoryBasicInformation const& info, char* address, std::size_t remaining) {
  return info.base_address == address && info.allocation_base == address &&
         info.state == plat::kMemCommit && info.region_size <= remaining;
}

}  // namespace

char* AcquireSystemMemory(HeapState& m, std::size_t size, SystemRequest kind) {
  InitialisationPass();
  if (!PassesMemoryLimit(m, size)) return nullptr;
  std::uint32_t allocation_type = plat::kMemReserve | plat::kMemCommit;
  if (kind == SystemRequest::kMapping) {
    allocation_type |= plat::kMemTopDown;
  } else {
    // Segments grow upward, as the algorithm expects: the new one right above the top's
    // segment joins it, so the top stays at the heap's end and trimming can give back
    // what was added last. Elsewhere only when that space is taken; the new place keeps
    // room above it for the segments that follow.
    if (IsInitialised(m)) {
      if (void* above = plat::VirtualAlloc(m.seg.base + m.seg.size, size, allocation_type,
                                           plat::kPageReadWrite)) {
        return static_cast<char*>(above);
      }
    }
    allocation_type |= plat::kMemGrowthRoom;
  }
  return static_cast<char*>(
      plat::VirtualAlloc(nullptr, size, allocation_type, plat::kPageReadWrite));
}

std::size_t SegmentRequestSize(std::size_t nb) {
  return RoundWithSpareGranule(nb, kSegmentRequestPad);
}

std::size_t MappingRequestSize(std::size_t nb) {
  return RoundWithSpareGranule(nb, kMappingRequestPad);
}

char* FirstRegionStart(char* from, char* end) {
  plat::MemoryBasicInformation info;
  for (char* at = from; at < end;) {
    if (plat::VirtualQuery(at, &info) == 0) break;
    if (info.allocation_base == at) return at;
    at = static_cast<char*>(info.base_address) + info.region_size;
  }
  return end;
}

std::size_t ReleaseSystemMemory(char* address, std::size_t length) {
  // Check the whole range first, so that a range the heap cannot give back whole is kept
  // whole: the heap must never go on using memory it has partly released.
  plat::MemoryBasicInformation info;
  for (std::size_t checked = 0; checked < length; checked += info.region_size) {
    if (plat::VirtualQuery(address + checked, &info) == 0 ||
        !IsWholeRegion(info, address + checked, length - checked)) {
      return 0;
    }
  }
  std::size_t released = 0;
  while (released < length) {
    if (plat::VirtualQuery(address + released, &info) == 0 ||
        !plat::VirtualFree(address + released, 0, plat::kMemRelease)) {
      break;
    }
    released += info.region_size;
  }
  return released;
}

void AttemptResizeInPlace(HeapState& m, std::size_t old_size, std::size_t new_size) {
  if (new_size > old_size) PassesMemoryLimit(m, new_size - old_size);
}

}  // namespace mem::heap

extern "C" std::size_t dlmalloc_memory_limit() { return mem::heap::g_heap_params.memory_limit; }

extern "C" int error_memory_limit() {
  return static_cast<int>(__atomic_load_n(&mem::heap::g_limit_error, __ATOMIC_RELAXED));
}
