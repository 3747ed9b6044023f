#include "varururor/atr/encoding.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "plat/locale.h"

namespace {

constexpr unsigned int kInvalidCodePoint = 0xFFFFFFFFu;
// Six bytes carry 1 + 5 * 6 = 31 bits.
constexpr unsigned int kLargestCodePoint = 0x7FFFFFFFu;
constexpr unsigned char kContinuationFirst = 0x80;
constexpr unsigned char kContinuationLast = 0xBF;
constexpr unsigned int kContinuationBits = 6;
constexpr unsigned int kContinuationMask = 0x3F;
// Lead-byte marks and payload masks by sequence length (index 2..6).
constexpr unsigned char kLeadMark[] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07, 0x03, 0x01};
// ISO 8859-1 has no characters at 0x7F..0x9F (DEL and the C1 controls).
constexpr unsigned char kLatin1GapFirst = 0x7F;
constexpr unsigned char kLatin1GapLast = 0x9F;
constexpr unsigned int kLatin1Last = 0xFF;

bool IsContinuation(unsigned char b) { return b >= kContinuationFirst && b <= kContinuationLast; }

// The bytes of p that the C library may look at for one character: at most MB_CUR_MAX, and
// never past the terminator.
std::size_t LocaleWindow(unsigned char const* p) {
  std::size_t limit = MB_CUR_MAX;
  std::size_t n = 0;
  while (n < limit && p[n] != 0) ++n;
  return n;
}

bool LocaleFailed(std::size_t result) {
  return result == static_cast<std::size_t>(-1) || result == static_cast<std::size_t>(-2);
}

// One encoding: a validator of whole texts, a decoder of one character and an encoder of
// one code point. The shift states serve stateful locale encodings for one conversion.
struct Codec {
  bool (*validate)(unsigned char const* s);
  // False on failure; otherwise the code point and the bytes consumed.
  bool (*decode)(unsigned char const* p, unsigned int* c, int* used, std::mbstate_t* state);
  // The bytes written (or, with out null, needed); 0 when c has no form here.
  int (*encode)(unsigned char* out, unsigned int c, std::mbstate_t* state);
};

bool ValidateNone(unsigned char const*) { return false; }
bool DecodeNone(unsigned char const*, unsigned int*, int*, std::mbstate_t*) { return false; }
int EncodeNone(unsigned char*, unsigned int, std::mbstate_t*) { return 0; }

bool ValidateLocale(unsigned char const* s) {
  std::mbstate_t state{};
  while (*s != 0) {
    std::size_t n = std::mbrlen(reinterpret_cast<char const*>(s), LocaleWindow(s), &state);
    if (LocaleFailed(n) || n == 0) return false;
    s += n;
  }
  return true;
}

// The platform's wide character is 32 bits wide: characters beyond U+FFFF pass through a
// locale that has them, none is truncated to 16 bits.
bool DecodeLocale(unsigned char const* p, unsigned int* c, int* used, std::mbstate_t* state) {
  wchar_t wc;
  std::size_t n = std::mbrtowc(&wc, reinterpret_cast<char const*>(p), LocaleWindow(p), state);
  if (LocaleFailed(n) || n == 0) return false;
  *c = static_cast<unsigned int>(wc);
  *used = static_cast<int>(n);
  return true;
}

int EncodeLocale(unsigned char* out, unsigned int c, std::mbstate_t* state) {
  if (c > kLargestCodePoint) return 0;
  char bytes[MB_LEN_MAX];
  std::size_t n = std::wcrtomb(bytes, static_cast<wchar_t>(c), state);
  if (n == static_cast<std::size_t>(-1)) return 0;
  if (out != nullptr) std::memcpy(out, bytes, n);
  return static_cast<int>(n);
}

// The locale's own UTF-8 is the six-byte form without surrogates: the same bytes as
// ours, made without a call into the C library per character.
int EncodeLocaleUtf8(unsigned char* out, unsigned int c, std::mbstate_t*) {
  constexpr unsigned int kSurrogateFirst = 0xD800;
  constexpr unsigned int kSurrogateLast = 0xDFFF;
  if (c > kLargestCodePoint || (c >= kSurrogateFirst && c <= kSurrogateLast)) return 0;
  return atr_utf8_from_ucs4(out, c);
}

// Character sets that keep ASCII as it is (and have no shift states): ASCII characters
// are copied, everything else asks the C library.
int EncodeLocaleKeepingAscii(unsigned char* out, unsigned int c, std::mbstate_t* state) {
  if (c >= 0x80) return EncodeLocale(out, c, state);
  if (out != nullptr) *out = static_cast<unsigned char>(c);
  return 1;
}

