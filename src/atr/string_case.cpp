// Case changes of single-byte characters under the current locale; multi-byte
// characters are stepped over whole and never changed.
#include <cctype>
#include <cwchar>

#include "varururor/atr/string_base.h"

namespace {

// The longest character the walk asks about at once.
constexpr std::size_t kLongestCharacter = 4;
constexpr char kCaseDistance = 0x20;

// Bytes of the character at p; a byte that starts no valid character counts as one.
// The text is NUL-terminated, so the look never passes its end.
int CharacterBytes(char const* p, std::mbstate_t* state) {
  std::size_t bytes = std::mbrlen(p, kLongestCharacter, state);
  if (bytes == static_cast<std::size_t>(-1) || bytes == static_cast<std::size_t>(-2)) {
    *state = std::mbstate_t();
    return 1;
  }
  return bytes == 0 ? 1 : static_cast<int>(bytes);
}

using CaseTest = int (*)(int);

// Offset of the first single-byte character that passes test, or -1.
int FirstSingleByte(char const* text, int length, CaseTest test) {
  std::mbstate_t state = std::mbstate_t();
  for (int i = 0; i < length;) {
    int bytes = CharacterBytes(text + i, &state);
    if (bytes == 1 && test(static_cast<unsigned char>(text[i]))) return i;
    i += bytes;
  }
  return -1;
}

// Shifts every single-byte character from start on that passes test by delta.
void ShiftFrom(char* text, int length, int start, CaseTest test, int delta) {
  std::mbstate_t state = std::mbstate_t();
  for (int i = start; i < length;) {
    int bytes = CharacterBytes(text + i, &state);
    if (bytes == 1 && test(static_cast<unsigned char>(text[i]))) {
      text[i] = static_cast<char>(text[i] + delta);
    }
    i += bytes;
  }
}

bool FirstIsSingleByte(char const* text) {
  std::mbstate_t state = std::mbstate_t();
  return CharacterBytes(text, &state) == 1;
}

}  // namespace

atr_StringBase& atr_StringBase::ToLower() {
  int length = Length();
  int first = FirstSingleByte(CStr(), length, std::isupper);
  // Nothing to change: the text stays shared.
  if (first < 0) return *this;
  isolate(length);
  ShiftFrom(text_, length, first, std::isupper, kCaseDistance);
  return *this;
}

atr_StringBase& atr_StringBase::ToUpper() {
  int length = Length();
  int first = FirstSingleByte(CStr(), length, std::islower);
  if (first < 0) return *this;
  isolate(length);
  ShiftFrom(text_, length, first, std::islower, -kCaseDistance);
  return *this;
}

atr_StringBase& atr_StringBase::Capitalize() {
  if (Empty()) return *this;
  char const* text = CStr();
  if (!FirstIsSingleByte(text) || !std::islower(static_cast<unsigned char>(text[0]))) {
    return *this;
  }
  isolate(Length());
  text_[0] = static_cast<char>(text_[0] - kCaseDistance);
  return *this;
}

atr_StringBase& atr_StringBase::Uncapitalize() {
  if (Empty()) return *this;
  char const* text = CStr();
  if (!FirstIsSingleByte(text) || !std::isupper(static_cast<unsigned char>(text[0]))) {
    return *this;
  }
  isolate(Length());
  text_[0] = static_cast<char>(text_[0] + kCaseDistance);
  return *this;
}
