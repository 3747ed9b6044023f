// libFuzzer drives the encoding converter: the input's first byte picks a locale, the
// rest (up to its first NUL) is a text. Every validator and every conversion runs on it,
// each conversion measured first and then written into a block of exactly the measured
// size, so that the address sanitizer sees any byte written or read beyond. The results
// must agree with each other; anything wrong aborts.
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "varururor/atr/encoding.h"

namespace {

// Locales with every kind of encoding: ASCII, UTF-8, one byte, and multi-byte.
constexpr char const* kLocales[] = {"C", "C.UTF-8", "fr_FR.ISO-8859-1", "ja_JP.EUC-JP"};
constexpr int kLocaleCount = sizeof kLocales / sizeof kLocales[0];
constexpr int kEncodings[] = {
    atr_EncodingNone, atr_EncodingLocale, atr_EncodingUtf8, atr_EncodingLatin1, 4, -1};
constexpr char kReplacements[] = {0, '?'};

void Expect(bool condition, char const* what) {
  if (condition) return;
  std::fprintf(stderr, "utf8_fuzz: %s\n", what);
  std::abort();
}

// Converts with a measuring call and then into a block of exactly that size.
std::vector<unsigned char> ToEncoding(int enc, unsigned char const* text, char repl, int* result) {
  int measured = atr_utf8_to_encoding(enc, nullptr, text, repl);
  *result = measured;
  if (measured < 0) return {};
  std::vector<unsigned char> out(measured + 1);
  Expect(atr_utf8_to_encoding(enc, out.data(), text, repl) == measured, "measure and write differ");
  Expect(out[measured] == 0, "no terminator");
  return out;
}

std::vector<unsigned char> FromEncoding(int enc, unsigned char const* text, int* result) {
  int measured = atr_utf8_from_encoding(nullptr, enc, text);
  *result = measured;
  if (measured < 0) return {};
  std::vector<unsigned char> out(measured + 1);
  Expect(atr_utf8_from_encoding(out.data(), enc, text) == measured, "measure and write differ");
  Expect(out[measured] == 0, "no terminator");
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  if (size == 0) return 0;
  std::setlocale(LC_ALL, kLocales[data[0] % kLocaleCount]);
  // The text in a block of its own size, terminated at the input's first NUL.
  std::vector<unsigned char> text(data + 1, data + size);
  text.push_back(0);
  unsigned char const* s = text.data();

  bool utf8 = atr_encoding_validate(atr_EncodingUtf8, s);
  for (int enc : kEncodings) {
    atr_encoding_validate(enc, s);
    for (char repl : kReplacements) {
      int result;
      ToEncoding(enc, s, repl, &result);
      // With a replacement only invalid input fails, whatever the target.
      if (repl != 0) Expect((result == atr_EncodingInvalidInput) == !utf8, "validity disagrees");
    }
    int result;
    FromEncoding(enc, s, &result);
  }

  // Latin-1 reads any byte: to UTF-8 and back gives the text again.
  int result;
  std::vector<unsigned char> from_latin1 = FromEncoding(atr_EncodingLatin1, s, &result);
  Expect(result >= 0, "Latin-1 refused");
  Expect(atr_encoding_validate(atr_EncodingUtf8, from_latin1.data()), "made invalid UTF-8");
  std::vector<unsigned char> back = ToEncoding(atr_EncodingLatin1, from_latin1.data(), 0, &result);
  Expect(result >= 0 && std::strcmp(reinterpret_cast<char const*>(back.data()),
                                    reinterpret_cast<char const*>(s)) == 0,
         "Latin-1 round trip");

  // Valid UTF-8 decodes character by character to code points that encode to the same
  // bytes (overlong forms aside, which the decoder accepts).
  for (unsigned char const* p = s; utf8 && *p != 0;) {
    int length;
    unsigned int c = atr_utf8_to_ucs4(p, &length);
    Expect(c != 0xFFFFFFFFu && length >= 1, "valid text did not decode");
    unsigned char bytes[6];
    int n = atr_utf8_from_ucs4(bytes, c);
    Expect(n == atr_utf8_len(c) && n <= length, "encoded length");
    p += length;
  }
  return 0;
}
