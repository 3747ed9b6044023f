#include "mem/heap/heap_checker.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "mem/heap/bins.h"
#include "mem/heap/chunk.h"
#include "mem/heap/heap_state.h"
#include "mem/heap/segments.h"

namespace mem::heap {

namespace {

// Bounds every walk, so that a damaged link makes a report instead of an endless loop.
constexpr std::size_t kStepLimit = std::size_t{1} << 24;
constexpr unsigned kMaxTreeDepth = kSizeBits;

std::uintptr_t Address(void const* p) { return reinterpret_cast<std::uintptr_t>(p); }

class Checker {
 public:
  explicit Checker(HeapState& m) : m_(m) { result_.ok = true; }

  HeapCheck Run(void* const* live_blocks, std::size_t live_count) {
    if (!IsInitialised(m_)) {
      CheckUninitialised();
    } else if (CheckSegmentList() && CheckTop() && CheckDesignatedVictim() && CheckSmallBins() &&
               CheckTreeBins() && WalkSegments()) {
      CheckFootprint(live_blocks, live_count);
    }
    return result_;
  }

 private:
  bool Fail(char const* format, ...) __attribute__((format(printf, 2, 3))) {
    if (result_.ok) {
      va_list args;
      va_start(args, format);
      std::vsnprintf(result_.problem, sizeof result_.problem, format, args);
      va_end(args);
      result_.ok = false;
    }
    return false;
  }

  void CheckUninitialised() {
    if (m_.footprint != 0 || m_.smallmap != 0 || m_.treemap != 0 || m_.dv != nullptr ||
        m_.dvsize != 0 || m_.topsize != 0 || m_.seg.base != nullptr) {
      Fail("heap without a top chunk holds memory or free chunks");
    }
  }

  Segment* SegmentOf(void const* address) {
    for (Segment* s = &m_.seg; s != nullptr; s = s->next) {
      if (SegmentHolds(s, address)) return s;
    }
    return nullptr;
  }

  bool CheckSegmentList() {
    std::size_t page = g_heap_params.page_size;
    if (m_.magic != kHeapMagic) return Fail("heap magic is %#zx", m_.magic);
    for (Segment* s = &m_.seg; s != nullptr; s = s->next) {
      if (++result_.segment_count > kStepLimit) return Fail("segment list does not end");
      if (s->base == nullptr || (Address(s->base) & (page - 1)) != 0 || s->size == 0 ||
          (s->size & (page - 1)) != 0 || Address(s->base) + s->size < Address(s->base)) {
        return Fail("segment %p of %#zx bytes is not a run of whole pages",
                    static_cast<void*>(s->base), s->size);
      }
      if (s->flags != kSegmentMapped || (s->flags & kSegmentExternal) != 0) {
        return Fail("segment %p has flags %#x", static_cast<void*>(s->base), s->flags);
      }
      if (s->base < m_.least_addr) {
        return Fail("segment %p lies below the lowest address", static_cast<void*>(s->base));
      }
      if (s != &m_.seg &&
          s != ChunkToMem(reinterpret_cast<Chunk*>(s->base + s->size - kTopFootSize))) {
        return Fail("record of segment %p is not in its last 56 bytes",
                    static_cast<void*>(s->base));
      }
      for (Segment* other = &m_.seg; other != s; other = other->next) {
        if (s->base < other->base + other->size && other->base < s->base + s->size) {
          return Fail("segments %p and %p overlap", static_cast<void*>(s->base),
                      static_cast<void*>(other->base));
        }
      }
      result_.segment_bytes += s->size;
    }
    return true;
  }

  bool CheckTop() {
    Chunk* top = m_.top;
    if (!SegmentHolds(&m_.seg, top))
      return Fail("top %p is not in the first segment", static_cast<void*>(top));
    if (!IsAligned(ChunkToMem(top))) return Fail("top %p is misaligned", static_cast<void*>(top));
    if (m_.topsize < kMinChunkSize || ChunkSize(top) != m_.topsize) {
      return Fail("top size %#zx, head %#zx", m_.topsize, top->head);
    }
    if (!PrevInUse(top) || IsInUse(top)) return Fail("top head %#zx has wrong flags", top->head);
    if (Address(top) + m_.topsize + kTopFootSize != Address(m_.seg.base) + m_.seg.size) {
      return Fail("top %p does not end 56 bytes before its segment's end", static_cast<void*>(top));
    }
    if (ChunkPlus(top, m_.topsize)->head != kTopFootSize) return Fail("top foot mark is lost");
    result_.free_bytes += m_.topsize;
    return true;
  }

