// Start-up and shutdown of the library and of each of its modules.
//
// Each pair follows one protocol: the first initialize of a module does its start-up
// work and adds 1 to the caller's running total; the finalize that balances the last
// initialize does its shut-down work and takes 1 off. Other calls only count.
// UTI_VaruRuror_initialize starts memory, unit tests, strings, streams and system
// services in that order (counting itself as one module); finalize stops them in reverse.
#ifndef VARURUROR_FRAME_STARTUP_H
#define VARURUROR_FRAME_STARTUP_H

#include "varururor/frame/export.h"

extern "C" {

VR_API void UTI_VaruRuror_initialize(int& started_modules);
VR_API void UTI_VaruRuror_finalize(int& started_modules);

VR_API void mem_initialize(int& started_modules);
VR_API void mem_finalize(int& started_modules);
VR_API void mem_formalize();

VR_API void uts_initialize(int& started_modules);
VR_API void uts_finalize(int& started_modules);

VR_API void atr_initialize(int& started_modules);
VR_API void atr_finalize(int& started_modules);

VR_API void aio_initialize(int& started_modules);
VR_API void aio_finalize(int& started_modules);

VR_API void omni_initialize(int& started_modules);
VR_API void omni_finalize(int& started_modules);
VR_API void omni_formalize();

}  // extern "C"

#endif
