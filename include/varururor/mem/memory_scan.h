// The memory scan: walks the process's address space region by region and prints on
// standard error what it finds, with a summary of free, committed and reserved memory
// and the largest free and reserved blocks. It shows why a large allocation can fail
// while enough memory seems free: the free space is cut into pieces.
#ifndef VARURUROR_MEM_MEMORY_SCAN_H
#define VARURUROR_MEM_MEMORY_SCAN_H

#include "varururor/frame/export.h"

// Based on int, so that any value a caller passes is a valid level.
enum MEM_SCAN_LEVEL_ENM : int {
  MEM_SCAN_ALL_REGIONS = 0,   // every region, then the summary in three lines
  MEM_SCAN_FREE_REGIONS = 1,  // the free regions, then the summary one value a line
  MEM_SCAN_SUMMARY_ONLY = 2   // (and any other value) the summary one value a line
};

// Scans the addresses from 0 up to limit (exclusive). A limit of 0x7FFFFFFF or more (the
// end of a 32-bit Windows process's space) scans the whole user address space.
VR_API void mem_ScanMemory(MEM_SCAN_LEVEL_ENM level, unsigned int limit);

// For Fortran callers: every region of the user address space.
VR_FORTRAN void MEM_SCANMEMORY_IFC();

#endif