  // A free chunk other than the top: the chunk before it is in use (else they would have
  // joined), and the chunk behind it is in use and knows this one's size.
  bool CheckFreeChunk(Chunk* p) {
    std::size_t size = ChunkSize(p);
    if (!IsAligned(ChunkToMem(p)) || size < kMinChunkSize || (size & kAlignMask) != 0) {
      return Fail("free chunk %p has head %#zx", static_cast<void*>(p), p->head);
    }
    Segment* s = SegmentOf(p);
    if (s == nullptr || Address(p) + size > Address(s->base) + s->size - kTopFootSize) {
      return Fail("free chunk %p of %#zx bytes is not inside a segment", static_cast<void*>(p),
                  size);
    }
    if (IsInUse(p) || !PrevInUse(p)) {
      return Fail("free chunk %p has head %#zx: not coalesced with its predecessor",
                  static_cast<void*>(p), p->head);
    }
    Chunk* next = ChunkPlus(p, size);
    if (next == m_.top || !IsInUse(next) || PrevInUse(next)) {
      return Fail("free chunk %p: next head %#zx, not coalesced or not marked free",
                  static_cast<void*>(p), next->head);
    }
    if (next->prev_foot != size) {
      return Fail("free chunk %p of %#zx bytes: foot says %#zx", static_cast<void*>(p), size,
                  next->prev_foot);
    }
    return true;
  }

  bool CheckDesignatedVictim() {
    if ((m_.dv == nullptr) != (m_.dvsize == 0))
      return Fail("designated victim %p of %#zx bytes", static_cast<void*>(m_.dv), m_.dvsize);
    if (m_.dv == nullptr) return true;
    if (ChunkSize(m_.dv) != m_.dvsize)
      return Fail("designated victim size %#zx, head %#zx", m_.dvsize, m_.dv->head);
    if (!CheckFreeChunk(m_.dv)) return false;
    if (IsBinned(m_.dv, m_.dvsize))
      return Fail("designated victim %p is also binned", static_cast<void*>(m_.dv));
    return true;
  }

  // bin is the small bin's head chunk, whose links lie in the heap state; null for a tree.
  bool CheckBinnedChunk(Chunk* p, Chunk* bin) {
    if (p == m_.dv || p == m_.top)
      return Fail("binned chunk %p is the victim or the top", static_cast<void*>(p));
    bool links_ok = IsHeapAddress(m_, p) && (p->fd == bin || IsHeapAddress(m_, p->fd)) &&
                    (p->bk == bin || IsHeapAddress(m_, p->bk));
    if (!links_ok || p->fd->bk != p || p->bk->fd != p) {
      return Fail("ring links of binned chunk %p do not lead back", static_cast<void*>(p));
    }
    ++binned_chunks_;
    return CheckFreeChunk(p);
  }

  bool CheckSmallBins() {
    for (unsigned i = 0; i < kSmallBinCount; ++i) {
      Chunk* bin = SmallBinAt(m_, i);
      bool marked = (m_.smallmap & IndexToBit(i)) != 0;
      if (marked == (bin->fd == bin))
        return Fail("small bin %u: map bit %d, ring empty %d", i, marked, bin->fd == bin);
      if (bin->bk->fd != bin || bin->fd->bk != bin) return Fail("small bin %u ring is broken", i);
      std::size_t steps = 0;
      for (Chunk* p = bin->fd; p != bin; p = p->fd) {
        if (++steps > kStepLimit) return Fail("small bin %u ring does not end", i);
        if (ChunkSize(p) != SmallIndexToSize(i)) {
          return Fail("chunk %p of %#zx bytes in small bin %u", static_cast<void*>(p), ChunkSize(p),
                      i);
        }
        if (!CheckBinnedChunk(p, bin)) return false;
      }
    }
    return true;
  }

