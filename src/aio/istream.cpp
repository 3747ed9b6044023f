#include "varururor/aio/istream.h"

#include <cstdio>
#include <cstring>

namespace {

enum Base { kOctal, kHexadecimal, kDecimal };

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

char const* const kIntFormats[] = {"%o", "%x", "%d"};
char const* const kUnsignedFormats[] = {"%o", "%x", "%u"};
char const* const kInt64Formats[] = {"%llo", "%llx", "%lld"};
char const* const kUnsigned64Formats[] = {"%llo", "%llx", "%llu"};

// getline's buffer is filled with this before fgets; anything but NUL serves.
constexpr char kFill = '\n';
constexpr int kByteMask = 0xFF;

// A conversion assigned nothing: a matching failure (0) or end of input (EOF).
bool NothingRead(int result) { return result == 0 || result == EOF; }

}  // namespace

aio_istream& aio_istream::scan_string(char* buf) {
  if (fptr() == nullptr || buf == nullptr) {
    setstate(failbit);
    return *this;
  }
  if (std::fscanf(fptr(), "%s", buf) == EOF) {
    input_failed();
    buf[0] = '\0';
  }
  return *this;
}

char aio_istream::scan_char() {
  if (fptr() == nullptr) {
    setstate(failbit);
    return 0;
  }
  char c = 0;
  if (std::fscanf(fptr(), "%c", &c) == EOF) {
    input_failed();
    return 0;
  }
  return c;
}

int aio_istream::scan_int() {
  if (fptr() == nullptr) {
    setstate(failbit);
    return 0;
  }
  Base base = BaseOf(flags());
  int result;
  int value = 0;
  if (base == kDecimal) {
    result = std::fscanf(fptr(), kIntFormats[base], &value);
  } else {
    unsigned int bits = 0;
    result = std::fscanf(fptr(), kIntFormats[base], &bits);
    value = static_cast<int>(bits);
  }
  if (NothingRead(result)) {
    input_failed();
    return 0;
  }
  return value;
}

unsigned int aio_istream::scan_u_int() {
  if (fptr() == nullptr) {
    setstate(failbit);
    return 0;
  }
  unsigned int value = 0;
  if (NothingRead(std::fscanf(fptr(), kUnsignedFormats[BaseOf(flags())], &value))) {
    input_failed();
    return 0;
  }
  return value;
}

long long aio_istream::scan_int64() {
  if (fptr() == nullptr) {
    setstate(failbit);
    return 0;
  }
  Base base = BaseOf(flags());
  int result;
  long long value = 0;
  if (base == kDecimal) {
    result = std::fscanf(fptr(), kInt64Formats[base], &value);
  } else {
    unsigned long long bits = 0;
    result = std::fscanf(fptr(), kInt64Formats[base], &bits);
    value = static_cast<long long>(bits);
  }
  if (NothingRead(result)) {
    input_failed();
    return 0;
  }
  return value;
}

unsigned long long aio_istream::scan_u_int64() {
  if (fptr() == nullptr) {
    setstate(failbit);
    return 0;
  }
  unsigned long long value = 0;
  if (NothingRead(std::fscanf(fptr(), kUnsigned64Formats[BaseOf(flags())], &value))) {
    input_failed();
    return 0;
  }
  return value;
}

double aio_istream::scan_double() {
  if (fptr() == nullptr) {
    setstate(failbit);
    return 0;
  }
  double value = 0;
  if (NothingRead(std::fscanf(fptr(), "%lg", &value))) {
    input_failed();
    return 0;
  }
  return value;
}

float aio_istream::scan_float() {
  if (fptr() == nullptr) {
    setstate(failbit);
    return 0;
  }
  float value = 0;
  if (NothingRead(std::fscanf(fptr(), "%e", &value))) {
    input_failed();
    return 0;
  }
  return value;
}

aio_istream& aio_istream::getline(char* buf, int n) {
  if (fptr() == nullptr || buf == nullptr || n < 1) {
    setstate(failbit);
    return *this;
  }
  // At the end of the file the buffer stays as it was.
  int first = std::getc(fptr());
  if (first == EOF) {
    input_failed();
    return *this;
  }
  std::ungetc(first, fptr());
  // The buffer is filled first, so that the terminator fgets writes is its last NUL: the
  // length read is then known even when the line holds NUL bytes, and nothing depends on
  // what the caller's buffer held before.
  std::memset(buf, kFill, static_cast<unsigned int>(n));
  if (std::fgets(buf, n, fptr()) == nullptr) {
    input_failed();
    return *this;
  }
  int length = n - 1;
  while (buf[length] != '\0') --length;
  if (length > 0 && buf[length - 1] == '\n') {
    buf[length - 1] = '\0';
    return *this;
  }
  // A line of exactly n - 1 bytes fills the buffer: its line feed is still to be read.
  if (length > 0 && length == n - 1) {
    int next = std::getc(fptr());
    if (next == '\n') return *this;
    if (next != EOF) std::ungetc(next, fptr());
  }
  // The last line without a line feed, or a line longer than n - 1 bytes: the reading ends.
  setstate(failbit | eofbit);
  return *this;
}

int aio_istream::get() {
  if (fptr() == nullptr) {
    setstate(failbit);
    return -1;
  }
  int c = std::fgetc(fptr());
  if (c == EOF) {
    input_failed();
    return -1;
  }
  return c;
}

int aio_istream::peek() {
  if (fptr() == nullptr) {
    setstate(failbit);
    return -1;
  }
  int c = std::getc(fptr());
  if (c == EOF) {
    input_failed();
    return -1;
  }
  std::ungetc(c, fptr());
  return c;
}

aio_istream& aio_istream::putback(char c) {
  if (fptr() == nullptr || std::ungetc(static_cast<unsigned char>(c), fptr()) == EOF) {
    setstate(failbit);
  }
  return *this;
}

int aio_istream::read(char* buf, int n) {
  if (fptr() == nullptr || buf == nullptr || n < 0) {
    setstate(failbit);
    return 0;
  }
  int count = static_cast<int>(std::fread(buf, 1, n, fptr()));
  if (count < n) {
    buf[count] = '\0';
    input_failed();
  }
  return count;
}

aio_istream& aio_istream::ignore(int n, int delim) {
  if (fptr() == nullptr) {
    setstate(failbit);
    return *this;
  }
  for (int i = 0; i < n; ++i) {
    int c = std::fgetc(fptr());
    if (c == EOF) {
      if (std::ferror(fptr())) {
        input_failed();
      } else {
        setstate(eofbit);
      }
      break;
    }
    // The delimiter is a byte: a char argument from 0x80 up arrives sign-extended.
    if (c == (delim & kByteMask)) break;
  }
  return *this;
}

aio_istream& aio_istream::adopt(int fd) {
  FILE* f = fdopen(fd, "r");
  attach(f, f != nullptr);
  if (f == nullptr) setstate(failbit);
  return *this;
}
