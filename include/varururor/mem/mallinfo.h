// A summary of the process heap: what it holds from the system and how it is used.
#ifndef VARURUROR_MEM_MALLINFO_H
#define VARURUROR_MEM_MALLINFO_H

#include "varururor/frame/export.h"

class VR_API mem_Mallinfo {
 public:
  // Fills the counts. Under the library heap only the committed total is known (its
  // footprint); under the platform heap all four come from a walk of its entries.
  mem_Mallinfo();

  unsigned int committed;
  unsigned int in_use;
  unsigned int free;
  unsigned int reserved;
};
static_assert(sizeof(mem_Mallinfo) == 16, "four 32-bit counts");

#endif
