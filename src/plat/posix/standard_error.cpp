#include "plat/standard_error.h"

#include <unistd.h>

#include <cerrno>

namespace plat {

void WriteStandardError(char const* text, std::size_t bytes) {
  while (bytes > 0) {
    ssize_t written = ::write(STDERR_FILENO, text, bytes);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text += written;
    bytes -= static_cast<std::size_t>(written);
  }
}

}  // namespace plat
