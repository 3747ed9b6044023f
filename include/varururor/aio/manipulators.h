// Manipulators: set a stream's formatting and return the stream.
#ifndef VARURUROR_AIO_MANIPULATORS_H
#define VARURUROR_AIO_MANIPULATORS_H

#include "varururor/aio/ostream.h"
#include "varururor/frame/export.h"

// Digits of floating-point output.
VR_API aio_ostream& aio_setprecision(aio_ostream& s, int n);
// The field width of the next formatted output only.
VR_API aio_ostream& aio_setwidth(aio_ostream& s, int n);
VR_API aio_ostream& aio_setiosflags(aio_ostream& s, unsigned int f);
VR_API aio_ostream& aio_resetiosflags(aio_ostream& s, unsigned int f);
// Ends the line: a line feed, then flush.
VR_API aio_ostream& aio_endl(aio_ostream& s);

#endif
