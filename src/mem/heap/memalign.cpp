// Aligned allocation: a block large enough to hold an aligned chunk anywhere in it, with
// the lead in front and the spare room behind given back.
#include <cstdint>

#include "mem/heap/chunk.h"
#include "mem/heap/heap_state.h"
#include "varururor/mem/dlmalloc.h"

namespace mem::heap {

namespace {

// The largest power of two a word holds; a larger alignment could not be raised to one.
constexpr std::size_t kLargestAlignment = ~(kMaxSize >> 1);

void* AlignedMalloc(HeapState& m, std::size_t alignment, std::size_t bytes) {
  if (!IsPowerOfTwo(alignment)) {
    if (alignment > kLargestAlignment) return nullptr;
    std::size_t raised = kAlignment << 1;
    while (raised < alignment) raised <<= 1;
    alignment = raised;
  }
  if (bytes >= kMaxRequest - alignment) return nullptr;
  std::size_t nb = RequestToSize(bytes);
  // Room for the chunk at any alignment, plus a minimum chunk for the lead in front of it.
  char* mem = static_cast<char*>(dlmalloc(nb + alignment + kMinChunkSize - kChunkOverhead));
  if (mem == nullptr) return nullptr;
  void* leader = nullptr;
  void* trailer = nullptr;
  Chunk* p = MemToChunk(mem);
  HeapGuard guard(m);
  if (reinterpret_cast<std::uintptr_t>(mem) % alignment != 0) {
    std::uintptr_t aligned_mem =
        (reinterpret_cast<std::uintptr_t>(mem) + alignment - 1) & (0 - alignment);
    char* candidate = reinterpret_cast<char*>(MemToChunk(reinterpret_cast<void*>(aligned_mem)));
    // The lead must be able to stand as a chunk of its own.
    if (candidate - reinterpret_cast<char*>(p) < static_cast<std::ptrdiff_t>(kMinChunkSize)) {
      candidate += alignment;
    }
    Chunk* new_p = reinterpret_cast<Chunk*>(candidate);
    std::size_t lead_size = static_cast<std::size_t>(candidate - reinterpret_cast<char*>(p));
    std::size_t new_size = ChunkSize(p) - lead_size;
    if (IsMapped(p)) {
      // The mapping stays whole; the chunk only moves further into it.
      new_p->prev_foot = p->prev_foot + lead_size;
      new_p->head = new_size | kInUse;
    } else {
      SetInUse(new_p, new_size);
      SetInUse(p, lead_size);
      leader = ChunkToMem(p);
    }
    p = new_p;
  }
  if (!IsMapped(p)) {
    std::size_t size = ChunkSize(p);
    if (size > nb + kMinChunkSize) {
      Chunk* remainder = ChunkPlus(p, nb);
      SetInUse(p, nb);
      SetInUse(remainder, size - nb);
      trailer = ChunkToMem(remainder);
    }
  }
  // dlfree takes the lock itself.
  guard.Unlock();
  if (leader != nullptr) dlfree(leader);
  if (trailer != nullptr) dlfree(trailer);
  return ChunkToMem(p);
}

}  // namespace

}  // namespace mem::heap

extern "C" void* dlmemalign(std::size_t alignment, std::size_t bytes) {
  if (alignment <= mem::heap::kAlignment) return dlmalloc(bytes);
  return mem::heap::AlignedMalloc(mem::heap::g_heap_state, alignment, bytes);
}
