#include "varururor/frame/complex.h"

#include <cmath>

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kHalfPi = kPi / 2;
}  // namespace

double omi_complex::ConvertedReal() const { return first_ * std::cos(second_); }

double omi_complex::ConvertedImag() const { return first_ * std::sin(second_); }

double omi_complex::ConvertedModulus() const {
  return std::sqrt(first_ * first_ + second_ * second_);
}

double omi_complex::ConvertedArgument() const {
  double re = first_;
  double im = second_;
  // A part that is not a number gives a NaN angle, as atan2 does; the comparisons are
  // quiet, so that no trap fires inside the library.
  if (std::isunordered(re, im)) return re + im;
  if (std::isgreater(re, 0.0)) return std::atan(im / re);
  if (std::isless(re, 0.0)) {
    if (std::isgreater(im, 0.0)) return std::atan(im / re) + kPi;
    if (std::isless(im, 0.0)) return std::atan(im / re) - kPi;
    return kPi;
  }
  if (std::isgreater(im, 0.0)) return kHalfPi;
  if (std::isless(im, 0.0)) return -kHalfPi;
  return 0.0;
}

bool omi_complex::operator==(omi_complex const& other) const {
  if (IsPolar() == other.IsPolar()) {
    return first_ == other.first_ && second_ == other.second_;
  }
  omi_complex const& polar = IsPolar() ? *this : other;
  omi_complex const& cartesian = IsPolar() ? other : *this;
  return polar.ConvertedReal() == cartesian.first_ && polar.ConvertedImag() == cartesian.second_;
}
