#include "arena.h"

#include <string.h>

namespace alloctrace {

namespace {

// dlsym asks for a few small blocks; the loader for a few more at most.
constexpr size_t kArenaBytes = 256 * 1024;
// Each block keeps its size in front of it, for a realloc that moves it out.
constexpr size_t kArenaHeader = kArenaAlignment;

alignas(kArenaAlignment) char g_arena[kArenaBytes];
size_t g_arena_used;

}  // namespace

void* ArenaAllocate(size_t size) {
  size_t rounded = (size + kArenaHeader + kArenaAlignment - 1) & ~(kArenaAlignment - 1);
  size_t start = __atomic_fetch_add(&g_arena_used, rounded, __ATOMIC_RELAXED);
  if (rounded < size || start + rounded > kArenaBytes) return nullptr;
  char* block = g_arena + start;
  memcpy(block, &size, sizeof size);
  return block + kArenaHeader;
}

bool InArena(void const* p) {
  char const* c = static_cast<char const*>(p);
  return c >= g_arena && c < g_arena + kArenaBytes;
}

size_t ArenaBlockSize(void const* p) {
  size_t size;
  memcpy(&size, static_cast<char const*>(p) - kArenaHeader, sizeof size);
  return size;
}

}  // namespace alloctrace