bool HasPrefix(char const* s, char const* prefix) {
  return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

constexpr char kUtf8Codeset[] = "UTF-8";
constexpr char kAsciiCodeset[] = "ANSI_X3.4-1968";
constexpr char kIsoCodesetPrefix[] = "ISO-8859-";
constexpr char kEucCodesetPrefix[] = "EUC-";

// The locale encoder fitting the current character set.
auto LocaleEncoder() -> int (*)(unsigned char*, unsigned int, std::mbstate_t*) {
  char const* codeset = plat::CurrentCodeset();
  if (std::strcmp(codeset, kUtf8Codeset) == 0) return EncodeLocaleUtf8;
  if (std::strcmp(codeset, kAsciiCodeset) == 0 || HasPrefix(codeset, kIsoCodesetPrefix) ||
      HasPrefix(codeset, kEucCodesetPrefix)) {
    return EncodeLocaleKeepingAscii;
  }
  return EncodeLocale;
}

bool ValidateUtf8(unsigned char const* s) {
  while (*s != 0) {
    int n = atr_utf8_len(s);
    if (n == 0) return false;
    for (int i = 1; i < n; ++i) {
      if (!IsContinuation(s[i])) return false;
    }
    s += n;
  }
  return true;
}

bool DecodeUtf8(unsigned char const* p, unsigned int* c, int* used, std::mbstate_t*) {
  *c = atr_utf8_to_ucs4(p, used);
  return *c != kInvalidCodePoint;
}

int EncodeUtf8(unsigned char* out, unsigned int c, std::mbstate_t*) {
  if (c > kLargestCodePoint) return 0;
  if (out == nullptr) return atr_utf8_len(c);
  return atr_utf8_from_ucs4(out, c);
}

bool ValidateLatin1(unsigned char const* s) {
  for (; *s != 0; ++s) {
    if (*s >= kLatin1GapFirst && *s <= kLatin1GapLast) return false;
  }
  return true;
}

bool DecodeLatin1(unsigned char const* p, unsigned int* c, int* used, std::mbstate_t*) {
  *c = *p;
  *used = 1;
  return true;
}

int EncodeLatin1(unsigned char* out, unsigned int c, std::mbstate_t*) {
  if (c > kLatin1Last) return 0;
  if (out != nullptr) *out = static_cast<unsigned char>(c);
  return 1;
}

constexpr Codec kCodecs[] = {
    {ValidateNone, DecodeNone, EncodeNone},
    {ValidateLocale, DecodeLocale, EncodeLocale},
    {ValidateUtf8, DecodeUtf8, EncodeUtf8},
    {ValidateLatin1, DecodeLatin1, EncodeLatin1},
};
constexpr int kCodecCount = sizeof kCodecs / sizeof kCodecs[0];

Codec CodecOf(int enc) {
  Codec codec = kCodecs[enc >= 0 && enc < kCodecCount ? enc : 0];
  if (enc == atr_EncodingLocale) codec.encode = LocaleEncoder();
  return codec;
}

int Convert(Codec const& from, Codec const& to, unsigned char* out, unsigned char const* in,
            char repl) {
  if (in == nullptr) return atr_EncodingInvalidInput;
  std::mbstate_t in_state{};
  std::mbstate_t out_state{};
  int count = 0;
  while (*in != 0) {
    unsigned int c;
    int used;
    if (!from.decode(in, &c, &used, &in_state)) return atr_EncodingInvalidInput;
    in += used;
    int n = to.encode(out == nullptr ? nullptr : out + count, c, &out_state);
    if (n == 0) {
      if (repl == 0) return atr_EncodingNotRepresentable;
      if (out != nullptr) out[count] = static_cast<unsigned char>(repl);
      n = 1;
    }
    count += n;
  }
  if (out != nullptr) out[count] = 0;
  return count;
}

}  // namespace

int atr_utf8_len(unsigned char const* p) {
  if (p == nullptr) return 0;
  unsigned char b = *p;
  if (b < 0x80) return 1;
  if (b < 0xC0) return 0;
  if (b < 0xE0) return 2;
  if (b < 0xF0) return 3;
  if (b < 0xF8) return 4;
  if (b < 0xFC) return 5;
  if (b < 0xFE) return 6;
  return 0;
}

int atr_utf8_len(unsigned int c) {
  if (c < 0x80) return 1;
  if (c < 0x800) return 2;
  if (c < 0x10000) return 3;
  if (c < 0x200000) return 4;
  if (c < 0x4000000) return 5;
  return 6;
}

unsigned int atr_utf8_to_ucs4(unsigned char const* p, int* len) {
  int n = atr_utf8_len(p);
  if (len != nullptr) *len = n;
  if (n == 0) return kInvalidCodePoint;
  unsigned int c = p[0] & kLeadMask[n];
  // Stops at the first byte that does not continue the sequence, so a terminator inside
  // it ends the reading there.
  for (int i = 1; i < n; ++i) {
    if (!IsContinuation(p[i])) return kInvalidCodePoint;
    c = (c << kContinuationBits) | (p[i] & kContinuationMask);
  }
  return c;
}

int atr_utf8_from_ucs4(unsigned char* out, unsigned int c) {
  if (c > kLargestCodePoint) return 0;
  int n = atr_utf8_len(c);
  // Without a buffer there is only the length to tell.
  if (out == nullptr) return n;
  if (n == 1) {
    out[0] = static_cast<unsigned char>(c);
    return 1;
  }
  for (int i = n - 1; i > 0; --i) {
    out[i] = static_cast<unsigned char>(kContinuationFirst | (c & kContinuationMask));
    c >>= kContinuationBits;
  }
  out[0] = static_cast<unsigned char>(kLeadMark[n] | c);
  return n;
}

bool atr_encoding_validate(int enc, unsigned char const* s) {
  if (s == nullptr) return false;
  return kCodecs[enc >= 0 && enc < kCodecCount ? enc : 0].validate(s);
}

bool atr_encoding_validate(int enc, char const* s) {
  return atr_encoding_validate(enc, reinterpret_cast<unsigned char const*>(s));
}

int atr_utf8_to_encoding(int enc, unsigned char* out, unsigned char const* in, char repl) {
  return Convert(CodecOf(atr_EncodingUtf8), CodecOf(enc), out, in, repl);
}

int atr_utf8_to_encoding(int enc, char* out, char const* in, char repl) {
  return atr_utf8_to_encoding(enc, reinterpret_cast<unsigned char*>(out),
                              reinterpret_cast<unsigned char const*>(in), repl);
}

int atr_utf8_from_encoding(unsigned char* out, int enc, unsigned char const* in) {
  return Convert(CodecOf(enc), CodecOf(atr_EncodingUtf8), out, in, 0);
}
