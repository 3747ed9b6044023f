// Writing a line to standard error with no buffer, lock or allocation, so that a process
// about to stop on a detected misuse can say why from any state.
#ifndef VARURUROR_PLAT_STANDARD_ERROR_H
#define VARURUROR_PLAT_STANDARD_ERROR_H

#include <cstddef>

namespace plat {

// Writes bytes to the standard error descriptor, continuing short writes; errors ignored.
void WriteStandardError(char const* text, std::size_t bytes);

}  // namespace plat

#endif
