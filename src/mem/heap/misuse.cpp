#include "mem/heap/misuse.h"

#include <cstddef>

#include "mem/misuse_line.h"
#include "plat/virtual_memory.h"

namespace mem::heap {

namespace {

char const* FindingText(Finding finding) {
  switch (finding) {
    case Finding::kNotABlock:
      return "not a block of the library heap";
    case Finding::kMappingGone:
      return "not a block of the library heap (a block with its own mapping, freed already?)";
    case Finding::kNotLive:
      return "not a live block (freed already, never handed out, or its head overwritten)";
    case Finding::kTagsOverwritten:
      return "boundary tags overwritten (a write past the end of a block or before its start)";
  }
  return "";
}

}  // namespace

void HeapMisused(char const* operation, void const* address, Finding finding) {
  StopOnMisuse(operation, address, FindingText(finding));
}

void HeapCorrupted() {
  StopOnMisuse(nullptr, nullptr,
               "library heap damaged: a free block's links or size are overwritten "
               "(a write through a freed pointer, or past the end of a block)");
}

bool IsReadableBlockStart(HeapState const& m, void const* mem) {
  char const* address = static_cast<char const*>(mem);
  for (Segment const* s = &m.seg; s != nullptr; s = s->next) {
    if (address >= s->base && address < s->base + s->size) return true;
  }
  // Outside every segment: a block with its own mapping, or nothing at all.
  plat::MemoryBasicInformation info;
  return plat::VirtualQuery(mem, &info) != 0 && info.state == plat::kMemCommit;
}

}  // namespace mem::heap
