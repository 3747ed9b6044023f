// A double with a field width and a precision, for stream output.
#ifndef VARURUROR_FRAME_JRT_DOUBLE_H
#define VARURUROR_FRAME_JRT_DOUBLE_H

#include "varururor/frame/export.h"

class aio_ostream;

struct VR_API omn_JRTdouble {
  static constexpr int kDefaultWidth = 0;
  static constexpr int kDefaultPrecision = 15;  // with width 0: "%lg", six digits

  explicit omn_JRTdouble(double v, int w = kDefaultWidth, int p = kDefaultPrecision)
      : value(v), width(w), precision(p) {}

  double value;
  int width;
  int precision;
};
static_assert(sizeof(omn_JRTdouble) == 16, "value, width, precision");

// Prints the value as printf's "%*.*lg" would, with a three-digit exponent that begins
// with 0 cut to two digits. Uses one process-wide buffer: one thread at a time.
VR_API aio_ostream& operator<<(aio_ostream& stream, omn_JRTdouble const& number);

#endif
