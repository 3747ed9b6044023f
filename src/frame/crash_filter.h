// The crash reporter: when a fault goes unhandled, a report next to the process names
// the fault, the stack and the loaded modules.
#ifndef VARURUROR_FRAME_CRASH_FILTER_H
#define VARURUROR_FRAME_CRASH_FILTER_H

namespace frame {

// Installs the filter for the life of the process (omni_initialize). With
// JRT_DEBUG_POPUP set, faults go on to the system after the report (core dump,
// debugger); otherwise the process ends quietly.
void InstallCrashFilter();

}  // namespace frame

#endif
