// An output stream over a file opened by name, with positioning.
#ifndef VARURUROR_AIO_OFSTREAM_H
#define VARURUROR_AIO_OFSTREAM_H

#include "varururor/aio/ostream.h"
#include "varururor/frame/export.h"

class VR_API aio_ofstream : public aio_ostream {
 public:
  aio_ofstream() = default;

  // create true: a new file; when path exists already, it is left alone and the state
  // becomes failure. create false: appends, creating the file when it is missing.
  aio_ofstream& open(char const* path, bool create);
  // Positions are those of fseek and ftell: below 2^31.
  aio_ofstream& seekp(long long off, aio_ios::seek_dir dir);
  // -1 when there is no position.
  long long tellp() const;
};

#endif
