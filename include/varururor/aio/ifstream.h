// An input stream over a file opened by name, with positioning.
#ifndef VARURUROR_AIO_IFSTREAM_H
#define VARURUROR_AIO_IFSTREAM_H

#include "varururor/aio/istream.h"
#include "varururor/frame/export.h"

class VR_API aio_ifstream : public aio_istream {
 public:
  aio_ifstream() = default;

  // Opens path for reading when it is readable; otherwise the state becomes failure.
  aio_ifstream& open(char const* path);
  // Positions are those of fseek and ftell: below 2^31.
  aio_ifstream& seekg(long long off, aio_ios::seek_dir dir);
  // -1 when there is no position.
  long long tellg() const;
};

#endif