  // path holds the child taken at each level above t, level 0 in bit 0.
  bool CheckTree(Chunk* t, unsigned index, Chunk* parent, std::uint32_t path, unsigned depth) {
    if (depth > kMaxTreeDepth) return Fail("tree bin %u is deeper than a size has bits", index);
    std::size_t size = ChunkSize(t);
    if (t->index != index || t->parent != parent) {
      return Fail("tree chunk %p: index %u, parent %p", static_cast<void*>(t), t->index,
                  static_cast<void*>(t->parent));
    }
    bool below = size < MinSizeForTreeIndex(index);
    bool above = index + 1 < kTreeBinCount && size >= MinSizeForTreeIndex(index + 1);
    if (below || above)
      return Fail("chunk %p of %#zx bytes in tree bin %u", static_cast<void*>(t), size, index);
    std::size_t key = size << LeftShiftForTreeIndex(index);
    for (unsigned level = 0; level < depth; ++level) {
      if (ChildSide(key << level) != ((path >> level) & 1)) {
        return Fail("tree chunk %p of %#zx bytes is on the wrong side at level %u",
                    static_cast<void*>(t), size, level);
      }
    }
    if (!CheckBinnedChunk(t, nullptr)) return false;
    std::size_t steps = 0;
    for (Chunk* u = t->fd; u != t; u = u->fd) {
      if (++steps > kStepLimit)
        return Fail("ring of tree chunk %p does not end", static_cast<void*>(t));
      if (ChunkSize(u) != size || u->parent != nullptr || u->index != index) {
        return Fail("ring member %p of tree chunk %p: head %#zx, parent %p", static_cast<void*>(u),
                    static_cast<void*>(t), u->head, static_cast<void*>(u->parent));
      }
      if (!CheckBinnedChunk(u, nullptr)) return false;
    }
    for (unsigned side = 0; side < 2; ++side) {
      Chunk* child = t->child[side];
      if (child != nullptr &&
          !CheckTree(child, index, t, path | (std::uint32_t{side} << depth), depth + 1)) {
        return false;
      }
    }
    return true;
  }

  bool CheckTreeBins() {
    for (unsigned i = 0; i < kTreeBinCount; ++i) {
      Chunk* root = *TreeBinAt(m_, i);
      bool marked = (m_.treemap & IndexToBit(i)) != 0;
      if (marked != (root != nullptr))
        return Fail("tree bin %u: map bit %d, root %p", i, marked, static_cast<void*>(root));
      if (root != nullptr &&
          !CheckTree(root, i, reinterpret_cast<Chunk*>(TreeBinAt(m_, i)), 0, 0)) {
        return false;
      }
    }
    return true;
  }

  bool IsBinned(Chunk* p, std::size_t size) {
    if (IsSmall(size)) {
      unsigned index = SmallIndex(size);
      Chunk* bin = SmallBinAt(m_, index);
      if ((m_.smallmap & IndexToBit(index)) == 0) return false;
      std::size_t steps = 0;
      for (Chunk* q = bin->fd; q != bin && ++steps <= kStepLimit; q = q->fd) {
        if (q == p) return true;
      }
      return false;
    }
    unsigned index = TreeIndex(size);
    Chunk* t = *TreeBinAt(m_, index);
    std::size_t key = size << LeftShiftForTreeIndex(index);
    while (t != nullptr && ChunkSize(t) != size) {
      t = t->child[ChildSide(key)];
      key <<= 1;
    }
    if (t == nullptr) return false;
    Chunk* u = t;
    std::size_t steps = 0;
    do {
      if (u == p) return true;
      u = u->fd;
    } while (u != t && ++steps <= kStepLimit);
    return false;
  }

  // Walks one segment: every chunk from the first to the top (first segment) or to the
  // record's chunk and the fenceposts behind it (every other segment).
  bool WalkSegment(Segment* s) {
    char* end = s->base + s->size;
    Chunk* record_holder = reinterpret_cast<Chunk*>(end - kTopFootSize);
    Chunk* q = AlignAsChunk(s->base);
    bool prev_in_use = true;
    bool first_segment = s == &m_.seg;
    for (;;) {
      if (Address(q) + kChunkHeaderSize > Address(end) - kWordSize) {
        return Fail("walk of segment %p runs past its end", static_cast<void*>(s->base));
      }
      if (q == m_.top) {
        if (!first_segment) return Fail("top %p found in a later segment", static_cast<void*>(q));
        if (!prev_in_use) return Fail("free chunk before the top");
        return true;
      }
      if (PrevInUse(q) != prev_in_use) {
        return Fail("chunk %p: previous-in-use bit %d, but the previous chunk is %s",
                    static_cast<void*>(q), PrevInUse(q), prev_in_use ? "in use" : "free");
      }
      if (q->head == kFencepostHead) return CheckSegmentTail(s, q, record_holder);
      std::size_t size = ChunkSize(q);
      if (size < kMinChunkSize || (size & kAlignMask) != 0 ||
          Address(q) + size > Address(record_holder) + kSegmentRecordChunkSize) {
        return Fail("chunk %p in segment %p has head %#zx", static_cast<void*>(q),
                    static_cast<void*>(s->base), q->head);
      }
      if (IsInUse(q)) {
        if (q != record_holder) result_.in_use_bytes += size;
      } else {
        if (q != m_.dv) {
          if (!CheckFreeChunk(q)) return false;
          if (!IsBinned(q, size))
            return Fail("free chunk %p of %#zx bytes is in no bin", static_cast<void*>(q), size);
          ++walked_free_chunks_;
        }
        ++result_.free_chunks;
        result_.free_bytes += size;
        if (size > result_.largest_free) result_.largest_free = size;
      }
      prev_in_use = IsInUse(q);
      q = ChunkPlus(q, size);
    }
  }

