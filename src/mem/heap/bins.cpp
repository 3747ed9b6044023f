#include "mem/heap/bins.h"

namespace mem::heap {

namespace {

constexpr unsigned kLastTreeBin = kTreeBinCount - 1;

bool IsHeapLink(HeapState const& m, Chunk const* link) { return IsHeapAddress(m, link); }

}  // namespace

unsigned TreeIndex(std::size_t size) {
  std::size_t steps = size >> kTreeBinShift;
  if (steps == 0) return 0;
  unsigned power = kSizeBits - 1 - static_cast<unsigned>(__builtin_clz(steps));
  // Two bins per power of two run out at bin 31; every larger size shares it.
  if (2 * power + 1 > kLastTreeBin) return kLastTreeBin;
  return (power << 1) + static_cast<unsigned>((size >> (power + kTreeBinShift - 1)) & 1);
}

std::size_t MinSizeForTreeIndex(unsigned index) {
  unsigned power = (index >> 1) + kTreeBinShift;
  return (std::size_t{1} << power) | (static_cast<std::size_t>(index & 1) << (power - 1));
}

unsigned LeftShiftForTreeIndex(unsigned index) {
  // The leading bit and the bit that splits a power of two in two are fixed by the bin;
  // the trie branches on the bits below them. The last bin branches from the top bit.
  if (index == kLastTreeBin) return 0;
  return (kSizeBits - 1) - ((index >> 1) + kTreeBinShift - 2);
}

void InitBins(HeapState& m) {
  for (unsigned i = 0; i < kSmallBinCount; ++i) {
    Chunk* bin = SmallBinAt(m, i);
    bin->fd = bin;
    bin->bk = bin;
  }
}

void InsertSmallChunk(HeapState& m, Chunk* p, std::size_t size) {
  unsigned index = SmallIndex(size);
  Chunk* bin = SmallBinAt(m, index);
  Chunk* first = bin;
  if ((m.smallmap & IndexToBit(index)) == 0) {
    m.smallmap |= IndexToBit(index);
  } else {
    first = bin->fd;
    if (!IsHeapLink(m, first) || first->bk != bin) HeapCorrupted();
  }
  bin->fd = p;
  first->bk = p;
  p->fd = first;
  p->bk = bin;
}

void UnlinkSmallChunk(HeapState& m, Chunk* p, std::size_t size) {
  unsigned index = SmallIndex(size);
  Chunk* bin = SmallBinAt(m, index);
  Chunk* forward = p->fd;
  Chunk* back = p->bk;
  if ((forward != bin && !IsHeapLink(m, forward)) || (back != bin && !IsHeapLink(m, back)) ||
      forward->bk != p || back->fd != p) {
    HeapCorrupted();
  }
  forward->bk = back;
  back->fd = forward;
  if (forward == back) m.smallmap &= ~IndexToBit(index);
}

void UnlinkFirstSmallChunk(HeapState& m, Chunk* bin, Chunk* p, unsigned index) {
  Chunk* forward = p->fd;
  if ((forward != bin && !IsHeapLink(m, forward)) || forward->bk != p || p->bk != bin) {
    HeapCorrupted();
  }
  bin->fd = forward;
  forward->bk = bin;
  if (forward == bin) m.smallmap &= ~IndexToBit(index);
}

void InsertLargeChunk(HeapState& m, Chunk* x, std::size_t size) {
  unsigned index = TreeIndex(size);
  Chunk** root = TreeBinAt(m, index);
  x->index = index;
  x->child[0] = nullptr;
  x->child[1] = nullptr;
  if ((m.treemap & IndexToBit(index)) == 0) {
    m.treemap |= IndexToBit(index);
    *root = x;
    // The root's parent is its bin slot, so that unlinking can tell a root from a ring member.
    x->parent = reinterpret_cast<Chunk*>(root);
    x->fd = x;
    x->bk = x;
    return;
  }
  Chunk* t = *root;
  std::size_t key = size << LeftShiftForTreeIndex(index);
  for (;;) {
    if (ChunkSize(t) != size) {
      Chunk** slot = &t->child[ChildSide(key)];
      key <<= 1;
      if (*slot != nullptr) {
        t = *slot;
        continue;
      }
      if (!IsHeapLink(m, t)) HeapCorrupted();
      *slot = x;
      x->parent = t;
      x->fd = x;
      x->bk = x;
      return;
    }
    // Same size: x joins t's ring and stays out of the tree.
    Chunk* forward = t->fd;
    if (!IsHeapLink(m, t) || !IsHeapLink(m, forward) || forward->bk != t) HeapCorrupted();
    t->fd = x;
    forward->bk = x;
    x->fd = forward;
    x->bk = t;
    x->parent = nullptr;
    return;
  }
}

void UnlinkLargeChunk(HeapState& m, Chunk* x) {
  Chunk* parent = x->parent;
  Chunk* replacement;
  if (x->bk != x) {
    // x has a ring: its neighbour there takes its place in the tree.
    Chunk* forward = x->fd;
    replacement = x->bk;
    if (!IsHeapLink(m, forward) || forward->bk != x || replacement->fd != x) HeapCorrupted();
    forward->bk = replacement;
    replacement->fd = forward;
  } else {
    // Alone: the rightmost leaf below x takes its place.
    Chunk** replacement_slot = &x->child[1];
    replacement = *replacement_slot;
    if (replacement == nullptr) {
      replacement_slot = &x->child[0];
      replacement = *replacement_slot;
    }
    if (replacement != nullptr) {
      for (;;) {
        Chunk** child_slot = &replacement->child[1];
        if (*child_slot == nullptr) child_slot = &replacement->child[0];
        if (*child_slot == nullptr) break;
        replacement_slot = child_slot;
        replacement = *child_slot;
      }
      if (!IsHeapLink(m, reinterpret_cast<Chunk*>(replacement_slot))) HeapCorrupted();
      *replacement_slot = nullptr;
    }
  }
  // A ring member that is not in the tree has no parent and nothing more to do.
  if (parent == nullptr) return;
  Chunk** root = TreeBinAt(m, x->index);
  if (x == *root) {
    *root = replacement;
    if (replacement == nullptr) m.treemap &= ~IndexToBit(x->index);
  } else {
    if (!IsHeapLink(m, parent)) HeapCorrupted();
    if (parent->child[0] == x) {
      parent->child[0] = replacement;
    } else if (parent->child[1] == x) {
      parent->child[1] = replacement;
    } else {
      HeapCorrupted();
    }
  }
  if (replacement == nullptr) return;
  if (!IsHeapLink(m, replacement)) HeapCorrupted();
  replacement->parent = parent;
  for (unsigned side = 0; side < 2; ++side) {
    Chunk* child = x->child[side];
    if (child == nullptr) continue;
    if (!IsHeapLink(m, child)) HeapCorrupted();
    replacement->child[side] = child;
    child->parent = replacement;
  }
}

void ReplaceDesignatedVictim(HeapState& m, Chunk* p, std::size_t size) {
  if (m.dvsize != 0) InsertSmallChunk(m, m.dv, m.dvsize);
  m.dvsize = size;
  m.dv = p;
}

}  // namespace mem::heap
