#include "varururor/aio/ifstream.h"

#include <climits>
#include <cstdio>

#include "plat/file.h"

aio_ifstream& aio_ifstream::open(char const* path) {
  if (!plat::AccessFile(path, plat::FileAccess::kRead)) {
    clear();
    setstate(failbit);
    return *this;
  }
  FILE* f = std::fopen(path, "r");
  attach(f, f != nullptr);
  // A stream opened afresh starts good.
  clear();
  if (f == nullptr) setstate(failbit);
  return *this;
}

aio_ifstream& aio_ifstream::seekg(long long off, aio_ios::seek_dir dir) {
  // fseek takes a long: an offset it cannot hold is refused rather than cut.
  if (fptr() == nullptr || off < LONG_MIN || off > LONG_MAX ||
      std::fseek(fptr(), static_cast<long>(off), dir) != 0) {
    setstate(failbit);
  }
  return *this;
}

long long aio_ifstream::tellg() const { return fptr() == nullptr ? -1 : std::ftell(fptr()); }
