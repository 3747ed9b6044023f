// Temporary files that disappear when they are closed.
#ifndef VARURUROR_AIO_TEMP_FILE_H
#define VARURUROR_AIO_TEMP_FILE_H

#include <cstdio>

#include "varururor/frame/export.h"

// A new file in the temporary directory, open for reading and writing ("w+b"). On
// failure "Failed to create <name>" goes to standard error and the result is null.
VR_API FILE* aio_createTempFile();

#endif
