#include "varururor/aio/ostrstream.h"

#include "varururor/aio/ifstream.h"
#include "varururor/aio/temp_file.h"

aio_ostrstream::aio_ostrstream() {
  FILE* f = aio_createTempFile();
  attach(f, f != nullptr);
}

char* aio_ostrstream::adoptString(void* (*alloc)(unsigned int)) {
  if (fptr() == nullptr || alloc == nullptr) {
    setstate(failbit);
    return nullptr;
  }
  flush();
  long long n = tellp();
  char* buf = n < 0 ? nullptr : static_cast<char*>(alloc(static_cast<unsigned int>(n) + 1));
  if (buf == nullptr) {
    setstate(failbit);
    return nullptr;
  }
  aio_ifstream reader;
  reader.attach(fptr(), false);
  reader.seekg(0, beg);
  int count = reader.read(buf, static_cast<int>(n));
  buf[n] = '\0';
  if (count < n) setstate(failbit);
  // Back to the end of the text; the positioning also lets output follow the reading.
  seekp(n, beg);
  return buf;
}
