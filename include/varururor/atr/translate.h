// Message translation. Every user-visible message is written in English (UTF-8) and
// passed through here: atr_translate looks it up in the translation dictionary, parses
// the printf-like placeholders of the text it found, takes a value for each placeholder
// by its number, and yields the finished atr_String. Placeholders are numbered ("%2$d"),
// so that a translation may reorder them:
//
//   atr_translate t("Value %1$s of %2$d");
//   atr_SubstituteFormat(t, 1, name);
//   atr_SubstituteFormat(t, 2, count);
//   atr_String text = t.Result();
//
// A message not in the dictionary is shown as written, cut before "\@" (a suffix that
// tells apart keys of equal English text) and converted to the locale's encoding.
// Placeholder grammar: "%%" is a percent sign; "%", an optional position and "$", a run
// of 0-9 l . -, and one of E X c d e f g o s u x is a placeholder; any other "%"
// sequence is dropped up to the character that spoils it, and a final "%" is dropped.
// Translation holds no lock and reads the dictionary only in the constructor.
#ifndef VARURUROR_ATR_TRANSLATE_H
#define VARURUROR_ATR_TRANSLATE_H

#include "varururor/atr/string.h"
#include "varururor/atr/string_base.h"
#include "varururor/frame/export.h"

class VR_API atr_translate {
 public:
  // One placeholder of the text used.
  struct VR_API StrArgs {
    StrArgs();
    ~StrArgs();

    int position;  // its number, from 1
    char* format;  // "%", flags, width, precision and letter; owned
    char* value;   // the substituted text, owned; null until one arrives
  };

  // Looks message up and parses the placeholders of the text found; message is not
  // copied and must outlive the object. Null yields "".
  explicit atr_translate(char const* message);
  ~atr_translate();

  // The stored format of the n-th placeholder in position order; null outside 1..count.
  char const* Format(int n) const;
  // Stores value as the text of the n-th placeholder in position order, justified by a
  // string format ("%-8.3s") when one is given; ignored outside 1..count. Null reads as "".
  void AddSubstitution(int n, char const* value, char const* format);
  // The text with every placeholder replaced by its value; one without a value vanishes.
  atr_String Result() const;

  // Drops the leading zero of a three-digit exponent after the first 'e' in s, in place:
  // "1.5e+007" becomes "1.5e+07".
  static void FixExponent(char* s);

 private:
  atr_translate(atr_translate const&) = delete;
  atr_translate& operator=(atr_translate const&) = delete;

  // Order of two elements of the order array: the difference of their positions.
  static int compare(void const* a, void const* b);
  // Called for a substitution into a placeholder that is not there; does nothing.
  void ReportIllegalPosition(int n) const;

  char const* message_;
  int count_;
  StrArgs* arguments_;  // in text order
  StrArgs** order_;     // the arguments by ascending position
  // The literal pieces of the text, each terminated: piece i, the slot of arguments_[i],
  // piece i + 1, ... There are count + 1 of them.
  char* template_;
};
static_assert(sizeof(atr_translate) == 20, "message, count, arguments, order, template");
static_assert(sizeof(atr_translate::StrArgs) == 12, "position, format, value");

// The translation of a message without placeholders: the text found, with no "%"
// processing. Null yields "".
VR_API atr_String atr_raw(char const* message);

// Fill placeholder n of t with a value, formatted by the placeholder's conversion letter
// (an integer in a "%f" placeholder is printed as a floating value without width, a
// floating value in any other placeholder with "%e"). Nothing happens when t has no
// placeholder n. A formatted number is at most 1023 bytes.
VR_API void atr_SubstituteFormat(atr_translate& t, int n, int value);
VR_API void atr_SubstituteFormat(atr_translate& t, int n, unsigned int value);
VR_API void atr_SubstituteFormat(atr_translate& t, int n, long long value);
VR_API void atr_SubstituteFormat(atr_translate& t, int n, unsigned long long value);
VR_API void atr_SubstituteFormat(atr_translate& t, int n, double value);
VR_API void atr_SubstituteFormat(atr_translate& t, int n, float value);
// Text: a "%s" placeholder's width and precision apply. Null reads as "".
VR_API void atr_SubstituteFormat(atr_translate& t, int n, char const* value);
VR_API void atr_SubstituteFormat(atr_translate& t, int n, atr_StringBase const& value);
// The pointer's address as an unsigned number.
VR_API void atr_SubstituteFormat(atr_translate& t, int n, void const* value);

// Forwards a pointer to the integer overload of its width.
template <int PointerBytes>
struct ForwardVoidPBySize;

template <>
struct VR_API ForwardVoidPBySize<4> {
  static void Format(atr_translate& t, int n, void const* value);
};

#endif
