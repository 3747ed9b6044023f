#include "varururor/atr/format.h"

#include <cstring>

#include "varururor/mem/allocation.h"
#include "varururor/mem/operators.h"

namespace {

// The C library's 64-bit length modifier: "ll" is what the runtime's "I64" prints here.
constexpr char kInt64Modifier[] = "ll";
constexpr char kShortModifier[] = "h";
// "%", the longest modifier, the letter and the terminator.
constexpr unsigned int kNoWidthBytes = 1 + sizeof kInt64Modifier - 1 + 1 + 1;

char const* ModifierFor(atr_Fmt::DataSize size) {
  switch (size) {
    case atr_Fmt::kShort:
    case atr_Fmt::kChar:
      return kShortModifier;
    case atr_Fmt::kInt64:
      return kInt64Modifier;
    case atr_Fmt::kAsWritten:
      break;
  }
  return "";
}

// The result buffer, sized for the whole format with the longest modifier inserted (the
// modifier is longer than the one spare byte that the C runtime's own would need).
char* Buffer(char*& buffer, char const* format) {
  if (buffer == nullptr) {
    unsigned int length = format == nullptr ? 0 : std::strlen(format);
    unsigned int bytes = length + sizeof kInt64Modifier;
    if (bytes < kNoWidthBytes) bytes = kNoWidthBytes;
    buffer = static_cast<char*>(mem_OperatorNewThrowBuiltin(bytes));
  }
  return buffer;
}

}  // namespace

atr_Fmt::atr_Fmt(char const* format) : format_(format), letter_(0), buffer_(nullptr) {}

atr_Fmt::~atr_Fmt() { mem_Free(buffer_); }

bool atr_Fmt::Ok() const { return format_ != nullptr; }

char atr_Fmt::Letter() {
  if (letter_ == 0 && format_ != nullptr && format_[0] != 0) {
    letter_ = format_[std::strlen(format_) - 1];
  }
  return letter_;
}

char const* atr_Fmt::Format(DataSize size, char letter) {
  char* out = Buffer(buffer_, format_);
  unsigned int length = format_ == nullptr ? 0 : std::strlen(format_);
  if (length == 0) {
    out[0] = 0;
    return out;
  }
  char last = letter != 0 ? letter : format_[length - 1];
  char const* modifier = ModifierFor(size);
  unsigned int modifier_length = std::strlen(modifier);
  std::memcpy(out, format_, length - 1);
  std::memcpy(out + length - 1, modifier, modifier_length);
  out[length - 1 + modifier_length] = last;
  out[length + modifier_length] = 0;
  return out;
}

char const* atr_Fmt::FormatNoWidth(DataSize size, char letter) {
  char* out = Buffer(buffer_, format_);
  char const* modifier = ModifierFor(size);
  unsigned int modifier_length = std::strlen(modifier);
  out[0] = '%';
  std::memcpy(out + 1, modifier, modifier_length);
  out[1 + modifier_length] = letter != 0 ? letter : Letter();
  out[2 + modifier_length] = 0;
  return out;
}
