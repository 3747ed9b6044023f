#include "atr/number_text.h"

#include <cstdio>
#include <cstring>

namespace atr {
namespace {

// Texts shorter than "1e+5" cannot carry an exponent.
constexpr std::size_t kShortestWithExponent = 4;
constexpr std::size_t kExponentDigits = 3;

}  // namespace

NumberText::NumberText(int v) { std::snprintf(text_, sizeof text_, "%d", v); }

NumberText::NumberText(unsigned int v) { std::snprintf(text_, sizeof text_, "%u", v); }

NumberText::NumberText(float v) {
  std::snprintf(text_, sizeof text_, "%g", static_cast<double>(v));
  DropExponentZero(text_);
}

NumberText::NumberText(double v) {
  std::snprintf(text_, sizeof text_, "%.15g", v);
  DropExponentZero(text_);
}

void DropExponentZero(char* text) {
  std::size_t length = std::strlen(text);
  if (length < kShortestWithExponent) return;
  char* e = std::strchr(text, 'e');
  if (e == nullptr || (e[1] != '+' && e[1] != '-')) return;
  char* digits = e + 2;
  if (std::strlen(digits) != kExponentDigits || digits[0] != '0') return;
  for (std::size_t i = 0; i < kExponentDigits; ++i) {
    if (digits[i] < '0' || digits[i] > '9') return;
  }
  std::memmove(digits, digits + 1, kExponentDigits);  // the last two digits and the NUL
}

}  // namespace atr
