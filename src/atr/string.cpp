#include "varururor/atr/string.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// "%<n>$d" for n up to INT_MAX: the digits plus "%$d" and the terminator.
constexpr int kPlaceholderBytes = 16;

// The placeholder that "%%%d$<letter>" makes of n, or "%<letter>" when n is 0.
struct Placeholder {
  Placeholder(int n, char letter) {
    if (n == 0) {
      std::snprintf(text, sizeof text, "%%%c", letter);
    } else {
      std::snprintf(text, sizeof text, "%%%d$%c", n, letter);
    }
  }
  char text[kPlaceholderBytes];
};

char const* OrEmpty(char const* s) { return s == nullptr ? "" : s; }

}  // namespace

atr_String::atr_String(int v) : atr_StringBase(v) {}

atr_String::atr_String(char const* s) : atr_StringBase(s) {}

atr_String::atr_String(char const* s, unsigned int n) : atr_StringBase(s, static_cast<int>(n)) {}

char const* atr_String::text() const { return atr_StringBase::CStr(); }

char const* atr_String::CStr() const { return atr_StringBase::CStr(); }

atr_String atr_String::Substr(unsigned int pos, unsigned int n) const {
  unsigned int length = Length();
  // A position past the end would wrap the unsigned count: nothing is there to take.
  if (pos >= length) return atr_String();
  unsigned int count = n < length - pos ? n : length - pos;
  return atr_String(CStr() + pos, count);
}

namespace {

// The bounds of field n of text split at sep; false when there is no such field or
// it is empty.
bool FindField(char const* text, int length, int n, char sep, char const** begin,
               char const** end) {
  char const* stop = text + length;
  char const* p = text;
  for (int skipped = 0; skipped < n; ++skipped) {
    char const* next = static_cast<char const*>(std::memchr(p, sep, stop - p));
    if (next == nullptr) return false;
    p = next + 1;
  }
  if (p == stop) return false;
  char const* next = static_cast<char const*>(std::memchr(p, sep, stop - p));
  *begin = p;
  *end = next == nullptr ? stop : next;
  return *end > *begin;
}

}  // namespace

atr_String atr_String::extract(int n, char sep) const {
  char const* begin;
  char const* end;
  if (!FindField(CStr(), atr_StringBase::Length(), n, sep, &begin, &end)) return atr_String();
  return atr_String(begin, static_cast<unsigned int>(end - begin));
}

atr_String atr_String::extract(int n, char sep, char esc) const {
  char const* begin;
  char const* end;
  if (!FindField(CStr(), atr_StringBase::Length(), n, sep, &begin, &end)) return atr_String();
  int kept = 0;
  for (char const* p = begin; p < end; ++p) {
    if (*p != esc) {
      ++kept;
    } else if (p + 1 < end && p[1] == esc) {
      ++kept;
      ++p;
    }
  }
  atr_String field;
  if (kept == 0) return field;
  field.isolate(kept);
  char* out = &field[0];
  for (char const* p = begin; p < end; ++p) {
    if (*p != esc) {
      *out++ = *p;
    } else if (p + 1 < end && p[1] == esc) {
      *out++ = esc;
      ++p;
    }
  }
  *out = '\0';
  field.SetStringLength(kept);
  return field;
}

atr_String& atr_String::Append(atr_String const& s) {
  append(s.CStr(), s.atr_StringBase::Length(), 0, INT_MAX);
  return *this;
}

atr_String operator+(atr_String a, atr_String const& b) {
  a.Append(b);
  return a;
}

atr_String& atr_String::ReplaceNonTranslated(int n, int v) {
  return ReplaceNonTranslated(Placeholder(n, 'd').text, atr_String(v));
}

atr_String& atr_String::ReplaceNonTranslated(int n, atr_StringBase const& s) {
  return ReplaceNonTranslated(Placeholder(n, 's').text, s);
}

atr_String& atr_String::ReplaceNonTranslated(int n, char const* s) {
  return ReplaceNonTranslated(Placeholder(n, 's').text, s);
}

atr_String& atr_String::ReplaceNonTranslated(char const* pattern, atr_StringBase const& s) {
  Substitute(atr_String(OrEmpty(pattern)), s, 1);
  return *this;
}

atr_String& atr_String::ReplaceNonTranslated(char const* pattern, char const* s) {
  return ReplaceNonTranslated(pattern, atr_String(OrEmpty(s)));
}
