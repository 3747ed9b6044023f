#include "mem/misuse_line.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "plat/standard_error.h"

namespace mem {

namespace {

constexpr char kPrefix[] = "VaruRuror: ";
constexpr std::size_t kLineCapacity = 256;
constexpr unsigned kHexDigitsPerWord = 2 * sizeof(std::uintptr_t);

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

void StopOnMisuse(char const* operation, void const* address, char const* finding) {
  Line line;
  line.Append(kPrefix);
  if (operation != nullptr) {
    line.Append(operation);
    line.Append("(");
    line.AppendAddress(address);
    line.Append("): ");
  }
  line.Append(finding);
  line.Write();
  std::abort();
}

}  // namespace mem
