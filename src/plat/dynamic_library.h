// Run-time loading of shared objects and lookup of their symbols.
#ifndef VARURUROR_PLAT_DYNAMIC_LIBRARY_H
#define VARURUROR_PLAT_DYNAMIC_LIBRARY_H

namespace plat {

struct LibraryObject;
using LibraryHandle = LibraryObject*;

LibraryHandle LoadLibrary(char const* file_name);  // null when it cannot be loaded
// The loader's own text for the calling thread's last failed load ("" when it gave none).
char const* LoadLibraryErrorText();
void* GetProcAddress(LibraryHandle library, char const* symbol);
void FreeLibrary(LibraryHandle library);

}  // namespace plat

#endif
