#include "mem/heap/trim.h"

#include "mem/heap/bins.h"
#include "mem/heap/segments.h"
#include "mem/heap/system_memory.h"
#include "varururor/mem/dlmalloc.h"

namespace mem::heap {

namespace {

// Releases the segments after the first whose first chunk is free and reaches the record.
std::size_t ReleaseUnusedSegments(HeapState& m) {
  std::size_t released = 0;
  Segment* pred = &m.seg;
  Segment* sp = pred->next;
  while (sp != nullptr) {
    char* base = sp->base;
    std::size_t size = sp->size;
    Segment* next = sp->next;
    Chunk* p = AlignAsChunk(base);
    std::size_t psize = ChunkSize(p);
    if (!IsInUse(p) && reinterpret_cast<char*>(p) + psize >= base + size - kTopFootSize) {
      if (p == m.dv) {
        m.dv = nullptr;
        m.dvsize = 0;
      } else {
        UnlinkLargeChunk(m, p);
      }
      std::size_t gone = ReleaseSystemMemory(base, size);
      released += gone;
      SubtractFootprint(m, gone);
      if (gone == size) {
        // The record went with its segment.
        pred->next = next;
        sp = next;
        continue;
      }
      if (gone != 0) {
        // The system let only the front go: the rest, record included, stays a free segment.
        sp->base = base + gone;
        sp->size = size - gone;
        p = SpanWithFreeChunk(sp->base, base + size);
        psize = ChunkSize(p);
      }
      InsertLargeChunk(m, p, psize);
    }
    pred = sp;
    sp = next;
  }
  return released;
}

}  // namespace

bool TrimSystemMemory(HeapState& m, std::size_t pad) {
  if (pad >= kMaxRequest || !IsInitialised(m)) return false;
  std::size_t released = 0;
  pad += kTopFootSize;
  if (m.topsize > pad) {
    // Whole granules only, and always less than the top has beyond pad.
    std::size_t unit = g_heap_params.granularity;
    std::size_t extra = ((m.topsize - pad + (unit - 1)) / unit - 1) * unit;
    // The first record describes the top's segment. No other record lies in it (each
    // lies in its own segment), so nothing pins its end.
    Segment& seg = m.seg;
    std::size_t new_size = seg.size - extra;
    AttemptResizeInPlace(m, seg.size, new_size);
    // The segment may be made of several joined regions: the whole ones beyond pad go.
    char* const seg_end = seg.base + seg.size;
    char* const release_from = FirstRegionStart(seg.base + new_size, seg_end);
    new_size = static_cast<std::size_t>(release_from - seg.base);
    extra = static_cast<std::size_t>(seg_end - release_from);
    std::size_t gone = extra == 0 ? 0 : ReleaseSystemMemory(release_from, extra);
    if (gone != 0) {
      seg.size = new_size;
      SubtractFootprint(m, gone);
      InitTop(m, m.top, m.topsize - extra);
      // The system let only the front of the end go: what it kept becomes a free segment.
      if (gone < extra) AdoptFreeSpace(m, seg.base + new_size + gone, extra - gone);
      released = gone;
    }
  }
  released += ReleaseUnusedSegments(m);
  if (released == 0) m.trim_check = kMaxSize;
  return released != 0;
}

}  // namespace mem::heap

extern "C" int dlmalloc_trim(std::size_t pad) {
  mem::heap::HeapGuard guard(mem::heap::g_heap_state);
  return mem::heap::TrimSystemMemory(mem::heap::g_heap_state, pad) ? 1 : 0;
}
