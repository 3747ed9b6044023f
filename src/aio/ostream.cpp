#include "varururor/aio/ostream.h"

#include <cstdint>
#include <cstdio>

#include "varururor/aio/istream.h"

namespace {

// Where the width goes in a format: nowhere, "*" or "-*" (the width is then the first
// argument).
enum WidthPart { kNoWidth, kRight, kLeft };
enum Base { kOctal, kHexadecimal, kDecimal };
enum Notation { kScientific, kFixed, kGeneral };

WidthPart WidthPartOf(unsigned int flags, int width) {
  if (width == 0) return kNoWidth;
  bool left = (flags & aio_ios::left) != 0 && (flags & aio_ios::right) == 0;
  return left ? kLeft : kRight;
}

Base BaseOf(unsigned int flags) {
  switch (flags & aio_ios::basefield) {
    case aio_ios::oct:
      return kOctal;
    case aio_ios::hex:
      return kHexadecimal;
    default:
      return kDecimal;
  }
}

Notation NotationOf(unsigned int flags) {
  switch (flags & aio_ios::floatfield) {
    case aio_ios::scientific:
      return kScientific;
    case aio_ios::fixed:
      return kFixed;
    default:
      return kGeneral;
  }
}

// The formats, by width part and conversion, chosen by table rather than built per call.
char const* const kIntFormats[][3] = {
    {"%o", "%x", "%d"}, {"%*o", "%*x", "%*d"}, {"%-*o", "%-*x", "%-*d"}};
char const* const kUnsignedFormats[][3] = {
    {"%o", "%x", "%u"}, {"%*o", "%*x", "%*u"}, {"%-*o", "%-*x", "%-*u"}};
char const* const kInt64Formats[][3] = {
    {"%llo", "%llx", "%lld"}, {"%*llo", "%*llx", "%*lld"}, {"%-*llo", "%-*llx", "%-*lld"}};
char const* const kUnsigned64Formats[][3] = {
    {"%llo", "%llx", "%llu"}, {"%*llo", "%*llx", "%*llu"}, {"%-*llo", "%-*llx", "%-*llu"}};
// By "#" (point shown at precision 0), width part and notation.
char const* const kDoubleFormats[][3][3] = {
    {{"%.*e", "%.*f", "%.*g"}, {"%*.*e", "%*.*f", "%*.*g"}, {"%-*.*e", "%-*.*f", "%-*.*g"}},
    {{"%#.*e", "%#.*f", "%#.*g"},
     {"%#*.*e", "%#*.*f", "%#*.*g"},
     {"%#-*.*e", "%#-*.*f", "%#-*.*g"}}};
char const* const kStringFormats[] = {"%s", "%*s", "%-*s"};
char const* const kCharFormats[] = {"%c", "%*c", "%-*c"};
char const* const kAddressFormats[] = {"%#x", "%#*x", "%#-*x"};

constexpr int kCopyChunk = 16384;

// fprintf of the arguments, with the width in front when the format has a width part.
template <typename... T>
int Print(FILE* f, char const* format, WidthPart part, int width, T... values) {
  if (part == kNoWidth) return std::fprintf(f, format, values...);
  return std::fprintf(f, format, width, values...);
}

}  // namespace

aio_ostream& aio_ostream::print(char const* s) {
  if (fptr() == nullptr) {
    setstate(failbit);
    return *this;
  }
  if (s == nullptr) s = "";
  WidthPart part = WidthPartOf(flags(), width());
  if (part == kNoWidth) {
    if (std::fputs(s, fptr()) == EOF) output_failed();
    return *this;
  }
  output_done(Print(fptr(), kStringFormats[part], part, width(), s), true);
  return *this;
}

aio_ostream& aio_ostream::print_address(void const* p) {
  if (fptr() == nullptr) {
    setstate(failbit);
    return *this;
  }
  unsigned int address = static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(p));
  WidthPart part = WidthPartOf(flags(), width());
  output_done(Print(fptr(), kAddressFormats[part], part, width(), address), part != kNoWidth);
  return *this;
}

