// Resizing: in place where the chunk or the top behind it allows, else allocate, copy and
// free. A chunk with a mapping of its own keeps it when the size hardly changes, and when
// it shrinks a lot its mapping becomes a segment of the heap in place.
#include <cstring>

#include "mem/heap/bins.h"
#include "mem/heap/chunk.h"
#include "mem/heap/heap_state.h"
#include "mem/heap/misuse.h"
#include "mem/heap/segments.h"
#include "mem/heap/system_memory.h"
#include "varururor/mem/dlmalloc.h"

namespace mem::heap {

namespace {

// p keeps its first nb bytes as an ordinary in-use chunk; the rest of the mapping up to
// its last 56 bytes becomes a free chunk, and those bytes the new segment's record.
Chunk* ShrinkMappedChunkIntoSegment(HeapState& m, Chunk* p, std::size_t nb) {
  std::size_t old_size = ChunkSize(p);
  std::size_t offset = p->prev_foot & ~kMappedFootBit;
  char* base = reinterpret_cast<char*>(p) - offset;
  Chunk* first = AlignAsChunk(base);
  if (first == p) {
    p->prev_foot = 0;
    p->head = nb | kInUseBits;
  } else {
    // dlmemalign moved the chunk into its mapping. The lead in front of it becomes a free
    // chunk, so that the segment is walkable from its first chunk like any other.
    std::size_t lead =
        static_cast<std::size_t>(reinterpret_cast<char*>(p) - reinterpret_cast<char*>(first));
    first->head = lead | kPrevInUse;
    p->prev_foot = lead;
    p->head = nb | kInUse;
    InsertChunk(m, first, lead);
  }
  Chunk* rest = ChunkPlus(p, nb);
  std::size_t rest_size = old_size - nb;
  rest->head = rest_size | kPrevInUse;
  LinkSegment(m, base, offset + old_size + kTopFootSize, rest_size);
  InsertChunk(m, rest, rest_size);
  return p;
}

// The chunk p after resizing to nb bytes, or null when it must be allocated, copied and freed.
Chunk* ResizeMappedChunk(HeapState& m, Chunk* p, std::size_t nb) {
  std::size_t old_size = ChunkSize(p);
  // A small chunk belongs in the bins, not in a mapping or a segment of its own.
  if (IsSmall(nb)) return nullptr;
  // Keep the mapping while it is big enough and wastes at most two granules.
  if (old_size >= nb + kWordSize && old_size - nb <= (g_heap_params.granularity << 1)) return p;
  std::size_t offset = p->prev_foot & ~kMappedFootBit;
  AttemptResizeInPlace(m, offset + old_size + kTopFootSize, MappingRequestSize(nb));
  // An equal chunk size counts as growth: a mapped chunk has 4 bytes less room than an
  // ordinary chunk of the same size.
  if (nb >= old_size) return nullptr;
  return ShrinkMappedChunkIntoSegment(m, p, nb);
}

void* Realloc(HeapState& m, void* old_mem, std::size_t bytes) {
  if (bytes >= kMaxRequest) return nullptr;
  HeapGuard guard(m);
  constexpr char kOperation[] = "dlrealloc";
  Chunk* old_p = InUseChunkOf(m, old_mem, kOperation);
  std::size_t old_size = ChunkSize(old_p);
  Chunk* next = ChunkPlus(old_p, old_size);
  if (next <= old_p || !PrevInUse(next)) {
    HeapMisused(kOperation, old_mem, Finding::kTagsOverwritten);
  }
  std::size_t old_usable = old_size - OverheadFor(old_p);
  std::size_t nb = RequestToSize(bytes);
  Chunk* new_p = nullptr;
  void* spare = nullptr;
  if (IsMapped(old_p)) {
    new_p = ResizeMappedChunk(m, old_p, nb);
  } else if (old_size >= nb) {
    new_p = old_p;
    std::size_t rsize = old_size - nb;
    if (rsize >= kMinChunkSize) {
      Chunk* remainder = ChunkPlus(old_p, nb);
      SetInUse(old_p, nb);
      SetInUse(remainder, rsize);
      spare = ChunkToMem(remainder);
    }
  } else if (next == m.top && old_size + m.topsize > nb) {
    std::size_t new_topsize = old_size + m.topsize - nb;
    Chunk* new_top = ChunkPlus(old_p, nb);
    SetInUse(old_p, nb);
    new_top->head = new_topsize | kPrevInUse;
    m.top = new_top;
    m.topsize = new_topsize;
    new_p = old_p;
  }
  // dlmalloc and dlfree take the lock themselves.
  guard.Unlock();
  if (new_p != nullptr) {
    if (spare != nullptr) dlfree(spare);
    return ChunkToMem(new_p);
  }
  void* new_mem = dlmalloc(bytes);
  if (new_mem != nullptr) {
    std::memcpy(new_mem, old_mem, old_usable < bytes ? old_usable : bytes);
    dlfree(old_mem);
  }
  return new_mem;
}

}  // namespace

}  // namespace mem::heap

extern "C" void* dlrealloc(void* mem, std::size_t bytes) {
  if (mem == nullptr) return dlmalloc(bytes);
  if (bytes == 0) {
    dlfree(mem);
    return nullptr;
  }
  return mem::heap::Realloc(mem::heap::g_heap_state, mem, bytes);
}
