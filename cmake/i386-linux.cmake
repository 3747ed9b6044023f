# Builds everything for 32-bit x86 Linux (the i386 ABI) on an x86-64 Debian host,
# with SSE2 arithmetic, and finds the i386 packages of GoogleTest and Google Benchmark.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_Fortran_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(FIND_LIBRARY_USE_LIB32_PATHS TRUE)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
