// atr_Fmt: turns the stored format of a message placeholder ("%5.2f", "%-8s") into the
// printf format for a value of a given type. Lives only while one value is formatted.
#ifndef VARURUROR_ATR_FORMAT_H
#define VARURUROR_ATR_FORMAT_H

#include "varururor/frame/export.h"

class VR_API atr_Fmt {
 public:
  // How the value to print relates to the placeholder's own conversion.
  enum DataSize {
    kAsWritten = 0,  // formatted as the placeholder says
    kShort = 1,      // "h" before the conversion letter
    kInt64 = 2,      // the 64-bit length modifier before the letter
    kChar = 3        // "h" as well: printf promotes both narrow types alike
  };

  // format is borrowed and may be null.
  explicit atr_Fmt(char const* format);
  ~atr_Fmt();

  // The format is not null.
  bool Ok() const;
  // The conversion letter: the format's last character (remembered after the first call).
  char Letter();
  // The whole format, its last character replaced by letter when that is not 0, with the
  // modifier size asks for inserted before it.
  char const* Format(DataSize size, char letter);
  // "%", the modifier size asks for, and letter (or Letter() when letter is 0): flags,
  // width and precision left out.
  char const* FormatNoWidth(DataSize size, char letter);

 private:
  atr_Fmt(atr_Fmt const&) = delete;
  atr_Fmt& operator=(atr_Fmt const&) = delete;

  char const* format_;
  char letter_;
  char* buffer_;  // the result, made on first use
};
static_assert(sizeof(atr_Fmt) == 12, "format, letter and buffer: three words");

#endif
