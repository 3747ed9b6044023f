// Formatting typed values for message placeholders. The printf format is chosen by the
// placeholder's conversion letter: floating letters (E e f g), integer letters (X c o u x),
// 'd', and 's'.
#include <cstdarg>
#include <cstdio>

#include "varururor/atr/format.h"
#include "varururor/atr/string.h"
#include "varururor/atr/string_base_prv.h"
#include "varururor/atr/translate.h"

namespace {

// A formatted number is at most 1023 bytes; a wider field is cut.
constexpr int kNumberBytes = 1024;

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

// A format the C library refuses (a wide character it cannot show) gives "".
__attribute__((format(printf, 2, 3))) void Print(char* buffer, char const* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int n = std::vsnprintf(buffer, kNumberBytes, format, arguments);
  va_end(arguments);
  if (n < 0) buffer[0] = 0;
}

// printf with a format chosen at run time. The formats come from the placeholder parser,
// which keeps no length characters of its own, and carry the modifier of the value's type.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
template <typename T>
void PrintAs(char* buffer, char const* format, T value) {
  int n = std::snprintf(buffer, kNumberBytes, format, value);
  if (n < 0) buffer[0] = 0;
}
#pragma GCC diagnostic pop

void Substitute(atr_translate& t, int n, char const* text) { t.AddSubstitution(n, text, nullptr); }

// Integers of 32 and 64 bits; a floating placeholder prints them as doubles without
// width. The double goes without the 64-bit modifier: this C library reads "llf" as a
// long double.
template <typename T>
void SubstituteInteger(atr_translate& t, int n, T value, bool is_unsigned) {
  constexpr bool kWide = sizeof(T) == 8;
  constexpr atr_Fmt::DataSize kSize = kWide ? atr_Fmt::kInt64 : atr_Fmt::kAsWritten;
  atr_Fmt fmt(t.Format(n));
  if (!fmt.Ok()) return;
  char buffer[kNumberBytes];
  switch (KindOf(fmt.Letter())) {
    case LetterKind::kFloating:
      PrintAs(buffer, fmt.FormatNoWidth(atr_Fmt::kAsWritten, 0), static_cast<double>(value));
      break;
    case LetterKind::kSigned:
      PrintAs(buffer, fmt.Format(kSize, is_unsigned ? 'u' : 0), value);
      break;
    case LetterKind::kString:
      if constexpr (kWide) {
        PrintAs(buffer, fmt.FormatNoWidth(kSize, is_unsigned ? 'u' : 'd'), value);
      } else {
        Print(buffer, is_unsigned ? "%u" : "%d", value);
      }
      break;
    case LetterKind::kInteger:
      PrintAs(buffer, fmt.Format(kSize, 0), value);
      break;
  }
  Substitute(t, n, buffer);
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
  atr_Fmt fmt(t.Format(n));
  if (!fmt.Ok()) return;
  char buffer[kNumberBytes];
  if (KindOf(fmt.Letter()) == LetterKind::kFloating) {
    PrintAs(buffer, fmt.Format(atr_Fmt::kAsWritten, 0), value);
    atr_translate::FixExponent(buffer);
  } else {
    Print(buffer, "%e", value);
  }
  Substitute(t, n, buffer);
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
