#include "plat/standard_error.h"

#include <errno.h>
#include <unistd.h>

namespace plat {

void WriteStandardError(char const* text, std::size_t length) {
  while (length > 0) {
    ssize_t written = write(STDERR_FILENO, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text += written;
    length -= static_cast<std::size_t>(written);
  }
}

}  // namespace plat
