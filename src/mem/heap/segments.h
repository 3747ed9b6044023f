// Segments: the runs of system memory the heap cuts chunks from, the top chunk at the end
// of the newest one, and the chunks that have a mapping of their own.
//
// The first segment record lives in the heap state and always describes the segment that
// holds the top chunk. Every other record lives in the last 56 bytes of its own segment,
// in an in-use chunk followed by fenceposts.
#ifndef VARURUROR_MEM_HEAP_SEGMENTS_H
#define VARURUROR_MEM_HEAP_SEGMENTS_H

#include <cstddef>

#include "mem/heap/chunk.h"
#include "mem/heap/heap_state.h"

namespace mem::heap {

inline bool SegmentHolds(Segment const* s, void const* address) {
  char const* a = static_cast<char const*>(address);
  return a >= s->base && a < s->base + s->size;
}

// Makes p, of size bytes, the top chunk; the 56 bytes behind it are the top foot.
void InitTop(HeapState& m, Chunk* p, std::size_t size);

// Cuts a chunk of nb bytes off the front of the top chunk, which must be larger.
inline void* CarveFromTop(HeapState& m, std::size_t nb) {
  Chunk* p = m.top;
  m.topsize -= nb;
  m.top = ChunkPlus(p, nb);
  m.top->head = m.topsize | kPrevInUse;
  SetSizeOfInUseChunk(p, nb);
  return ChunkToMem(p);
}

// Serves a chunk of nb bytes from new system memory: a mapping of its own when nb reaches
// the mapping threshold, else new segment space. Null when no memory can be had.
void* SystemAllocate(HeapState& m, std::size_t nb);

// Makes everything between base's first chunk and the 56 bytes before end one free chunk,
// not yet binned, and records its size in the foot behind it.
Chunk* SpanWithFreeChunk(char* base, char* end);

// Records [base, base + size) as a segment, right after the first record: its record goes
// in the segment's last 56 bytes, behind a free chunk of free_before bytes.
void LinkSegment(HeapState& m, char* base, std::size_t size, std::size_t free_before);

// Takes mapped memory that holds nothing live back into the heap as a wholly free segment,
// which trimming can give back later.
void AdoptFreeSpace(HeapState& m, char* base, std::size_t size);

// Calls visit(chunk) for every chunk of every segment, from the first aligned chunk to the
// segment's end, the top chunk or a fencepost. Mapped chunks are not in any segment.
template <typename Visit>
void ForEachSegmentChunk(HeapState& m, Visit visit) {
  for (Segment* s = &m.seg; s != nullptr; s = s->next) {
    Chunk* q = AlignAsChunk(s->base);
    // A fencepost's size is 0, and so is a damaged head's: either ends the walk.
    while (SegmentHolds(s, q) && q != m.top && q->head != kFencepostHead && ChunkSize(q) != 0) {
      visit(q);
      q = NextChunk(q);
    }
  }
}

}  // namespace mem::heap

#endif
