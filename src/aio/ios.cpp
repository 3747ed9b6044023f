#include "varururor/aio/ios.h"

#include <cstddef>

aio_ios::~aio_ios() {
  static_assert(offsetof(aio_ios, file_) == 0 && offsetof(aio_ios, flags_) == 4 &&
                    offsetof(aio_ios, state_) == 8 && offsetof(aio_ios, precision_) == 12 &&
                    offsetof(aio_ios, width_) == 16 && offsetof(aio_ios, owns_) == 20,
                "file, flags, state, precision, width, owns in this order");
  if (owns_) close();
}

unsigned int aio_ios::setf(int f, int mask) {
  unsigned int old = flags_;
  if (mask == 0) {
    flags_ |= static_cast<unsigned int>(f);
  } else {
    unsigned int m = static_cast<unsigned int>(mask);
    flags_ = (flags_ & ~m) | (static_cast<unsigned int>(f) & m);
  }
  return old;
}

unsigned int aio_ios::unsetf(int f) {
  unsigned int old = flags_;
  flags_ &= ~static_cast<unsigned int>(f);
  return old;
}

int aio_ios::fd() const { return file_ == nullptr ? -1 : fileno(file_); }

bool aio_ios::close() {
  bool failed = false;
  if (file_ != nullptr) {
    failed = std::fclose(file_) != 0;
    file_ = nullptr;
  }
  state_ = goodbit;
  owns_ = false;
  return failed;
}

aio_ios& aio_ios::attach(FILE* f, bool owns) {
  // Attaching the file already held only changes who closes it.
  if (owns_ && f != file_) close();
  file_ = f;
  owns_ = owns;
  return *this;
}
