// Output streams over runtime files: formatted printing with fprintf, the format built
// from the stream's flags, width and precision.
#ifndef VARURUROR_AIO_OSTREAM_H
#define VARURUROR_AIO_OSTREAM_H

#include "varururor/aio/ios.h"
#include "varururor/frame/export.h"

class aio_istream;

class VR_API aio_ostream : public aio_ios {
 public:
  aio_ostream() = default;

  // A null s prints as "".
  aio_ostream& print(char const* s);
  // "%#x" of the address.
  aio_ostream& print_address(void const* p);
  // Integers in the base of the flags.
  aio_ostream& print_int(int v);
  aio_ostream& print_u_int(unsigned int v);
  aio_ostream& print_int64(long long v);
  aio_ostream& print_u_int64(unsigned long long v);
  // In the notation of the flags with the stream's precision; "%.6g" by default.
  aio_ostream& print_double(double v);
  // A line feed ignores the width and leaves it pending.
  aio_ostream& put(char c);
  aio_ostream& write(char const* buf, int n);
  aio_ostream& flush();
  // Writes to the descriptor fd, which the stream then owns.
  aio_ostream& adopt(int fd);
  // Copies what is left of in, until in's state is no longer good or a write fails.
  aio_ostream& copy(aio_istream& in);
};

VR_API aio_ostream& operator<<(aio_ostream& s, char const* text);

#endif
