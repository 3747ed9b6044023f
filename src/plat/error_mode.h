// The process's error mode: which system fault dialogs it wants.
#ifndef VARURUROR_PLAT_ERROR_MODE_H
#define VARURUROR_PLAT_ERROR_MODE_H

namespace plat {

// No dialog when a fault ends the process.
constexpr unsigned kErrorModeNoFaultDialog = 0x0002;

// Sets the mode and gives the previous one (0 at start). This system shows no fault
// dialogs, so the mode is only kept: the crash reporter reads it to choose between
// ending silently and handing the fault to the system (core dump, debugger).
unsigned SetErrorMode(unsigned mode);
unsigned GetErrorMode();

}  // namespace plat

#endif
