#include "plat/environment.h"

#include <stdlib.h>

#include <cstring>

namespace plat {

namespace {
// Longer names than this are refused rather than allocated for.
constexpr std::size_t kMaxNameBytes = 256;
}  // namespace

bool PutEnvironment(char const* entry) {
  if (entry == nullptr) return false;
  char const* equals = std::strchr(entry, '=');
  if (equals == nullptr || equals == entry) return false;
  std::size_t name_length = static_cast<std::size_t>(equals - entry);
  if (name_length >= kMaxNameBytes) return false;
  char name[kMaxNameBytes];
  std::memcpy(name, entry, name_length);
  name[name_length] = '\0';
  // setenv copies name and value; putenv would keep the caller's buffer.
  return setenv(name, equals + 1, 1) == 0;
}

}  // namespace plat
