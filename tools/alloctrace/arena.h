// The recorder's arena: memory for the calls the loader and dlsym make before the real
// heap functions are known. Blocks are handed out once and never taken back.
#ifndef VARURUROR_TOOLS_ALLOCTRACE_ARENA_H
#define VARURUROR_TOOLS_ALLOCTRACE_ARENA_H

#include <stddef.h>

namespace alloctrace {

// The alignment of every block; a request for more is not served.
constexpr size_t kArenaAlignment = 16;

// A block of size bytes, 16-aligned and zero (the arena is never reused); null when the
// arena is used up.
void* ArenaAllocate(size_t size);

bool InArena(void const* p);

// The size a block of the arena was asked for with.
size_t ArenaBlockSize(void const* p);

}  // namespace alloctrace

#endif
