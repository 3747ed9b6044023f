// Formatting typed values for message placeholders. The printf format is chosen by the
// placeholder's conversion letter: floating letters (E e f g), integer letters (X c o u x),
// 'd', and 's'.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "varururor/atr/format.h"
#include "varururor/atr/string.h"
#include "varururor/atr/string_base_prv.h"
#include "varururor/atr/translate.h"
#include "varururor/mem/allocation.h"
#include "varururor/mem/operators.h"

namespace {

// Most numbers fit here; a longer one (a precision of hundreds of digits) gets a block of
// its own, so that the value is never cut.
constexpr int kNumberBytes = 1024;
// Widths and precisions of a dictionary entry are clamped here, as text widths are: a
// garbled "%2147483647d" costs no more than its output and still shows the value.
constexpr int kMaxField = 1023;
constexpr char kMaxFieldText[] = "1023";
constexpr int kMaxFieldDigits = sizeof kMaxFieldText - 1;

enum class LetterKind { kFloating, kInteger, kSigned, kString };

LetterKind KindOf(char letter) {
  switch (letter) {
    case 'E':
    case 'e':
    case 'f':
    case 'g':
      return LetterKind::kFloating;
    case 'd':
      return LetterKind::kSigned;
    case 's':
      return LetterKind::kString;
    default:
      return LetterKind::kInteger;
  }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Whether the digits [begin, end), leading zeros aside, make a number above kMaxField.
bool TooWide(char const* begin, char const* end) {
  while (begin < end && *begin == '0') ++begin;
  int digits = static_cast<int>(end - begin);
  if (digits != kMaxFieldDigits) return digits > kMaxFieldDigits;
  int value = 0;
  for (; begin < end; ++begin) value = value * 10 + (*begin - '0');
  return value > kMaxField;
}

// A stored format with every width and precision above kMaxField written as kMaxField
// (leading zeros, the zero flag, kept). Borrows the format when nothing needs clamping.
class ClampedFormat {
 public:
  explicit ClampedFormat(char const* format) : text_(format), copy_(nullptr) {
    if (format == nullptr || !NeedsClamping(format)) return;
    // A clamped run is never longer than the run it replaces.
    copy_ = static_cast<char*>(mem_OperatorNewThrowBuiltin(std::strlen(format) + 1));
    char* out = copy_;
    for (char const* p = format; *p != 0;) {
      if (!IsDigit(*p)) {
        *out++ = *p++;
        continue;
      }
      char const* run = p;
      while (IsDigit(*p)) ++p;
      if (!TooWide(run, p)) {
        std::memcpy(out, run, p - run);
        out += p - run;
        continue;
      }
      while (*run == '0') *out++ = *run++;
      std::memcpy(out, kMaxFieldText, kMaxFieldDigits);
      out += kMaxFieldDigits;
    }
    *out = 0;
    text_ = copy_;
  }
  ~ClampedFormat() { mem_Free(copy_); }
  ClampedFormat(ClampedFormat const&) = delete;
  ClampedFormat& operator=(ClampedFormat const&) = delete;

  char const* text() const { return text_; }

 private:
  static bool NeedsClamping(char const* format) {
    for (char const* p = format; *p != 0;) {
      if (!IsDigit(*p)) {
        ++p;
        continue;
      }
      char const* run = p;
      while (IsDigit(*p)) ++p;
      if (TooWide(run, p)) return true;
    }
    return false;
  }

  char const* text_;
  char* copy_;
};

// The text of one formatted value: a buffer on the stack, or a block when it is longer.
class NumberText {
 public:
  NumberText() : block_(nullptr) { buffer_[0] = 0; }
  ~NumberText() { mem_Free(block_); }
  NumberText(NumberText const&) = delete;
  NumberText& operator=(NumberText const&) = delete;

  char const* text() const { return block_ != nullptr ? block_ : buffer_; }
  char* buffer() { return block_ != nullptr ? block_ : buffer_; }

  // printf with a format chosen at run time. The formats come from the placeholder
  // parser, which keeps no length characters of its own, and carry the modifier of the
  // value's type. A format the C library refuses (a wide character it cannot show) gives "".
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
  template <typename T>
  void Print(char const* format, T value) {
    int n = std::snprintf(buffer_, kNumberBytes, format, value);
    if (n >= kNumberBytes) {
      block_ = static_cast<char*>(mem_OperatorNewThrowBuiltin(static_cast<unsigned int>(n) + 1));
      n = std::snprintf(block_, static_cast<unsigned int>(n) + 1, format, value);
    }
    if (n < 0) buffer()[0] = 0;
  }
#pragma GCC diagnostic pop

 private:
  char buffer_[kNumberBytes];
  char* block_;
};

void Substitute(atr_translate& t, int n, char const* text) { t.AddSubstitution(n, text, nullptr); }

// Integers of 32 and 64 bits; a floating placeholder prints them as doubles without
// width. The double goes without the 64-bit modifier: this C library reads "llf" as a
// long double. A character placeholder prints one character, from any integer alike.
template <typename T>
void SubstituteInteger(atr_translate& t, int n, T value, bool is_unsigned) {
  constexpr bool kWide = sizeof(T) == 8;
  constexpr atr_Fmt::DataSize kSize = kWide ? atr_Fmt::kInt64 : atr_Fmt::kAsWritten;
  ClampedFormat stored(t.Format(n));
  atr_Fmt fmt(stored.text());
  if (!fmt.Ok()) return;
  NumberText number;
  switch (KindOf(fmt.Letter())) {
    case LetterKind::kFloating:
      number.Print(fmt.FormatNoWidth(atr_Fmt::kAsWritten, 0), static_cast<double>(value));
      break;
    case LetterKind::kSigned:
      number.Print(fmt.Format(kSize, is_unsigned ? 'u' : 0), value);
      break;
    case LetterKind::kString:
      if constexpr (kWide) {
        number.Print(fmt.FormatNoWidth(kSize, is_unsigned ? 'u' : 'd'), value);
      } else {
        number.Print(is_unsigned ? "%u" : "%d", value);
      }
      break;
    case LetterKind::kInteger:
      if (fmt.Letter() == 'c') {
        number.Print(fmt.Format(atr_Fmt::kAsWritten, 0), static_cast<int>(value));
      } else {
        number.Print(fmt.Format(kSize, 0), value);
      }
      break;
  }
  Substitute(t, n, number.text());
}

void SubstituteText(atr_translate& t, int n, char const* value) {
  atr_Fmt fmt(t.Format(n));
  if (!fmt.Ok()) return;
  if (value == nullptr) value = "";
  // A text placeholder's width and precision apply; any other letter takes the text as is.
  if (fmt.Letter() == 's') {
    t.AddSubstitution(n, value, fmt.Format(atr_Fmt::kAsWritten, 0));
  } else {
    t.AddSubstitution(n, value, nullptr);
  }
}

}  // namespace

void atr_SubstituteFormat(atr_translate& t, int n, int value) {
  SubstituteInteger(t, n, value, false);
}

void atr_SubstituteFormat(atr_translate& t, int n, unsigned int value) {
  SubstituteInteger(t, n, value, true);
}

void atr_SubstituteFormat(atr_translate& t, int n, long long value) {
  SubstituteInteger(t, n, value, false);
}

void atr_SubstituteFormat(atr_translate& t, int n, unsigned long long value) {
  SubstituteInteger(t, n, value, true);
}

void atr_SubstituteFormat(atr_translate& t, int n, double value) {
  ClampedFormat stored(t.Format(n));
  atr_Fmt fmt(stored.text());
  if (!fmt.Ok()) return;
  NumberText number;
  if (KindOf(fmt.Letter()) == LetterKind::kFloating) {
    number.Print(fmt.Format(atr_Fmt::kAsWritten, 0), value);
    atr_translate::FixExponent(number.buffer());
  } else {
    number.Print("%e", value);
  }
  Substitute(t, n, number.text());
}

void atr_SubstituteFormat(atr_translate& t, int n, float value) {
  atr_SubstituteFormat(t, n, static_cast<double>(value));
}

void atr_SubstituteFormat(atr_translate& t, int n, char const* value) {
  SubstituteText(t, n, value);
}

void atr_SubstituteFormat(atr_translate& t, int n, atr_StringBase const& value) {
  // The handle's text is reached through a public string that shares it.
  atr_String shared;
  atr_StringBasePrv(value).AssignTo(shared);
  SubstituteText(t, n, shared.CStr());
}

void atr_SubstituteFormat(atr_translate& t, int n, void const* value) {
  atr_SubstituteFormat(t, n, static_cast<unsigned int>(reinterpret_cast<unsigned long>(value)));
}

void ForwardVoidPBySize<4>::Format(atr_translate& t, int n, void const* value) {
  atr_SubstituteFormat(t, n, value);
}
