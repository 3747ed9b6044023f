// A full consistency check of the heap, for tests: it walks every segment chunk by chunk
// and every bin link by link, under the heap lock, and reports the first thing that is
// not as the heap's invariants say.
#ifndef VARURUROR_MEM_HEAP_HEAP_CHECKER_H
#define VARURUROR_MEM_HEAP_HEAP_CHECKER_H

#include <cstddef>

namespace mem::heap {

struct HeapCheck {
  bool ok;
  char problem[256];  // the first inconsistency found; empty when ok
  std::size_t segment_count;
  std::size_t segment_bytes;  // the sizes of all segments
  std::size_t free_chunks;    // free chunks in the segments, the top not counted
  std::size_t free_bytes;     // their bytes, and the top's
  std::size_t in_use_bytes;   // in-use chunks in the segments, segment records not counted
  std::size_t largest_free;   // the largest free chunk, the top not counted
};

// Checks that:
// - every segment is aligned, apart from the others, and walkable from its first chunk to
//   the top (first segment) or to its record and fenceposts (the others);
// - head and foot agree: a chunk's "previous in use" bit tells the truth, and a free
//   chunk's size is repeated in the next chunk's foot;
// - free chunks are coalesced: no two lie side by side, and none lies before the top;
// - every free chunk but the top and the designated victim is in the bin for its size,
//   every binned chunk is such a chunk, and the bitmaps mark exactly the non-empty bins;
// - the tree bins are tries ordered by size bits, with sound parent and ring links;
// - the top ends 56 bytes before its segment's end;
// - the footprint covers the segments, and the maximum footprint the footprint.
// When live_blocks is given (every block the caller holds), each must be in use, and the
// footprint must equal the segments plus the mappings of the mapped ones exactly.
HeapCheck CheckHeap(void* const* live_blocks = nullptr, std::size_t live_count = 0);

// The size of the mapping of a block that has one of its own; 0 for any other block.
std::size_t MappingSizeOf(void* mem);

}  // namespace mem::heap

#endif
