// A complex number held in Cartesian or in polar form.
#ifndef VARURUROR_FRAME_COMPLEX_H
#define VARURUROR_FRAME_COMPLEX_H

#include "varururor/frame/export.h"

class VR_API omi_complex {
 public:
  enum Form { kCartesian = 0, kPolar = 1 };  // any nonzero form is polar

  // (real, imaginary) when Cartesian, (modulus, argument in radians) when polar.
  omi_complex(int form, double first, double second)
      : form_(form), first_(first), second_(second) {}

  bool IsPolar() const { return form_ != kCartesian; }
  double Real() const { return IsPolar() ? ConvertedReal() : first_; }
  double Imag() const { return IsPolar() ? ConvertedImag() : second_; }
  double Modulus() const { return IsPolar() ? first_ : ConvertedModulus(); }
  double Argument() const { return IsPolar() ? second_ : ConvertedArgument(); }

  // Exact comparison; across forms the polar one is converted to real and imaginary parts.
  bool operator==(omi_complex const& other) const;

 protected:
  double ConvertedReal() const;
  double ConvertedImag() const;
  double ConvertedModulus() const;
  // In (-pi, pi], as atan2 computes it.
  double ConvertedArgument() const;

 private:
  int form_;
  double first_;
  double second_;
};
static_assert(sizeof(omi_complex) == 20, "form and two doubles, 4-byte aligned");

#endif
