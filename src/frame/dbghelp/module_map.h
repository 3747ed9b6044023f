// The process's modules and readable memory, read from the address map without locks or
// allocation, so that a crashing process can use it: the loader's list and the heap may
// be held by a thread that will never let go.
#ifndef VARURUROR_FRAME_DBGHELP_MODULE_MAP_H
#define VARURUROR_FRAME_DBGHELP_MODULE_MAP_H

#include <cstddef>

namespace dbghelp {

struct Module {
  unsigned base;              // the first mapping of the file
  unsigned end;               // the end of its last consecutive mapping
  unsigned eh_frame_header;   // the unwind tables' index, 0 when the module has none
  bool executable;            // some mapping holds code: the loader placed it
  char path[256];
};

// Re-reads the address map. False when it cannot be read.
bool RefreshModuleMap();

// The module whose mappings hold address, or null; the module map is re-read once when
// no known module holds it (it may have been loaded since).
Module const* ModuleAt(unsigned address);

std::size_t ModuleCount();
Module const* ModuleByIndex(std::size_t index);

// True when size bytes from address lie in readable memory as last read from the map
// (device and kernel-data mappings, which can fault on reading, do not count).
bool IsReadable(unsigned address, unsigned size);

}  // namespace dbghelp

#endif
