#include "mem/heap/segments.h"

#include <cstdint>

#include "mem/heap/bins.h"
#include "mem/heap/system_memory.h"

namespace mem::heap {

namespace {

// The last 56 bytes before end: an in-use chunk holding the segment record, its foot
// telling the size of the free chunk in front of it, then the fenceposts to the end.
Segment* PlaceSegmentRecord(char* end, std::size_t free_before) {
  Chunk* holder = reinterpret_cast<Chunk*>(end - kTopFootSize);
  holder->prev_foot = free_before;
  holder->head = kSegmentRecordChunkSize | kInUse;
  Chunk* fence = ChunkPlus(holder, kSegmentRecordChunkSize);
  for (std::size_t i = 0; i < kTrailingFenceposts; ++i) {
    ChunkPlus(fence, i * kWordSize)->head = kFencepostHead;
  }
  return static_cast<Segment*>(ChunkToMem(holder));
}

Segment* FindSegmentStartingAt(HeapState& m, char* base) {
  for (Segment* s = &m.seg; s != nullptr; s = s->next) {
    if (s->base == base) return s;
  }
  return nullptr;
}

void* MapLargeChunk(HeapState& m, std::size_t nb) {
  std::size_t size = MappingRequestSize(nb);
  if (size == 0) return nullptr;
  char* base = AcquireSystemMemory(m, size, SystemRequest::kMapping);
  if (base == nullptr) return nullptr;
  Chunk* p = AlignAsChunk(base);
  std::size_t offset = static_cast<std::size_t>(reinterpret_cast<char*>(p) - base);
  // The chunk leaves the same 56 bytes at the end as a segment does, so that it can
  // become a segment in place when it shrinks.
  std::size_t psize = size - offset - kTopFootSize;
  p->prev_foot = offset | kMappedFootBit;
  p->head = psize | kInUse;
  ChunkPlus(p, psize)->head = kFencepostHead;
  ChunkPlus(p, psize + kWordSize)->head = 0;
  if (base < m.least_addr) m.least_addr = base;
  AddFootprint(m, size);
  return ChunkToMem(p);
}

// The top chunk moves to a new segment. What was left of the old top becomes a free
// chunk, and the old first record goes into the old segment's tail.
void AddSegment(HeapState& m, char* base, std::size_t size) {
  Chunk* old_top = m.top;
  std::size_t old_topsize = m.topsize;
  // The old top always keeps at least a minimum chunk in front of its foot, so the free
  // chunk left behind is a real one and the record goes exactly where the foot was.
  Segment* record = PlaceSegmentRecord(m.seg.base + m.seg.size, old_topsize);
  *record = m.seg;
  InitTop(m, reinterpret_cast<Chunk*>(base), size - kTopFootSize);
  m.seg = Segment{base, size, record, kSegmentMapped};
  old_top->head = old_topsize | kPrevInUse;
  InsertChunk(m, old_top, old_topsize);
}

// New space right below an existing segment: the chunk is cut from its front, and the
// rest joins the old segment's first chunk.
void* PrependAlloc(HeapState& m, char* new_base, char* old_base, std::size_t nb) {
  Chunk* p = AlignAsChunk(new_base);
  Chunk* old_first = AlignAsChunk(old_base);
  std::size_t rest_size =
      static_cast<std::size_t>(reinterpret_cast<char*>(old_first) - reinterpret_cast<char*>(p)) -
      nb;
  Chunk* rest = ChunkPlus(p, nb);
  SetSizeOfInUseChunk(p, nb);
  if (old_first == m.top) {
    m.topsize += rest_size;
    m.top = rest;
    rest->head = m.topsize | kPrevInUse;
  } else if (old_first == m.dv) {
    m.dvsize += rest_size;
    m.dv = rest;
    SetSizeOfFreeChunk(rest, m.dvsize);
  } else {
    if (!IsInUse(old_first)) {
      std::size_t first_size = ChunkSize(old_first);
      UnlinkChunk(m, old_first, first_size);
      old_first = ChunkPlus(old_first, first_size);
      rest_size += first_size;
    }
    SetFreeBefore(rest, rest_size, old_first);
    InsertChunk(m, rest, rest_size);
  }
  return ChunkToMem(p);
}

void* AllocateFromNewSegment(HeapState& m, std::size_t nb) {
  std::size_t size = SegmentRequestSize(nb);
  if (size == 0) return nullptr;
  char* base = AcquireSystemMemory(m, size, SystemRequest::kSegment);
  if (base == nullptr) return nullptr;
  AddFootprint(m, size);
  if (!IsInitialised(m)) {
    m.seg = Segment{base, size, nullptr, kSegmentMapped};
    m.least_addr = base;
    m.magic = g_heap_params.magic;
    InitBins(m);
    InitTop(m, reinterpret_cast<Chunk*>(base), size - kTopFootSize);
  } else if (m.seg.base + m.seg.size == base) {
    // Right behind the top's segment: every segment is a mapping of our own, so the two
    // join and the top grows.
    m.seg.size += size;
    InitTop(m, m.top, m.topsize + size);
  } else {
    if (base < m.least_addr) m.least_addr = base;
    Segment* above = FindSegmentStartingAt(m, base + size);
    if (above != nullptr) {
      char* old_base = above->base;
      above->base = base;
      above->size += size;
      return PrependAlloc(m, base, old_base, nb);
    }
    AddSegment(m, base, size);
  }
  // The request size leaves room for the chunk and a top chunk of at least 16 bytes.
  return CarveFromTop(m, nb);
}

// The heap's first segment, made as for a 16-byte request; the chunk goes straight back,
// so that the top spans the whole segment.
bool CreateInitialSegment(HeapState& m) {
  void* mem = AllocateFromNewSegment(m, kMinChunkSize);
  if (mem == nullptr) return false;
  Chunk* p = MemToChunk(mem);
  m.topsize += kMinChunkSize;
  m.top = p;
  p->head = m.topsize | kPrevInUse;
  return true;
}

}  // namespace

void InitTop(HeapState& m, Chunk* p, std::size_t size) {
  std::size_t offset = AlignOffset(reinterpret_cast<std::uintptr_t>(ChunkToMem(p)));
  p = ChunkPlus(p, offset);
  size -= offset;
  m.top = p;
  m.topsize = size;
  p->head = size | kPrevInUse;
  // The head behind the top marks the foot; it stays there while the top shrinks.
  ChunkPlus(p, size)->head = kTopFootSize;
  m.trim_check = g_heap_params.trim_threshold;
}

void* SystemAllocate(HeapState& m, std::size_t nb) {
  if ((m.mflags & kUseMappingsFlag) != 0 && nb >= g_heap_params.mapping_threshold) {
    // A mapped chunk is freed through the heap's state, so the heap is set up first.
    if (!IsInitialised(m) && !CreateInitialSegment(m)) return nullptr;
    if (void* mem = MapLargeChunk(m, nb)) return mem;
  }
  return AllocateFromNewSegment(m, nb);
}

Chunk* SpanWithFreeChunk(char* base, char* end) {
  Chunk* first = AlignAsChunk(base);
  std::size_t size = static_cast<std::size_t>(end - kTopFootSize - reinterpret_cast<char*>(first));
  first->head = size | kPrevInUse;
  reinterpret_cast<Chunk*>(end - kTopFootSize)->prev_foot = size;
  return first;
}

void LinkSegment(HeapState& m, char* base, std::size_t size, std::size_t free_before) {
  Segment* record = PlaceSegmentRecord(base + size, free_before);
  *record = Segment{base, size, m.seg.next, kSegmentMapped};
  m.seg.next = record;
}

void AdoptFreeSpace(HeapState& m, char* base, std::size_t size) {
  Chunk* free_chunk = SpanWithFreeChunk(base, base + size);
  std::size_t free_size = ChunkSize(free_chunk);
  LinkSegment(m, base, size, free_size);
  InsertChunk(m, free_chunk, free_size);
}

}  // namespace mem::heap
