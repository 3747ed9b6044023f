// Wrapping text into lines for display.
#include <cctype>
#include <cstring>
#include <cwchar>

#include "varururor/atr/locale.h"
#include "varururor/atr/string.h"

namespace {

// mblen(p, 4) is how far one character reaches.
constexpr int kCharacterWindow = 4;
constexpr char kLineFeed = '\n';

// Whitespace is an ASCII byte for which isspace holds; bytes from 0x80 never are.
bool IsBreakSpace(char c) {
  unsigned char b = static_cast<unsigned char>(c);
  return b < 0x80 && std::isspace(b);
}

// The bytes of the character at p, never past the end; a result below 2 is one byte.
int CharacterLength(char const* p, int remaining) {
  std::mbstate_t state{};
  std::size_t window = remaining < kCharacterWindow ? remaining : kCharacterWindow;
  std::size_t n = std::mbrlen(p, window, &state);
  if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2) || n < 2) return 1;
  return static_cast<int>(n);
}

// The characters that internationalisation test mode adds to texts; not counted
// towards the width. Empty outside test mode.
struct ExtraCharacters {
  ExtraCharacters() : text(""), length(0) {
    if (!atr_i18nTesting()) return;
    text = atr_i18nExtraCharacters();
    length = static_cast<int>(std::strlen(text));
  }
  bool At(char const* p, int remaining) const {
    return length > 0 && remaining >= length && std::memcmp(p, text, length) == 0;
  }

  char const* text;
  int length;
};

// The bytes from pos over any whitespace and the following word, stopping before the
// whitespace behind it. The extra characters' bytes are also added to *extra.
int NextWord(char const* text, int length, int pos, ExtraCharacters const& extras, int* extra) {
  int p = pos;
  while (p < length && !extras.At(text + p, length - p) &&
         CharacterLength(text + p, length - p) == 1 && IsBreakSpace(text[p])) {
    ++p;
  }
  while (p < length) {
    if (extras.At(text + p, length - p)) {
      p += extras.length;
      *extra += extras.length;
      continue;
    }
    int n = CharacterLength(text + p, length - p);
    if (n == 1 && IsBreakSpace(text[p])) break;
    p += n;
  }
  return p - pos;
}

}  // namespace

atr_String atr_String::BreakLineString(atr_String const& text, unsigned int width) {
  int length = static_cast<int>(text.Length());
  if (text.Length() <= width) return text;
  // A width of 0 would never end a line.
  if (width == 0) width = 1;
  char const* s = text.CStr();
  ExtraCharacters extras;
  atr_String result;
  // The wrapped text is never longer than the input: each line break takes the place of
  // the whitespace byte it skips. One block for all of it keeps the appends linear.
  result.isolate(length);
  int pos = 0;
  while (pos < length) {
    int take = 0;
    int extra = 0;
    while (pos + take < length && static_cast<unsigned int>(take - extra) < width) {
      take += NextWord(s, length, pos + take, extras, &extra);
    }
    if (!result.Empty()) result.append(&kLineFeed, 1, 0, 1);
    result.append(s, length, pos, take);
    pos += take;
    if (pos < length && IsBreakSpace(s[pos])) {
      bool closing_line_feed = s[pos] == kLineFeed && pos == length - 1;
      ++pos;
      if (closing_line_feed) result.append(&kLineFeed, 1, 0, 1);
    }
  }
  return result;
}

atr_String atr_String::AddLineBreaks(atr_String const& text, unsigned int width,
                                     bool onlyUnbroken) {
  unsigned int length = text.Length();
  if (length == 0 || length <= width) return text;
  char const* s = text.CStr();
  atr_String result;
  // Each line wraps to at most its own length: one block for all of them.
  result.isolate(static_cast<int>(length));
  unsigned int start = 0;
  while (start < length) {
    char const* feed = static_cast<char const*>(std::memchr(s + start, kLineFeed, length - start));
    if (feed != nullptr && onlyUnbroken) return text;
    unsigned int end = feed != nullptr ? static_cast<unsigned int>(feed - s) + 1 : length;
    result.Append(BreakLineString(atr_String(s + start, end - start), width));
    start = end;
  }
  return result;
}
