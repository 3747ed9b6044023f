#include "varururor/aio/ofstream.h"

#include <climits>
#include <cstdio>

#include "plat/file.h"

aio_ofstream& aio_ofstream::open(char const* path, bool create) {
  if (path == nullptr || (create && plat::AccessFile(path, plat::FileAccess::kExists))) {
    clear();
    setstate(failbit);
    return *this;
  }
  FILE* f = std::fopen(path, create ? "wb" : "ab");
  attach(f, f != nullptr);
  // A stream opened afresh starts good.
  clear();
  if (f == nullptr) setstate(failbit);
  return *this;
}

aio_ofstream& aio_ofstream::seekp(long long off, aio_ios::seek_dir dir) {
  // fseek takes a long: an offset it cannot hold is refused rather than cut.
  if (fptr() == nullptr || off < LONG_MIN || off > LONG_MAX ||
      std::fseek(fptr(), static_cast<long>(off), dir) != 0) {
    setstate(failbit);
  }
  return *this;
}

long long aio_ofstream::tellp() const { return fptr() == nullptr ? -1 : std::ftell(fptr()); }
