#include "plat/output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace plat {

int CreateOutputFile(char const* path) {
  if (path == nullptr) return -1;
  return open(path, O_CREAT | O_TRUNC | O_RDWR | O_CLOEXEC, 0666);
}

bool WriteOutputFile(int fd, unsigned offset, void const* data, unsigned bytes) {
  auto const* next = static_cast<char const*>(data);
  while (bytes > 0) {
    ssize_t written = pwrite(fd, next, bytes, static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    next += written;
    offset += static_cast<unsigned>(written);
    bytes -= static_cast<unsigned>(written);
  }
  return true;
}

void CloseOutputFile(int fd) { close(fd); }

}  // namespace plat
