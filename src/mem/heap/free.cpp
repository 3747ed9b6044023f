// Freeing: a chunk joins its free neighbours, and the result goes to a bin, the designated
// victim or the top chunk. A chunk with a mapping of its own gives the mapping back.
#include "mem/heap/bins.h"
#include "mem/heap/chunk.h"
#include "mem/heap/heap_state.h"
#include "mem/heap/misuse.h"
#include "mem/heap/system_memory.h"
#include "mem/heap/trim.h"
#include "varururor/mem/dlmalloc.h"

namespace mem::heap {

namespace {

void FreeMappedChunk(HeapState& m, Chunk* p, std::size_t offset) {
  std::size_t size = offset + ChunkSize(p) + kTopFootSize;
  // A mapping the system will not take back stays with the heap, and stays counted.
  SubtractFootprint(m, ReleaseSystemMemory(reinterpret_cast<char*>(p) - offset, size));
}

constexpr char kOperation[] = "dlfree";

void Free(HeapState& m, void* mem) {
  Chunk* p = InUseChunkOf(m, mem, kOperation);
  std::size_t psize = ChunkSize(p);
  Chunk* next = ChunkPlus(p, psize);
  if (!PrevInUse(p)) {
    std::size_t prevsize = p->prev_foot;
    if ((prevsize & kMappedFootBit) != 0) {
      FreeMappedChunk(m, p, prevsize & ~kMappedFootBit);
      return;
    }
    Chunk* prev = ChunkMinus(p, prevsize);
    if (!IsHeapAddress(m, prev)) HeapMisused(kOperation, mem, Finding::kTagsOverwritten);
    psize += prevsize;
    p = prev;
    if (p != m.dv) {
      UnlinkChunk(m, p, prevsize);
    } else if ((next->head & kInUseBits) == kInUseBits) {
      m.dvsize = psize;
      SetFreeBefore(p, psize, next);
      return;
    }
  }
  if (next <= p || !PrevInUse(next)) HeapMisused(kOperation, mem, Finding::kTagsOverwritten);
  if (IsInUse(next)) {
    SetFreeBefore(p, psize, next);
  } else if (next == m.top) {
    std::size_t tsize = m.topsize += psize;
    m.top = p;
    p->head = tsize | kPrevInUse;
    if (p == m.dv) {
      m.dv = nullptr;
      m.dvsize = 0;
    }
    if (ShouldTrim(m, tsize)) TrimSystemMemory(m, 0);
    return;
  } else if (next == m.dv) {
    std::size_t dsize = m.dvsize += psize;
    m.dv = p;
    SetSizeOfFreeChunk(p, dsize);
    return;
  } else {
    std::size_t nsize = ChunkSize(next);
    psize += nsize;
    UnlinkChunk(m, next, nsize);
    SetSizeOfFreeChunk(p, psize);
    if (p == m.dv) {
      m.dvsize = psize;
      return;
    }
  }
  InsertChunk(m, p, psize);
}

}  // namespace

}  // namespace mem::heap

extern "C" void dlfree(void* mem) {
  if (mem == nullptr) return;
  mem::heap::HeapGuard guard(mem::heap::g_heap_state);
  mem::heap::Free(mem::heap::g_heap_state, mem);
}
