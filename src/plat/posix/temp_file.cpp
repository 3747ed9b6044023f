#include "plat/temp_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "plat/fault_injection.h"

namespace plat {
namespace {

constexpr unsigned kUniqueNumbers = 0x10000;  // four hexadecimal digits
constexpr std::size_t kPrefixLength = 3;

bool FormatName(char const* directory, char const* prefix, unsigned number, char* path) {
  std::size_t length = std::strlen(directory);
  char const* separator = length > 0 && directory[length - 1] == '/' ? "" : "/";
  char short_prefix[kPrefixLength + 1] = {};
  if (prefix != nullptr) std::strncpy(short_prefix, prefix, kPrefixLength);
  int written =
      snprintf(path, kMaxPath, "%s%s%s%X.TMP", directory, separator, short_prefix, number);
  return written > 0 && static_cast<std::size_t>(written) < kMaxPath;
}

}  // namespace

std::size_t GetTempPath(char* buffer, std::size_t size) {
  char const* directory = getenv("TMPDIR");
  if (directory == nullptr || *directory == '\0') directory = "/tmp";
  std::size_t length = std::strlen(directory);
  bool needs_slash = directory[length - 1] != '/';
  std::size_t total = length + (needs_slash ? 1 : 0);
  if (buffer == nullptr || total + 1 > size) return 0;
  std::memcpy(buffer, directory, length);
  if (needs_slash) buffer[length] = '/';
  buffer[total] = '\0';
  return total;
}

unsigned GetTempFileName(char const* directory, char const* prefix, unsigned unique, char* path) {
  if (ShouldFail(Operation::kGetTempFileName) || directory == nullptr || path == nullptr) return 0;
  if (unique != 0) return FormatName(directory, prefix, unique, path) ? unique : 0;
  unsigned start = static_cast<unsigned>(time(nullptr) ^ getpid()) % kUniqueNumbers;
  for (unsigned step = 0; step < kUniqueNumbers; ++step) {
    unsigned number = (start + step) % kUniqueNumbers;
    if (number == 0) continue;
    if (!FormatName(directory, prefix, number, path)) return 0;
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      close(fd);
      return number;
    }
    if (errno != EEXIST) return 0;
  }
  return 0;
}

}  // namespace plat
