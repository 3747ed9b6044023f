#include "varururor/frame/jrt_double.h"

#include <cstdio>
#include <cstring>

#include "frame/jrt_double_text.h"
#include "varururor/aio/ostream.h"

namespace {

// Wide enough for any double at any sensible precision; a larger field is cut to fit.
constexpr int kBufferSize = 512;
constexpr std::size_t kShortestTextWithExponent = 4;
char g_jrt_buffer[kBufferSize];

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Position of the "0" in "e+0dd"/"e-0dd" (exactly three exponent digits), or -1.
int LeadingExponentZero(char const* text, std::size_t length) {
  char const* e = std::strchr(text, 'e');
  if (e == nullptr) return -1;
  std::size_t at = static_cast<std::size_t>(e - text);
  if (at + 5 > length) return -1;
  if (e[1] != '+' && e[1] != '-') return -1;
  if (e[2] != '0' || !IsDigit(e[3]) || !IsDigit(e[4]) || IsDigit(e[5])) return -1;
  return static_cast<int>(at + 2);
}

}  // namespace

namespace frame {

void ShortenExponent(char* text, bool keep_width) {
  std::size_t length = std::strlen(text);
  if (length < kShortestTextWithExponent) return;
  int zero = LeadingExponentZero(text, length);
  if (zero < 0) return;
  std::memmove(text + zero, text + zero + 1, length - zero);
  if (keep_width) {
    std::memmove(text + 1, text, length);  // the shortened text and its terminator
    text[0] = ' ';
  }
}

}  // namespace frame

aio_ostream& operator<<(aio_ostream& stream, omn_JRTdouble const& number) {
  int produced;
  if (number.width == omn_JRTdouble::kDefaultWidth &&
      number.precision == omn_JRTdouble::kDefaultPrecision) {
    produced = std::snprintf(g_jrt_buffer, kBufferSize, "%lg", number.value);
  } else {
    produced = std::snprintf(g_jrt_buffer, kBufferSize, "%*.*lg", number.width, number.precision,
                             number.value);
  }
  if (produced <= 0) return stream;
  frame::ShortenExponent(g_jrt_buffer, number.width != 0);
  return stream.print(g_jrt_buffer);
}
