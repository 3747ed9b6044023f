// UTF-8 primitives and a converter between four encodings. Message texts and
// dictionaries are UTF-8; the program shows text in the current locale's multi-byte
// encoding. Every routine works on NUL-terminated bytes, allocates nothing and prints
// nothing. UTF-8 is the early six-byte form (code points up to 0x7FFFFFFF); overlong forms
// and surrogates are accepted.
//
// The locale entries read the C library's process-wide LC_CTYPE: converting while another
// thread changes the locale is not supported. Everything else is reentrant.
#ifndef VARURUROR_ATR_ENCODING_H
#define VARURUROR_ATR_ENCODING_H

#include "varururor/frame/export.h"

// The encoding identifiers the functions below take as int. Any other number means none.
enum atr_Encoding {
  atr_EncodingNone = 0,
  atr_EncodingLocale = 1,  // the current locale's multi-byte encoding
  atr_EncodingUtf8 = 2,
  atr_EncodingLatin1 = 3,  // ISO 8859-1
};

// The conversion results that are not byte counts.
enum atr_EncodingError {
  atr_EncodingInvalidInput = -1,     // the input is not valid in its encoding
  atr_EncodingNotRepresentable = -2  // a character has no form in the target encoding
};

// Length of the sequence a lead byte starts: 1 to 6, or 0 when *p is no lead byte.
VR_API int atr_utf8_len(unsigned char const* p);
// Bytes needed to encode code point c: 1 to 6.
VR_API int atr_utf8_len(unsigned int c);
// Decodes one character. *len (when len is not null) receives the lead byte's length,
// 0 for a byte that leads nothing. 0xFFFFFFFF for an invalid lead or following byte.
VR_API unsigned int atr_utf8_to_ucs4(unsigned char const* p, int* len);
// Writes the 1 to 6 bytes of c (no terminator) and returns their number (with out null
// only the number); 0 and nothing written for c above 0x7FFFFFFF, which six bytes cannot
// hold.
VR_API int atr_utf8_from_ucs4(unsigned char* out, unsigned int c);

// Whether the whole text is valid in encoding enc. "" is valid except for encoding 0;
// a null text is never valid.
VR_API bool atr_encoding_validate(int enc, unsigned char const* s);
VR_API bool atr_encoding_validate(int enc, char const* s);

// Converts UTF-8 in to encoding enc. A character enc cannot represent becomes repl, or
// fails the conversion with -2 when repl is 0. Returns the bytes written without the
// terminator, which is written too; -1 for invalid input. With out null only measures:
// callers measure, allocate the result + 1 bytes and convert again. A null in is invalid
// input. After a failure out may hold a partial, unterminated conversion.
VR_API int atr_utf8_to_encoding(int enc, unsigned char* out, unsigned char const* in, char repl);
VR_API int atr_utf8_to_encoding(int enc, char* out, char const* in, char repl);
// Converts in from encoding enc to UTF-8, with the same results and no replacement.
VR_API int atr_utf8_from_encoding(unsigned char* out, int enc, unsigned char const* in);

#endif
