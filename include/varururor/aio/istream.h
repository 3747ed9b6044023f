// Input streams over runtime files: formatted scanning with fscanf, lines, bytes.
#ifndef VARURUROR_AIO_ISTREAM_H
#define VARURUROR_AIO_ISTREAM_H

#include "varururor/aio/ios.h"
#include "varururor/frame/export.h"

class VR_API aio_istream : public aio_ios {
 public:
  aio_istream() = default;

  // A whitespace-delimited word ("%s"); buf must hold it. End of file stores "".
  aio_istream& scan_string(char* buf);
  // The next byte, whitespace included; 0 at end of file.
  char scan_char();
  // Integers in the base of the flags; 0 when none could be read.
  int scan_int();
  unsigned int scan_u_int();
  long long scan_int64();
  unsigned long long scan_u_int64();
  double scan_double();
  float scan_float();

  // A line of at most n - 1 bytes without its line feed. A last line without a line
  // feed, or a longer line, also sets failure and end of file.
  aio_istream& getline(char* buf, int n);
  // The next byte (0 to 255), -1 at end of file.
  int get();
  int peek();
  aio_istream& putback(char c);
  // Up to n bytes; the count read. A short read terminates buf at the count and sets
  // the failure state.
  int read(char* buf, int n);
  // Skips up to n bytes, through the first byte equal to delim.
  aio_istream& ignore(int n, int delim);
  // Reads from the descriptor fd, which the stream then owns.
  aio_istream& adopt(int fd);
};

#endif