  bool CheckSegmentTail(Segment* s, Chunk* fencepost, Chunk* record_holder) {
    if (s == &m_.seg) return Fail("first segment ends in a fencepost before the top");
    if (fencepost != ChunkPlus(record_holder, kSegmentRecordChunkSize) ||
        ChunkSize(record_holder) != kSegmentRecordChunkSize || !IsInUse(record_holder)) {
      return Fail("segment %p does not end in its record", static_cast<void*>(s->base));
    }
    for (std::size_t i = 0; i < kTrailingFenceposts; ++i) {
      if (ChunkPlus(fencepost, i * kWordSize)->head != kFencepostHead) {
        return Fail("segment %p: fencepost %zu is %#zx", static_cast<void*>(s->base), i,
                    ChunkPlus(fencepost, i * kWordSize)->head);
      }
    }
    return true;
  }

  bool WalkSegments() {
    for (Segment* s = &m_.seg; s != nullptr; s = s->next) {
      if (!WalkSegment(s)) return false;
    }
    if (walked_free_chunks_ != binned_chunks_) {
      return Fail("%zu free chunks in the segments, %zu in the bins", walked_free_chunks_,
                  binned_chunks_);
    }
    return true;
  }

  void CheckFootprint(void* const* live_blocks, std::size_t live_count) {
    if (m_.footprint < result_.segment_bytes) {
      Fail("footprint %#zx is below the segments' %#zx bytes", m_.footprint, result_.segment_bytes);
      return;
    }
    if (m_.max_footprint < m_.footprint) {
      Fail("maximum footprint %#zx is below the footprint %#zx", m_.max_footprint, m_.footprint);
      return;
    }
    if (live_blocks == nullptr) return;
    std::size_t mapped_bytes = 0;
    for (std::size_t i = 0; i < live_count; ++i) {
      void* mem = live_blocks[i];
      Chunk* p = MemToChunk(mem);
      if (!IsAligned(mem) || !IsInUse(p)) {
        Fail("live block %p is not an in-use chunk", mem);
        return;
      }
      if (IsMapped(p)) {
        std::size_t offset = p->prev_foot & ~kMappedFootBit;
        if (ChunkPlus(p, ChunkSize(p))->head != kFencepostHead ||
            Address(p) - offset < Address(m_.least_addr)) {
          Fail("mapped block %p has lost its fencepost or lies below the lowest address", mem);
          return;
        }
        mapped_bytes += offset + ChunkSize(p) + kTopFootSize;
      } else if (SegmentOf(p) == nullptr) {
        Fail("live block %p lies in no segment", mem);
        return;
      }
    }
    if (m_.footprint != result_.segment_bytes + mapped_bytes) {
      Fail("footprint %#zx, segments %#zx, mappings %#zx", m_.footprint, result_.segment_bytes,
           mapped_bytes);
    }
  }

  HeapState& m_;
  HeapCheck result_{};
  std::size_t binned_chunks_ = 0;
  std::size_t walked_free_chunks_ = 0;
};

}  // namespace

HeapCheck CheckHeap(void* const* live_blocks, std::size_t live_count) {
  HeapGuard guard(g_heap_state);
  return Checker(g_heap_state).Run(live_blocks, live_count);
}

std::size_t MappingSizeOf(void* mem) {
  Chunk* p = MemToChunk(mem);
  if (!IsMapped(p)) return 0;
  return (p->prev_foot & ~kMappedFootBit) + ChunkSize(p) + kTopFootSize;
}

}  // namespace mem::heap
