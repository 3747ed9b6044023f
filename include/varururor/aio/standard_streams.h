// The three standard streams, built when the library is loaded and attached to the
// process's standard input, output and error by aio_initialize.
#ifndef VARURUROR_AIO_STANDARD_STREAMS_H
#define VARURUROR_AIO_STANDARD_STREAMS_H

#include "varururor/aio/istream.h"
#include "varururor/aio/ostream.h"
#include "varururor/frame/export.h"

extern VR_API aio_istream aio_cin;
extern VR_API aio_ostream aio_cout;
extern VR_API aio_ostream aio_cerr;

#endif
