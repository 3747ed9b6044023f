// The walk behind mem_ScanMemory, over any source of region descriptions, so that the
// printing and the summary can be checked against a made-up address space.
#ifndef VARURUROR_MEM_SCAN_REGION_WALK_H
#define VARURUROR_MEM_SCAN_REGION_WALK_H

#include <cstdio>

#include "plat/virtual_memory.h"
#include "varururor/mem/memory_scan.h"

namespace mem {

// Describes the region holding address in *info; false when the query fails.
using RegionQuery = bool (*)(void* context, unsigned int address,
                             plat::MemoryBasicInformation* info);

// The scan of mem_ScanMemory, with its queries answered by query and its text written
// to out. The walk ends with the region that would reach past ceiling, the highest
// address of the space walked.
void WalkRegions(MEM_SCAN_LEVEL_ENM level, unsigned int limit, unsigned int ceiling,
                 RegionQuery query, void* context, FILE* out);

}  // namespace mem

#endif
