// The bins that hold free chunks: 32 small bins of exact sizes (below 256 bytes) kept as
// rings, and 32 tree bins for larger sizes, each a bitwise trie keyed by size with a ring
// of equal sizes hanging from each node. Two bitmaps tell which bins hold anything.
//
// Every link is checked on its way in and out; a link that points outside the heap, or a
// ring that does not lead back, aborts the process.
#ifndef VARURUROR_MEM_HEAP_BINS_H
#define VARURUROR_MEM_HEAP_BINS_H

#include <cstddef>

#include "mem/heap/chunk.h"
#include "mem/heap/heap_state.h"

namespace mem::heap {

constexpr unsigned kSmallBinShift = 3;
constexpr unsigned kTreeBinShift = 8;
constexpr std::size_t kMinLargeSize = std::size_t{1} << kTreeBinShift;
constexpr std::size_t kMaxSmallSize = kMinLargeSize - 1;
constexpr std::size_t kMaxSmallRequest = kMaxSmallSize - kAlignMask - kChunkOverhead;
static_assert(kMaxSmallRequest == 236, "requests up to 236 bytes are small");

inline bool IsSmall(std::size_t size) { return (size >> kSmallBinShift) < kSmallBinCount; }
inline unsigned SmallIndex(std::size_t size) {
  return static_cast<unsigned>(size >> kSmallBinShift);
}
inline std::size_t SmallIndexToSize(unsigned index) {
  return static_cast<std::size_t>(index) << kSmallBinShift;
}

inline Chunk* SmallBinAt(HeapState& m, unsigned index) {
  return reinterpret_cast<Chunk*>(&m.smallbins[index << 1]);
}
inline Chunk** TreeBinAt(HeapState& m, unsigned index) { return &m.treebins[index]; }

constexpr unsigned kSizeBits = 32;
constexpr unsigned kLastTreeBin = kTreeBinCount - 1;

// Tree bin i holds sizes from MinSizeForTreeIndex(i): two bins per power of two from 256,
// the last bin everything from 12 MiB up.
inline unsigned TreeIndex(std::size_t size) {
  std::size_t steps = size >> kTreeBinShift;
  if (steps == 0) return 0;
  unsigned power = kSizeBits - 1 - static_cast<unsigned>(__builtin_clz(steps));
  // Two bins per power of two run out at bin 31; every larger size shares it.
  if (2 * power + 1 > kLastTreeBin) return kLastTreeBin;
  return (power << 1) + static_cast<unsigned>((size >> (power + kTreeBinShift - 1)) & 1);
}
std::size_t MinSizeForTreeIndex(unsigned index);
// Shifts a size so that the bit that picks the child at the root is the top bit.
inline unsigned LeftShiftForTreeIndex(unsigned index) {
  // The leading bit and the bit that splits a power of two in two are fixed by the bin;
  // the trie branches on the bits below them. The last bin branches from the top bit.
  if (index == kLastTreeBin) return 0;
  return (kSizeBits - 1) - ((index >> 1) + kTreeBinShift - 2);
}

inline BinMap IndexToBit(unsigned index) { return BinMap{1} << index; }
inline BinMap LeastBit(BinMap bits) { return bits & (0 - bits); }
// Bits above the given one.
inline BinMap LeftBits(BinMap bit) { return (bit << 1) | (0 - (bit << 1)); }
inline unsigned BitToIndex(BinMap bit) { return static_cast<unsigned>(__builtin_ctz(bit)); }

// The child a size descends to at the level whose bit is on top of key.
inline unsigned ChildSide(std::size_t key) {
  return static_cast<unsigned>(key >> (kSizeBits - 1)) & 1;
}

inline Chunk* LeftmostChild(Chunk* t) { return t->child[0] != nullptr ? t->child[0] : t->child[1]; }

// Empties the small bins; the tree bins and bitmaps of a zero state are empty already.
void InitBins(HeapState& m);

inline bool IsHeapLink(HeapState const& m, Chunk const* link) { return IsHeapAddress(m, link); }

// The small-bin operations are on every common path of allocation and freeing: inline.
inline void InsertSmallChunk(HeapState& m, Chunk* p, std::size_t size) {
  unsigned index = SmallIndex(size);
  Chunk* bin = SmallBinAt(m, index);
  Chunk* first = bin;
  if ((m.smallmap & IndexToBit(index)) == 0) {
    m.smallmap |= IndexToBit(index);
  } else {
    first = bin->fd;
    if (__builtin_expect(!IsHeapLink(m, first) || first->bk != bin, 0)) HeapCorrupted();
  }
  bin->fd = p;
  first->bk = p;
  p->fd = first;
  p->bk = bin;
}

inline void UnlinkSmallChunk(HeapState& m, Chunk* p, std::size_t size) {
  unsigned index = SmallIndex(size);
  Chunk* bin = SmallBinAt(m, index);
  Chunk* forward = p->fd;
  Chunk* back = p->bk;
  if (__builtin_expect((forward != bin && !IsHeapLink(m, forward)) ||
                           (back != bin && !IsHeapLink(m, back)) || forward->bk != p ||
                           back->fd != p,
                       0)) {
    HeapCorrupted();
  }
  forward->bk = back;
  back->fd = forward;
  if (forward == back) m.smallmap &= ~IndexToBit(index);
}

// Takes p, the first chunk of small bin index (whose head chunk is bin), out of it.
inline void UnlinkFirstSmallChunk(HeapState& m, Chunk* bin, Chunk* p, unsigned index) {
  Chunk* forward = p->fd;
  if (__builtin_expect(
          (forward != bin && !IsHeapLink(m, forward)) || forward->bk != p || p->bk != bin, 0)) {
    HeapCorrupted();
  }
  bin->fd = forward;
  forward->bk = bin;
  if (forward == bin) m.smallmap &= ~IndexToBit(index);
}

void InsertLargeChunk(HeapState& m, Chunk* x, std::size_t size);
void UnlinkLargeChunk(HeapState& m, Chunk* x);

inline void InsertChunk(HeapState& m, Chunk* p, std::size_t size) {
  if (IsSmall(size)) {
    InsertSmallChunk(m, p, size);
  } else {
    InsertLargeChunk(m, p, size);
  }
}
inline void UnlinkChunk(HeapState& m, Chunk* p, std::size_t size) {
  if (IsSmall(size)) {
    UnlinkSmallChunk(m, p, size);
  } else {
    UnlinkLargeChunk(m, p);
  }
}

// Makes p the designated victim and bins the old one, which is known to be small.
inline void ReplaceDesignatedVictim(HeapState& m, Chunk* p, std::size_t size) {
  if (m.dvsize != 0) InsertSmallChunk(m, m.dv, m.dvsize);
  m.dvsize = size;
  m.dv = p;
}

}  // namespace mem::heap

#endif
