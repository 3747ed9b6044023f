#include "mem/tbpool/misuse.h"

#include "mem/misuse_line.h"

namespace mem::thread_block {

namespace {

char const* Finding(Misuse found) {
  switch (found) {
    case Misuse::kInterior:
      return "not the start of a small block";
    case Misuse::kEmptyPage:
      return "small block freed twice (its page has no block in use)";
    case Misuse::kFirstFreeSlot:
      return "small block freed twice (it is the last block freed on its page)";
    case Misuse::kNone:
      break;
  }
  return "small block misused";
}

}  // namespace

void StopOnMisuse(char const* entry, void const* p, Misuse found) {
  mem::StopOnMisuse(entry, p, Finding(found));
}

}  // namespace mem::thread_block
