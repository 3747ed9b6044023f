#include "plat/process.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>

namespace plat {

std::size_t GetModuleBaseName(char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return 0;
  path[length] = '\0';
  char const* slash = std::strrchr(path, '/');
  char const* base = slash != nullptr ? slash + 1 : path;
  std::size_t base_length = std::strlen(base);
  if (base_length >= size) base_length = size - 1;
  std::memcpy(buffer, base, base_length);
  buffer[base_length] = '\0';
  return base_length;
}

void WriteStandardError(char const* text) {
  std::size_t length = std::strlen(text);
  while (length > 0) {
    ssize_t wrote = write(STDERR_FILENO, text, length);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;
    text += wrote;
    length -= static_cast<std::size_t>(wrote);
  }
}

unsigned GetLastError() { return static_cast<unsigned>(errno); }

void SetLastError(unsigned code) { errno = static_cast<int>(code); }

void DisableThreadLibraryCalls() {
  // The loader sends shared objects no thread notices here; nothing to switch off.
}

}  // namespace plat
