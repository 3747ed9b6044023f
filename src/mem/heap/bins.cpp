#include "mem/heap/bins.h"

namespace mem::heap {

std::size_t MinSizeForTreeIndex(unsigned index) {
  unsigned power = (index >> 1) + kTreeBinShift;
  return (std::size_t{1} << power) | (static_cast<std::size_t>(index & 1) << (power - 1));
}

void InitBins(HeapState& m) {
  for (unsigned i = 0; i < kSmallBinCount; ++i) {
    Chunk* bin = SmallBinAt(m, i);
    bin->fd = bin;
    bin->bk = bin;
  }
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

}  // namespace mem::heap
