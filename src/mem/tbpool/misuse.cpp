#include "mem/tbpool/misuse.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "plat/standard_error.h"

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
  constexpr char kPrefix[] = "VaruRuror: ";
  constexpr int kHexDigits = 2 * sizeof(std::uintptr_t);
  char line[160];
  std::size_t length = 0;
  auto append = [&](char const* text) {
    std::size_t bytes = std::strlen(text);
    if (bytes > sizeof line - 1 - length) bytes = sizeof line - 1 - length;
    std::memcpy(line + length, text, bytes);
    length += bytes;
  };
  append(kPrefix);
  append(entry);
  char address[kHexDigits + 4] = "(0x";
  auto value = reinterpret_cast<std::uintptr_t>(p);
  for (int digit = 0; digit < kHexDigits; ++digit) {
    address[3 + digit] = "0123456789abcdef"[(value >> (4 * (kHexDigits - 1 - digit))) & 0xF];
  }
  address[3 + kHexDigits] = '\0';
  append(address);
  append("): ");
  append(Finding(found));
  append("\n");
  plat::WriteStandardError(line, length);
  std::abort();
}

}  // namespace mem::thread_block
