#include "varururor/aio/manipulators.h"

aio_ostream& aio_setprecision(aio_ostream& s, int n) {
  s.precision_ = n;
  return s;
}

aio_ostream& aio_setwidth(aio_ostream& s, int n) {
  s.width_ = n;
  s.flags_ |= aio_ios::widthonce;
  return s;
}

aio_ostream& aio_setiosflags(aio_ostream& s, unsigned int f) {
  s.setf(static_cast<int>(f), 0);
  return s;
}

aio_ostream& aio_resetiosflags(aio_ostream& s, unsigned int f) {
  s.unsetf(static_cast<int>(f));
  return s;
}

aio_ostream& aio_endl(aio_ostream& s) { return s.put('\n').flush(); }
