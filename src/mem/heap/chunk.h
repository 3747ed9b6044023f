// Chunks: the boundary-tagged pieces the heap cuts its memory into, and their arithmetic.
//
// A chunk starts with two words: the foot of the previous chunk (that chunk's size, kept
// only while it is free) and this chunk's head (its size and two flag bits). An in-use
// chunk keeps no foot of its own; its user bytes run on over the next chunk's first word,
// so it costs one word. A free chunk carries its bin links after the head, and a free
// chunk of a tree bin carries its tree links after those.
#ifndef VARURUROR_MEM_HEAP_CHUNK_H
#define VARURUROR_MEM_HEAP_CHUNK_H

#include <cstddef>
#include <cstdint>

namespace mem::heap {

constexpr std::size_t kWordSize = sizeof(std::size_t);
constexpr std::size_t kAlignment = 16;
constexpr std::size_t kAlignMask = kAlignment - 1;
constexpr std::size_t kMaxSize = ~std::size_t{0};

// Head flag bits; bit 2 is never set, but sizes are multiples of 16, so it is masked too.
constexpr std::size_t kPrevInUse = 1;
constexpr std::size_t kInUse = 2;
constexpr std::size_t kInUseBits = kPrevInUse | kInUse;
constexpr std::size_t kFlagBits = 7;
// The head of the fake chunks that end a segment: in use, and too small to be a chunk.
constexpr std::size_t kFencepostHead = kInUseBits | kWordSize;
// Set in the foot of a chunk that has a mapping of its own; the rest is its offset there.
constexpr std::size_t kMappedFootBit = 1;

struct Chunk {
  std::size_t prev_foot;
  std::size_t head;
  Chunk* fd;  // bin links, free chunks only
  Chunk* bk;
  Chunk* child[2];  // tree links, free chunks of the tree bins only
  Chunk* parent;    // null for a chunk that waits in a same-size ring, not in the tree
  std::uint32_t index;
};
static_assert(offsetof(Chunk, prev_foot) == 0 && offsetof(Chunk, head) == 4, "chunk header");
static_assert(offsetof(Chunk, fd) == 8 && offsetof(Chunk, bk) == 12, "bin links");
static_assert(offsetof(Chunk, child) == 16 && offsetof(Chunk, parent) == 24 &&
                  offsetof(Chunk, index) == 28 && sizeof(Chunk) == 32,
              "tree links");

// The header that precedes the user's bytes.
constexpr std::size_t kChunkHeaderSize = offsetof(Chunk, fd);
constexpr std::size_t kChunkOverhead = kWordSize;
// A mapped chunk also needs its foot: it holds the chunk's offset in its mapping.
constexpr std::size_t kMappedChunkOverhead = 2 * kWordSize;
constexpr std::size_t kMinChunkSize = 16;
// Requests below this get a minimum chunk; at or above it they are padded.
constexpr std::size_t kMinRequest = kMinChunkSize - kChunkOverhead - 1;
// Requests from here up fail: padding would wrap, and the bins need room above.
constexpr std::size_t kMaxRequest = (0 - kMinChunkSize) << 2;
static_assert(kMinRequest == 11 && kMaxRequest == 0xFFFFFFC0u, "32-bit request limits");

// A segment record: one run of system memory the heap cuts chunks from.
struct Segment {
  char* base;
  std::size_t size;
  Segment* next;
  std::uint32_t flags;
};
static_assert(offsetof(Segment, base) == 0 && offsetof(Segment, size) == 4 &&
                  offsetof(Segment, next) == 8 && offsetof(Segment, flags) == 12 &&
                  sizeof(Segment) == 16,
              "segment record");
constexpr std::uint32_t kSegmentMapped = 1;    // the segment is system mappings of our own
constexpr std::uint32_t kSegmentExternal = 8;  // memory handed in from outside; never here

inline constexpr std::size_t PadRequest(std::size_t bytes) {
  return (bytes + kChunkOverhead + kAlignMask) & ~kAlignMask;
}

inline constexpr std::size_t RequestToSize(std::size_t bytes) {
  return bytes < kMinRequest ? kMinChunkSize : PadRequest(bytes);
}

// Bytes to add to address to make it 16-aligned.
inline constexpr std::size_t AlignOffset(std::uintptr_t address) {
  return (address & kAlignMask) == 0 ? 0 : (kAlignment - (address & kAlignMask)) & kAlignMask;
}

// Where the first chunk of memory at base goes, so that its user bytes are 16-aligned.
constexpr std::size_t kFirstChunkOffset = AlignOffset(kChunkHeaderSize);
constexpr std::size_t kSegmentRecordChunkSize = PadRequest(sizeof(Segment));
// Kept free at the end of every segment: the segment record's chunk when the segment is
// left behind by a newer one, the fenceposts behind it, and the alignment lead.
constexpr std::size_t kTopFootSize = kFirstChunkOffset + kSegmentRecordChunkSize + kMinChunkSize;
static_assert(kFirstChunkOffset == 8 && kSegmentRecordChunkSize == 32 && kTopFootSize == 56,
              "the top foot of a 32-bit heap");
// A segment left behind ends in its record's chunk and then these fencepost heads.
constexpr std::size_t kTrailingFenceposts =
    (kTopFootSize - kSegmentRecordChunkSize - kWordSize) / kWordSize;
static_assert(kTrailingFenceposts == 5, "five fencepost heads in the last 20 bytes");

inline void* ChunkToMem(Chunk* p) { return reinterpret_cast<char*>(p) + kChunkHeaderSize; }
inline Chunk* MemToChunk(void* mem) {
  return reinterpret_cast<Chunk*>(static_cast<char*>(mem) - kChunkHeaderSize);
}
inline Chunk* ChunkPlus(Chunk* p, std::size_t offset) {
  return reinterpret_cast<Chunk*>(reinterpret_cast<char*>(p) + offset);
}
inline Chunk* ChunkMinus(Chunk* p, std::size_t offset) {
  return reinterpret_cast<Chunk*>(reinterpret_cast<char*>(p) - offset);
}
inline Chunk* AlignAsChunk(char* base) {
  return reinterpret_cast<Chunk*>(
      base + AlignOffset(reinterpret_cast<std::uintptr_t>(base) + kChunkHeaderSize));
}
inline bool IsAligned(void const* mem) {
  return (reinterpret_cast<std::uintptr_t>(mem) & kAlignMask) == 0;
}

inline std::size_t ChunkSize(Chunk const* p) { return p->head & ~kFlagBits; }
inline bool IsInUse(Chunk const* p) { return (p->head & kInUse) != 0; }
inline bool PrevInUse(Chunk const* p) { return (p->head & kPrevInUse) != 0; }
inline Chunk* NextChunk(Chunk* p) { return ChunkPlus(p, ChunkSize(p)); }
inline bool IsMapped(Chunk const* p) {
  return !PrevInUse(p) && (p->prev_foot & kMappedFootBit) != 0;
}
inline std::size_t OverheadFor(Chunk const* p) {
  return IsMapped(p) ? kMappedChunkOverhead : kChunkOverhead;
}

// In-use chunks have no foot, so marking one only touches its head and the next head.
inline void SetInUse(Chunk* p, std::size_t size) {
  p->head = (p->head & kPrevInUse) | size | kInUse;
  ChunkPlus(p, size)->head |= kPrevInUse;
}
inline void SetInUseAndPrevInUse(Chunk* p, std::size_t size) {
  p->head = size | kInUseBits;
  ChunkPlus(p, size)->head |= kPrevInUse;
}
inline void SetSizeOfInUseChunk(Chunk* p, std::size_t size) { p->head = size | kInUseBits; }
inline void SetSizeOfFreeChunk(Chunk* p, std::size_t size) {
  p->head = size | kPrevInUse;
  ChunkPlus(p, size)->prev_foot = size;
}
inline void SetFreeBefore(Chunk* p, std::size_t size, Chunk* next) {
  next->head &= ~kPrevInUse;
  SetSizeOfFreeChunk(p, size);
}

inline constexpr bool IsPowerOfTwo(std::size_t value) {
  return value != 0 && (value & (value - 1)) == 0;
}

}  // namespace mem::heap

#endif
