// A string stream: output goes to a temporary file, and the text written so far is
// handed out on request.
#ifndef VARURUROR_AIO_OSTRSTREAM_H
#define VARURUROR_AIO_OSTRSTREAM_H

#include "varururor/aio/ofstream.h"
#include "varururor/frame/export.h"

class VR_API aio_ostrstream : public aio_ofstream {
 public:
  // Writes to a new temporary file of its own; without one, every output fails.
  aio_ostrstream();

  // Everything written so far, NUL-terminated, in a block from alloc that the caller
  // owns; null when there is no file or alloc gives nothing. The stream stays usable
  // and later output goes after the text handed out.
  char* adoptString(void* (*alloc)(unsigned int));
};

#endif
