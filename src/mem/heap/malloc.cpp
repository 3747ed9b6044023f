// Allocation: dlmalloc and the calls built directly on it.
//
// A small request takes an exact small bin; failing that, when the designated victim is
// too small, the next larger small bin or the smallest tree chunk; else the victim. A
// large request takes the best-fitting tree chunk unless the victim fits better. What
// nothing else serves comes from the top chunk, and last from new system memory.
#include <cstring>

#include "mem/heap/bins.h"
#include "mem/heap/chunk.h"
#include "mem/heap/heap_state.h"
#include "mem/heap/segments.h"
#include "varururor/mem/dlmalloc.h"

namespace mem::heap {

namespace {

// Hands out v, a tree chunk of nb plus rsize bytes; a remainder that can be a chunk is
// split off and given to keep.
template <typename Keep>
void* TakeTreeChunk(HeapState& m, Chunk* v, std::size_t nb, std::size_t rsize, Keep keep) {
  Chunk* r = ChunkPlus(v, nb);
  if (!IsHeapAddress(m, v) || r <= v) HeapCorrupted();
  UnlinkLargeChunk(m, v);
  if (rsize < kMinChunkSize) {
    SetInUseAndPrevInUse(v, rsize + nb);
  } else {
    SetSizeOfInUseChunk(v, nb);
    SetSizeOfFreeChunk(r, rsize);
    keep(r, rsize);
  }
  return ChunkToMem(v);
}

// A small request, with no small bin to serve it: the smallest chunk of the tree bins.
// The remainder becomes the designated victim.
void* TreeMallocSmall(HeapState& m, std::size_t nb) {
  unsigned index = BitToIndex(LeastBit(m.treemap));
  Chunk* t = *TreeBinAt(m, index);
  Chunk* v = t;
  std::size_t rsize = ChunkSize(t) - nb;
  while ((t = LeftmostChild(t)) != nullptr) {
    std::size_t remainder = ChunkSize(t) - nb;
    if (remainder < rsize) {
      rsize = remainder;
      v = t;
    }
  }
  return TakeTreeChunk(m, v, nb, rsize,
                       [&m](Chunk* r, std::size_t size) { ReplaceDesignatedVictim(m, r, size); });
}

// A large request: the best fit of the tree bins, or null when the designated victim
// fits at least as well (or nothing fits).
void* TreeMallocLarge(HeapState& m, std::size_t nb) {
  Chunk* v = nullptr;
  std::size_t rsize = 0 - nb;  // larger than any real remainder
  unsigned index = TreeIndex(nb);
  Chunk* t = *TreeBinAt(m, index);
  if (t != nullptr) {
    // Descend along nb's bits, remembering the deepest right subtree not taken: it holds
    // the next larger sizes if no exact fit turns up.
    std::size_t size_bits = nb << LeftShiftForTreeIndex(index);
    Chunk* right_subtree = nullptr;
    for (;;) {
      std::size_t remainder = ChunkSize(t) - nb;
      if (remainder < rsize) {
        v = t;
        rsize = remainder;
        if (rsize == 0) break;
      }
      Chunk* right = t->child[1];
      t = t->child[ChildSide(size_bits)];
      if (right != nullptr && right != t) right_subtree = right;
      if (t == nullptr) {
        t = right_subtree;
        break;
      }
      size_bits <<= 1;
    }
  }
  if (t == nullptr && v == nullptr) {
    BinMap larger = LeftBits(IndexToBit(index)) & m.treemap;
    if (larger != 0) t = *TreeBinAt(m, BitToIndex(LeastBit(larger)));
  }
  while (t != nullptr) {
    std::size_t remainder = ChunkSize(t) - nb;
    if (remainder < rsize) {
      rsize = remainder;
      v = t;
    }
    t = LeftmostChild(t);
  }
  if (v == nullptr || rsize >= m.dvsize - nb) return nullptr;
  return TakeTreeChunk(m, v, nb, rsize,
                       [&m](Chunk* r, std::size_t size) { InsertChunk(m, r, size); });
}

// A small request from the next non-empty small bin above its own; the remainder, at
// least 16 bytes since sizes step by 16, becomes the designated victim.
void* SmallMallocFromLargerBin(HeapState& m, std::size_t nb, unsigned index, BinMap smallbits) {
  BinMap left = (smallbits << index) & LeftBits(IndexToBit(index));
  unsigned i = BitToIndex(LeastBit(left));
  Chunk* bin = SmallBinAt(m, i);
  Chunk* p = bin->fd;
  UnlinkFirstSmallChunk(m, bin, p, i);
  std::size_t rsize = SmallIndexToSize(i) - nb;
  SetSizeOfInUseChunk(p, nb);
  Chunk* r = ChunkPlus(p, nb);
  SetSizeOfFreeChunk(r, rsize);
  ReplaceDesignatedVictim(m, r, rsize);
  return ChunkToMem(p);
}

void* MallocFromDesignatedVictim(HeapState& m, std::size_t nb) {
  std::size_t rsize = m.dvsize - nb;
  Chunk* p = m.dv;
  if (rsize >= kMinChunkSize) {
    Chunk* r = ChunkPlus(p, nb);
    m.dv = r;
    m.dvsize = rsize;
    SetSizeOfFreeChunk(r, rsize);
    SetSizeOfInUseChunk(p, nb);
  } else {
    std::size_t whole = m.dvsize;
    m.dvsize = 0;
    m.dv = nullptr;
    SetInUseAndPrevInUse(p, whole);
  }
  return ChunkToMem(p);
}

void* Malloc(HeapState& m, std::size_t bytes) {
  std::size_t nb;
  if (bytes <= kMaxSmallRequest) {
    nb = RequestToSize(bytes);
    unsigned index = SmallIndex(nb);
    BinMap smallbits = m.smallmap >> index;
    constexpr BinMap kThisAndNextBin = 3;
    if ((smallbits & kThisAndNextBin) != 0) {
      // This bin or the next one: either fits with no remainder worth a chunk.
      index += ~smallbits & 1;
      Chunk* bin = SmallBinAt(m, index);
      Chunk* p = bin->fd;
      UnlinkFirstSmallChunk(m, bin, p, index);
      SetInUseAndPrevInUse(p, SmallIndexToSize(index));
      return ChunkToMem(p);
    }
    if (nb > m.dvsize) {
      if (smallbits != 0) return SmallMallocFromLargerBin(m, nb, index, smallbits);
      if (m.treemap != 0) return TreeMallocSmall(m, nb);
    }
  } else if (bytes >= kMaxRequest) {
    nb = kMaxSize;  // fails in SystemAllocate: no rounding of it fits a word
  } else {
    nb = PadRequest(bytes);
    if (m.treemap != 0) {
      if (void* mem = TreeMallocLarge(m, nb)) return mem;
    }
  }
  if (nb <= m.dvsize) return MallocFromDesignatedVictim(m, nb);
  if (nb < m.topsize) return CarveFromTop(m, nb);
  return SystemAllocate(m, nb);
}

}  // namespace

}  // namespace mem::heap

