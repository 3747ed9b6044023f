#include "plat/file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace plat {

bool AccessFile(char const* path, FileAccess mode) {
  if (path == nullptr) return false;
  return access(path, mode == FileAccess::kRead ? R_OK : F_OK) == 0;
}

int OpenTemporaryFile(char const* path, OpenError* error) {
  *error = OpenError::kOther;
  if (path == nullptr) return -1;
  int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) {
    if (errno == EEXIST) *error = OpenError::kExists;
    if (errno == EACCES) *error = OpenError::kAccessDenied;
    return -1;
  }
  // Deleted when closed: the name goes now, the data with the last descriptor.
  unlink(path);
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  *error = OpenError::kNone;
  return fd;
}

void CloseDescriptor(int fd) {
  if (fd >= 0) close(fd);
}

}  // namespace plat
