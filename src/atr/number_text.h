// The text of a number as the string constructors make it: "%d", "%u", "%g" for float
// and "%.15g" for double, the floating forms with a three-digit exponent's leading
// zero removed ("1e+005" becomes "1e+05", "1e+100" stays).
#ifndef VARURUROR_ATR_NUMBER_TEXT_H
#define VARURUROR_ATR_NUMBER_TEXT_H

namespace atr {

class NumberText {
 public:
  explicit NumberText(int v);
  explicit NumberText(unsigned int v);
  explicit NumberText(float v);
  explicit NumberText(double v);

  char const* text() const { return text_; }

 private:
  // "%.15g" of any double takes at most 23 bytes ("-1.23456789012345e-308").
  static constexpr int kBufferBytes = 32;
  char text_[kBufferBytes];
};

// Removes the leading zero of a three-digit exponent from a formatted number, in place.
void DropExponentZero(char* text);

}  // namespace atr

#endif