using mem::heap::g_heap_state;

extern "C" void* dlmalloc(std::size_t bytes) {
  mem::heap::HeapGuard guard(g_heap_state);
  return mem::heap::Malloc(g_heap_state, bytes);
}

extern "C" void* dlcalloc(std::size_t count, std::size_t size) {
  std::size_t request = 0;
  if (count != 0) {
    request = count * size;
    // Below 64 KiB each, the product cannot wrap; above, the division tells.
    constexpr std::size_t kNoWrapBits = ~std::size_t{0xFFFF};
    if (((count | size) & kNoWrapBits) != 0 && request / count != size) {
      request = mem::heap::kMaxSize;
    }
  }
  void* mem = dlmalloc(request);
  // A chunk with a fresh mapping of its own comes zero-filled from the system.
  if (mem != nullptr && !mem::heap::IsMapped(mem::heap::MemToChunk(mem))) {
    std::memset(mem, 0, request);
  }
  return mem;
}

extern "C" std::size_t dlmalloc_usable_size(void* mem) {
  // A misaligned pointer was never handed out; its "head" may be anything.
  if (mem == nullptr || !mem::heap::IsAligned(mem)) return 0;
  mem::heap::Chunk* p = mem::heap::MemToChunk(mem);
  if (!mem::heap::IsInUse(p)) return 0;
  return mem::heap::ChunkSize(p) - mem::heap::OverheadFor(p);
}
