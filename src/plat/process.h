// The process: its program's base name, the last system error, and fault notices.
#ifndef VARURUROR_PLAT_PROCESS_H
#define VARURUROR_PLAT_PROCESS_H

#include <cstddef>

namespace plat {

// Copies the base name of the running program ("solver" for /opt/app/bin/solver),
// cut to fit, with its terminator; returns its length without the terminator, 0 on failure.
std::size_t GetModuleBaseName(char* buffer, std::size_t size);

// The calling thread's last system error code.
unsigned GetLastError();
void SetLastError(unsigned code);

// Writes text to standard error with one unbuffered write: safe in a signal handler and
// in a crashing process, where stdio's lock may be held.
void WriteStandardError(char const* text);

// Asks that the library get no notice of threads starting and ending. Shared objects on
// this system get none in any case; the call exists so that load-time set-up states it.
void DisableThreadLibraryCalls();

}  // namespace plat

#endif
