// The last words of a process that stops itself: text straight to standard error, with no
// buffer, no lock and no allocation, so that a damaged heap or a signal handler can use it.
#ifndef VARURUROR_PLAT_STANDARD_ERROR_H
#define VARURUROR_PLAT_STANDARD_ERROR_H

#include <cstddef>

namespace plat {

// Writes length bytes of text to standard error, continuing short writes; gives up
// silently on an error. Async-signal-safe.
void WriteStandardError(char const* text, std::size_t length);

}  // namespace plat

#endif
