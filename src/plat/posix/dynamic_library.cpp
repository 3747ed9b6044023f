#include "plat/dynamic_library.h"

#include <dlfcn.h>

#include "plat/fault_injection.h"

namespace plat {

LibraryHandle LoadLibrary(char const* file_name) {
  if (ShouldFail(Operation::kLoadLibrary) || file_name == nullptr) return nullptr;
  return static_cast<LibraryHandle>(dlopen(file_name, RTLD_NOW | RTLD_LOCAL));
}

char const* LoadLibraryErrorText() {
  char const* text = dlerror();
  return text == nullptr ? "" : text;
}

void* GetProcAddress(LibraryHandle library, char const* symbol) {
  if (library == nullptr || symbol == nullptr) return nullptr;
  return dlsym(library, symbol);
}

void FreeLibrary(LibraryHandle library) {
  if (library != nullptr) dlclose(library);
}

}  // namespace plat
