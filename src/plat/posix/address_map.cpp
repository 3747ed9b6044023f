#include "plat/posix/address_map.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace plat {
namespace {

std::uint64_t ParseHex(char const*& cursor) {
  std::uint64_t value = 0;
  for (;; ++cursor) {
    char c = *cursor;
    if (c >= '0' && c <= '9') {
      value = value * 16 + static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      value = value * 16 + static_cast<unsigned>(c - 'a' + 10);
    } else {
      return value;
    }
  }
}

std::uint64_t ParseDecimal(char const*& cursor) {
  std::uint64_t value = 0;
  while (*cursor >= '0' && *cursor <= '9')
    value = value * 10 + static_cast<unsigned>(*cursor++ - '0');
  return value;
}

void SkipSpaces(char const*& cursor) {
  while (*cursor == ' ' || *cursor == '\t') ++cursor;
}

// "start-end perms offset major:minor inode   path"
bool ParseLine(char const* line, AddressMapEntry* entry) {
  char const* cursor = line;
  std::uint64_t start = ParseHex(cursor);
  if (*cursor++ != '-') return false;
  std::uint64_t end = ParseHex(cursor);
  if (*cursor++ != ' ') return false;
  if (std::strlen(cursor) < 4) return false;
  entry->readable = cursor[0] == 'r';
  entry->writable = cursor[1] == 'w';
  entry->executable = cursor[2] == 'x';
  entry->shared = cursor[3] == 's';
  cursor += 4;
  SkipSpaces(cursor);
  entry->offset = ParseHex(cursor);
  SkipSpaces(cursor);
  std::uint64_t major = ParseHex(cursor);
  if (*cursor++ != ':') return false;
  std::uint64_t minor = ParseHex(cursor);
  SkipSpaces(cursor);
  entry->inode = ParseDecimal(cursor);
  SkipSpaces(cursor);
  // Mappings above the 32-bit space (a 64-bit kernel's own) are not ours to describe.
  if (end > 0xFFFFFFFFull || start >= end) return false;
  entry->start = static_cast<std::uintptr_t>(start);
  entry->end = static_cast<std::uintptr_t>(end);
  entry->device = static_cast<std::uint32_t>((major << 20) | minor);
  std::size_t length = std::strlen(cursor);
  if (length >= sizeof entry->path) length = sizeof entry->path - 1;
  std::memcpy(entry->path, cursor, length);
  entry->path[length] = '\0';
  return true;
}

}  // namespace

AddressMapReader::AddressMapReader() : fd_(open("/proc/self/maps", O_RDONLY | O_CLOEXEC)) {}

AddressMapReader::~AddressMapReader() {
  if (fd_ >= 0) close(fd_);
}

// Copies the next line into line_, without its newline; an over-long line is cut.
bool AddressMapReader::FillLine() {
  std::size_t length = 0;
  for (;;) {
    if (begin_ == end_) {
      if (fd_ < 0) return false;
      ssize_t got = read(fd_, buffer_, kBufferSize);
      if (got <= 0) {
        close(fd_);
        fd_ = -1;
        if (length == 0) return false;
        line_[length] = '\0';
        return true;
      }
      begin_ = 0;
      end_ = static_cast<std::size_t>(got);
    }
    char c = buffer_[begin_++];
    if (c == '\n') {
      line_[length] = '\0';
      return true;
    }
    if (length + 1 < kBufferSize) line_[length++] = c;
  }
}

bool AddressMapReader::Next(AddressMapEntry* entry) {
  while (FillLine()) {
    if (ParseLine(line_, entry)) return true;
  }
  return false;
}

}  // namespace plat
