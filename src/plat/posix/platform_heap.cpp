// The C library's heap describes itself in its statistics report: per arena and in
// total, the address space it holds ("aspace total") and the part of it that is
// accessible ("aspace mprotect"), plus the chunks it mapped on their own.
#include "plat/platform_heap.h"

#include <malloc.h>
#include <stdio.h>

#include <cstring>

namespace plat {
namespace {

// The totals come last in the report; the buffer holds the report's tail only.
constexpr std::size_t kReportBufferSize = 64 * 1024;

// The value of size="N" in the last element that starts with tag.
bool LastSizeOf(char const* report, char const* tag, std::size_t* value) {
  char const* found = nullptr;
  for (char const* at = std::strstr(report, tag); at != nullptr; at = std::strstr(at + 1, tag)) {
    found = at;
  }
  if (found == nullptr) return false;
  char const* size = std::strstr(found, "size=\"");
  if (size == nullptr) return false;
  std::size_t number = 0;
  for (size += 6; *size >= '0' && *size <= '9'; ++size)
    number = number * 10 + static_cast<std::size_t>(*size - '0');
  *value = number;
  return true;
}

}  // namespace

bool WalkPlatformHeap(PlatformHeapTotals* totals) {
  *totals = PlatformHeapTotals{};
  struct mallinfo2 info = mallinfo2();
  totals->in_use = info.uordblks + info.hblkhd;
  totals->free = info.fordblks;

  static char report[kReportBufferSize];
  std::memset(report, 0, sizeof report);
  FILE* stream = fmemopen(report, sizeof report - 1, "w");
  if (stream == nullptr) return false;
  int status = malloc_info(0, stream);
  fclose(stream);
  if (status != 0) return false;
  std::size_t address_space = 0;
  std::size_t accessible = 0;
  std::size_t mapped_chunks = 0;
  if (!LastSizeOf(report, "<aspace type=\"total\"", &address_space) ||
      !LastSizeOf(report, "<aspace type=\"mprotect\"", &accessible) ||
      !LastSizeOf(report, "<total type=\"mmap\"", &mapped_chunks)) {
    return false;
  }
  totals->committed = accessible + mapped_chunks;
  totals->reserved = address_space > accessible ? address_space - accessible : 0;
  return true;
}

}  // namespace plat
