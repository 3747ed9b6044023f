// Pointers handed back to the heap that it did not hand out, or that it took back already,
// and blocks whose boundary tags were overwritten: the checks on the way into dlfree and
// dlrealloc, and the one line the process says before it aborts.
#ifndef VARURUROR_MEM_HEAP_MISUSE_H
#define VARURUROR_MEM_HEAP_MISUSE_H

#include <cstdint>

#include "mem/heap/chunk.h"
#include "mem/heap/heap_state.h"

namespace mem::heap {

// What a check found, as the message says it.
enum class Finding {
  kNotABlock,       // outside the heap, or not where a block's bytes start
  kMappingGone,     // where a block with its own mapping starts, but nothing is mapped there
  kNotLive,         // the head says the block is free
  kTagsOverwritten  // the sizes around the block do not agree with each other
};

// Writes "VaruRuror: OPERATION(ADDRESS): FINDING" to standard error, then aborts.
// Async-signal-safe: it formats by hand and writes with one system call.
[[noreturn]] void HeapMisused(char const* operation, void const* address, Finding finding);

// The user bytes of a block with a mapping of its own start this far into the mapping's
// first page. Mappings start on a page boundary, and no page is smaller than this one,
// so a constant mask serves without loading the page size.
constexpr std::uintptr_t kMappedBlockPageOffset = kFirstChunkOffset + kChunkHeaderSize;
constexpr std::uintptr_t kSmallestPageMask = 4096 - 1;

// False when mem, which sits where a mapped block would start, lies in no segment and in
// no mapping: its head cannot be read. Out of line: it runs for one block in a page.
bool IsReadableBlockStart(HeapState const& m, void const* mem);

// The chunk of a block that the caller hands back to operation; aborts unless it looks
// handed out. The alignment test goes beyond what the algorithm checks: a misaligned
// pointer was never handed out, and its "head" would be user bytes. A freed mapped block
// has no memory left to read, so an address where mapped blocks start is looked up first.
inline Chunk* InUseChunkOf(HeapState const& m, void* mem, char const* operation) {
  if (!IsAligned(mem)) HeapMisused(operation, mem, Finding::kNotABlock);
  Chunk* p = MemToChunk(mem);
  if (!IsHeapAddress(m, p)) HeapMisused(operation, mem, Finding::kNotABlock);
  std::uintptr_t page_offset = reinterpret_cast<std::uintptr_t>(mem) & kSmallestPageMask;
  // The first block of a segment sits there too; the top segment, whose record the state
  // holds, is looked at inline, since repeated requests cut the same block from its start.
  std::uintptr_t const in_top_segment =
      reinterpret_cast<std::uintptr_t>(mem) - reinterpret_cast<std::uintptr_t>(m.seg.base);
  if (__builtin_expect(page_offset == kMappedBlockPageOffset, 0) && in_top_segment >= m.seg.size &&
      !IsReadableBlockStart(m, mem)) {
    HeapMisused(operation, mem, Finding::kMappingGone);
  }
  if (!IsInUse(p)) HeapMisused(operation, mem, Finding::kNotLive);
  return p;
}

}  // namespace mem::heap

#endif
