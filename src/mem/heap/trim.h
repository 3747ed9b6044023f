// Giving memory back to the system: the unused end of the top chunk, and whole segments
// that hold nothing but one free chunk.
#ifndef VARURUROR_MEM_HEAP_TRIM_H
#define VARURUROR_MEM_HEAP_TRIM_H

#include <cstddef>

#include "mem/heap/heap_state.h"

namespace mem::heap {

// Keeps pad bytes of top beyond its foot and gives back what lies beyond, in granules,
// then releases every wholly free segment but the first. True when anything went back;
// when nothing did, automatic trimming stays off until the top next changes.
bool TrimSystemMemory(HeapState& m, std::size_t pad);

// The top has grown past the point at which a free gives memory back.
inline bool ShouldTrim(HeapState const& m, std::size_t topsize) { return topsize > m.trim_check; }

}  // namespace mem::heap

#endif
