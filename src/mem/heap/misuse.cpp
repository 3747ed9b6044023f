#include "mem/heap/misuse.h"

#include <cstddef>
#include <cstdlib>

#include "plat/standard_error.h"
#include "plat/virtual_memory.h"

namespace mem::heap {

namespace {

constexpr char kPrefix[] = "VaruRuror: ";
constexpr std::size_t kLineCapacity = 256;
constexpr unsigned kHexDigitsPerWord = 2 * sizeof(std::uintptr_t);

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

// A line of fixed capacity, filled without the C library's formatting.
class Line {
 public:
  void Append(char const* text) {
    while (*text != '\0' && length_ < kLineCapacity) text_[length_++] = *text++;
  }
  void AppendAddress(void const* address) {
    constexpr char kDigits[] = "0123456789abcdef";
    std::uintptr_t value = reinterpret_cast<std::uintptr_t>(address);
    char hex[2 + kHexDigitsPerWord + 1] = "0x";
    for (unsigned i = 0; i < kHexDigitsPerWord; ++i) {
      hex[2 + i] = kDigits[(value >> (4 * (kHexDigitsPerWord - 1 - i))) & 0xF];
    }
    hex[2 + kHexDigitsPerWord] = '\0';
    Append(hex);
  }
  void Write() {
    if (length_ == kLineCapacity) --length_;
    text_[length_++] = '\n';
    plat::WriteStandardError(text_, length_);
  }

 private:
  char text_[kLineCapacity];
  std::size_t length_ = 0;
};

}  // namespace

void HeapMisused(char const* operation, void const* address, Finding finding) {
  Line line;
  line.Append(kPrefix);
  line.Append(operation);
  line.Append("(");
  line.AppendAddress(address);
  line.Append("): ");
  line.Append(FindingText(finding));
  line.Write();
  std::abort();
}

void HeapCorrupted() {
  Line line;
  line.Append(kPrefix);
  line.Append(
      "library heap damaged: a free block's links or size are overwritten "
      "(a write through a freed pointer, or past the end of a block)");
  line.Write();
  std::abort();
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