aio_ostream& aio_ostream::print_int(int v) {
  if (fptr() == nullptr) {
    setstate(failbit);
    return *this;
  }
  WidthPart part = WidthPartOf(flags(), width());
  char const* format = kIntFormats[part][BaseOf(flags())];
  output_done(Print(fptr(), format, part, width(), v), part != kNoWidth);
  return *this;
}

aio_ostream& aio_ostream::print_u_int(unsigned int v) {
  if (fptr() == nullptr) {
    setstate(failbit);
    return *this;
  }
  WidthPart part = WidthPartOf(flags(), width());
  char const* format = kUnsignedFormats[part][BaseOf(flags())];
  output_done(Print(fptr(), format, part, width(), v), part != kNoWidth);
  return *this;
}

aio_ostream& aio_ostream::print_int64(long long v) {
  if (fptr() == nullptr) {
    setstate(failbit);
    return *this;
  }
  WidthPart part = WidthPartOf(flags(), width());
  char const* format = kInt64Formats[part][BaseOf(flags())];
  output_done(Print(fptr(), format, part, width(), v), part != kNoWidth);
  return *this;
}

aio_ostream& aio_ostream::print_u_int64(unsigned long long v) {
  if (fptr() == nullptr) {
    setstate(failbit);
    return *this;
  }
  WidthPart part = WidthPartOf(flags(), width());
  char const* format = kUnsigned64Formats[part][BaseOf(flags())];
  output_done(Print(fptr(), format, part, width(), v), part != kNoWidth);
  return *this;
}

aio_ostream& aio_ostream::print_double(double v) {
  if (fptr() == nullptr) {
    setstate(failbit);
    return *this;
  }
  bool show_point = (flags() & showpoint) != 0 && precision() == 0;
  WidthPart part = WidthPartOf(flags(), width());
  char const* format = kDoubleFormats[show_point][part][NotationOf(flags())];
  output_done(Print(fptr(), format, part, width(), precision(), v), part != kNoWidth);
  return *this;
}

aio_ostream& aio_ostream::put(char c) {
  if (fptr() == nullptr) {
    setstate(failbit);
    return *this;
  }
  WidthPart part = c == '\n' ? kNoWidth : WidthPartOf(flags(), width());
  if (part == kNoWidth) {
    if (std::fputc(static_cast<unsigned char>(c), fptr()) == EOF) output_failed();
    return *this;
  }
  output_done(Print(fptr(), kCharFormats[part], part, width(), c), true);
  return *this;
}

aio_ostream& aio_ostream::write(char const* buf, int n) {
  if (fptr() == nullptr || n < 0 || (buf == nullptr && n > 0)) {
    setstate(failbit);
    return *this;
  }
  if (n > 0 && static_cast<int>(std::fwrite(buf, 1, n, fptr())) < n) output_failed();
  return *this;
}

aio_ostream& aio_ostream::flush() {
  if (fptr() == nullptr) {
    setstate(failbit);
    return *this;
  }
  if (std::fflush(fptr()) == EOF) output_failed();
  return *this;
}

aio_ostream& aio_ostream::adopt(int fd) {
  FILE* f = fdopen(fd, "wb");
  attach(f, f != nullptr);
  if (f == nullptr) setstate(failbit);
  return *this;
}

aio_ostream& aio_ostream::copy(aio_istream& in) {
  if (fptr() == nullptr) {
    setstate(failbit);
    return *this;
  }
  char buf[kCopyChunk];
  while (in.rdstate() == goodbit) {
    int count = in.read(buf, kCopyChunk);
    // A failed write stops the copy, so that what it could not take stays unread.
    if (count > 0 && static_cast<int>(std::fwrite(buf, 1, count, fptr())) < count) {
      output_failed();
      break;
    }
  }
  return flush();
}

aio_ostream& operator<<(aio_ostream& s, char const* text) { return s.print(text); }
