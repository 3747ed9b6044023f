// How the library's names reach its clients: everything is hidden unless marked here.
#ifndef VARURUROR_FRAME_EXPORT_H
#define VARURUROR_FRAME_EXPORT_H

// Every record layout of the library assumes 4-byte words and pointers.
static_assert(sizeof(void*) == 4, "VaruRuror is built and used as 32-bit x86 code (-m32)");
static_assert(sizeof(unsigned int) == 4 && sizeof(long) == 4, "VaruRuror needs the i386 ABI");

// A function, object or class that clients reach.
#define VR_API __attribute__((visibility("default")))

// A member of an exported class that stays inside the library.
#define VR_HIDDEN __attribute__((visibility("hidden")))

// An upper-case entry point for Fortran callers: standard-call convention, the hidden
// length of a character argument right after that argument.
#define VR_FORTRAN extern "C" __attribute__((visibility("default"), stdcall))

#endif
