// atr_String: the text type of the library's interfaces. Text strings are handed out
// by message translation, made from numbers, or copied from another atr_String.
#ifndef VARURUROR_ATR_STRING_H
#define VARURUROR_ATR_STRING_H

#include "varururor/atr/string_base.h"
#include "varururor/frame/export.h"

class atr_translate;

class VR_API atr_String : public atr_StringBase {
 public:
  // Inline like the handle's; VR_API keeps them exported as well.
  VR_API atr_String() {}
  VR_API atr_String(atr_String const& other) : atr_StringBase(other) {}
  VR_API ~atr_String() {}
  VR_API atr_String& operator=(atr_String const& other) {
    atr_StringBase::operator=(other);
    return *this;
  }
  // The "%d" text of v.
  atr_String(int v);

  char const* text() const;
  char const* CStr() const;
  VR_API unsigned int Length() const { return static_cast<unsigned int>(atr_StringBase::Length()); }
  VR_API bool Empty() const { return atr_StringBase::Empty(); }

  // min(n, Length() - pos) bytes from pos; pos <= Length().
  atr_String Substr(unsigned int pos, unsigned int n) const;
  // Field n (from 0) of the text split at sep; empty beyond the last field.
  atr_String extract(int n, char sep) const;
  // The same field, with a doubled esc read as one esc and a single esc dropped.
  atr_String extract(int n, char sep, char esc) const;
  atr_String& Append(atr_String const& s);

  // Fill the first placeholder of an already translated text with a value that is not
  // itself translated: "%<n>$d" or "%<n>$s", or "%d" / "%s" when n is 0; or the first
  // occurrence of pattern. A null text reads as "".
  atr_String& ReplaceNonTranslated(int n, int v);
  atr_String& ReplaceNonTranslated(int n, atr_StringBase const& s);
  atr_String& ReplaceNonTranslated(int n, char const* s);
  atr_String& ReplaceNonTranslated(char const* pattern, atr_StringBase const& s);
  atr_String& ReplaceNonTranslated(char const* pattern, char const* s);

  // Wraps text at whitespace for display: each line ends with the first word that
  // reaches width bytes, so lines are at least width bytes long (all but the last) and a
  // longer word is never split. The one whitespace byte where a line breaks is dropped.
  // A text of at most width bytes comes back shared and unchanged. width 0 counts as 1.
  // In internationalisation test mode the extra test characters do not count.
  static atr_String BreakLineString(atr_String const& text, unsigned int width);
  // Wraps each line of text on its own. With onlyUnbroken, a text that already has a line
  // feed comes back unchanged.
  static atr_String AddLineBreaks(atr_String const& text, unsigned int width, bool onlyUnbroken);

 private:
  // Raw text becomes an atr_String only through translation.
  friend class atr_translate;
  friend atr_String atr_raw(char const* message);

  // A null s reads as "".
  atr_String(char const* s);
  atr_String(char const* s, unsigned int n);
};

// a with b appended.
VR_API atr_String operator+(atr_String a, atr_String const& b);

#endif
