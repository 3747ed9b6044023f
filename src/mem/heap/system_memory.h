// How the heap gets memory from the system and gives it back, and the memory limit that
// every request for system memory must pass.
#ifndef VARURUROR_MEM_HEAP_SYSTEM_MEMORY_H
#define VARURUROR_MEM_HEAP_SYSTEM_MEMORY_H

#include <cstddef>

#include "mem/heap/heap_state.h"

namespace mem::heap {

enum class SystemRequest {
  kSegment = 2,  // memory for a segment of the heap
  kMapping = 3,  // a mapping for one large chunk, placed high to keep it out of the segments' way
};

// System memory for a segment, or for the mapping of one chunk, of size bytes from the
// rounding functions below. Runs the initialisation pass, then the memory-limit check;
// null when the limit or the system refuses.
char* AcquireSystemMemory(HeapState& m, std::size_t size, SystemRequest kind);

// The size of a new segment that can serve a chunk of nb bytes, or of the mapping for a
// chunk of nb bytes: always at least one granule above what the chunk and the segment's
// overhead need. 0 when the rounding wraps around.
std::size_t SegmentRequestSize(std::size_t nb);
std::size_t MappingRequestSize(std::size_t nb);

// Gives [address, address + length) back. It must consist of whole system regions, each
// beginning where the one before ended; they are all checked before the first goes back.
// Returns the bytes given back: length, or 0 when a region does not qualify. A system
// that refuses after the check leaves a front part released and the rest still held.
std::size_t ReleaseSystemMemory(char* address, std::size_t length);

// The lowest address in [from, end) where a system region begins (whole regions are all
// that can be given back), or end if there is none.
char* FirstRegionStart(char* from, char* end);

// Where the algorithm would resize a mapping in place. The system cannot, so this never
// succeeds; a growth still runs the memory-limit check for the difference, which leaves
// its mark in the limit error flag.
void AttemptResizeInPlace(HeapState& m, std::size_t old_size, std::size_t new_size);

}  // namespace mem::heap

#endif
