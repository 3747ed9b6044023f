// A string class of the tests' own with every operation public, as client modules derive
// theirs from atr_StringBase, and a look at the handle and its representation header.
#ifndef VARURUROR_TESTS_ATR_STRING_PROBE_H
#define VARURUROR_TESTS_ATR_STRING_PROBE_H

#include <cstring>

#include "varururor/atr/string_base.h"

class TestString : public atr_StringBase {
 public:
  using atr_StringBase::kAdopt;
  using atr_StringBase::kBorrow;
  using atr_StringBase::kPreSize;

  TestString() = default;
  TestString(char const* s, int len, Borrow tag) : atr_StringBase(s, len, tag) {}
  TestString(char* s, int len, Adopt tag) : atr_StringBase(s, len, tag) {}
  TestString(int n, PreSizeEnm tag) : atr_StringBase(n, tag) {}
  TestString(char const* s, int len) : atr_StringBase(s, len) {}
  explicit TestString(char const* s) : atr_StringBase(s) {}
  explicit TestString(int v) : atr_StringBase(v) {}
  explicit TestString(unsigned int v) : atr_StringBase(v) {}
  explicit TestString(float v) : atr_StringBase(v) {}
  explicit TestString(double v) : atr_StringBase(v) {}

  TestString& operator=(char const* s) {
    atr_StringBase::operator=(s);
    return *this;
  }

  using atr_StringBase::append;
  using atr_StringBase::Capitalize;
  using atr_StringBase::CStr;
  using atr_StringBase::Empty;
  using atr_StringBase::Erase;
  using atr_StringBase::Find;
  using atr_StringBase::insert;
  using atr_StringBase::isolate;
  using atr_StringBase::LeftTrim;
  using atr_StringBase::Length;
  using atr_StringBase::operator[];
  using atr_StringBase::replace;
  using atr_StringBase::Replace;
  using atr_StringBase::Reverse;
  using atr_StringBase::rfind;
  using atr_StringBase::RightTrim;
  using atr_StringBase::SetStringLength;
  using atr_StringBase::Substitute;
  using atr_StringBase::Substr;
  using atr_StringBase::ToLower;
  using atr_StringBase::ToUpper;
  using atr_StringBase::Trim;
  using atr_StringBase::Uncapitalize;
};

// The handle's two words and the representation's three fields.
struct Probe {
  char const* text;
  void const* rep;
  int references;
  int capacity;
  int length;
};

inline Probe ProbeOf(atr_StringBase const& s) {
  static_assert(sizeof(atr_StringBase) == 2 * sizeof(void*), "two words");
  void* words[2];
  std::memcpy(words, &s, sizeof words);
  Probe probe{static_cast<char const*>(words[0]), words[1], 0, 0, 0};
  if (probe.rep != nullptr) {
    int fields[3];
    std::memcpy(fields, probe.rep, sizeof fields);
    probe.references = fields[0];
    probe.capacity = fields[1];
    probe.length = fields[2];
  }
  return probe;
}

// The capacity the sizing rule gives a request for n bytes of text.
inline int SizedCapacity(int n) {
  int k = (n + 17) >> 5;
  return k <= 7 ? 32 * k + 20 : n + 1;
}

#endif
