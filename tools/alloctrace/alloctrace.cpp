// alloctrace: records the heap calls of any program into a trace file (trace_format.h).
//
//   ALLOCTRACE_DIR=/tmp/traces LD_PRELOAD=/path/liballoctrace.so program arguments...
//
// Each process writes <dir>/<program>.<pid>.trace; without ALLOCTRACE_DIR it records
// nothing. Programs the traced one starts by exec are traced too (they inherit the
// variables); a child made by fork alone is not, since it begins inside its parent's
// heap. Build the library with the pointer size of the programs to trace.
//
// This library sits under everything, so it must not use what it wraps: it allocates
// with mmap, formats by hand, and takes no lock a heap call inside it could need again.
// - The loader and dlsym call malloc before the real functions are known; those calls
//   are served from a static arena, and frees into the arena are ignored.
// - A call made while the same thread is already inside the recorder (a real heap
//   function calling another, the set-up's own calls) goes straight through unrecorded.
// - The real call and its record are made under one lock, so the records are in an order
//   that a single thread can replay.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "arena.h"
#include "block_ids.h"
#include "real_functions.h"
#include "trace_format.h"

namespace {

using alloctrace::ArenaAllocate;
using alloctrace::ArenaBlockSize;
using alloctrace::BlockIds;
using alloctrace::g_real;
using alloctrace::InArena;
using alloctrace::kArenaAlignment;
using alloctrace::PutVarint;

// Initial-exec: the preloaded library's thread storage must not be set up by malloc.
#define ALLOCTRACE_THREAD_LOCAL __thread __attribute__((tls_model("initial-exec")))
// Everything else is compiled hidden.
#define ALLOCTRACE_EXPORT __attribute__((visibility("default")))

// ---------------------------------------------------------------------------------------
// The trace file and its records. Everything here runs under g_lock.

constexpr size_t kBufferBytes = size_t{1} << 20;
constexpr size_t kPathBytes = 4096;
constexpr mode_t kFileMode = 0644;

enum TraceState { kUndecided, kRecording, kStopped };

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
int g_state = kUndecided;
char g_path[kPathBytes];
int g_fd = -1;
uint8_t g_buffer[kBufferBytes];
size_t g_buffered;
BlockIds g_ids;
uint64_t g_next_id = 1;
uint64_t g_next_thread;
uint64_t g_current_thread = UINT64_MAX;

ALLOCTRACE_THREAD_LOCAL bool t_inside;
ALLOCTRACE_THREAD_LOCAL uint64_t t_thread = UINT64_MAX;

// Written under the lock, read without it by PassThrough.
void SetState(int state) { __atomic_store_n(&g_state, state, __ATOMIC_RELAXED); }

void WriteAll(uint8_t const* data, size_t size) {
  while (size > 0) {
    ssize_t written = write(g_fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      SetState(kStopped);  // a full disk ends the trace; the program goes on
      return;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
}

// The file is made at the first flush, so that a process that execs another program
// before it has filled a buffer leaves no empty trace behind.
void Flush() {
  if (g_buffered == 0) return;
  if (g_fd < 0) g_fd = open(g_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode);
  if (g_fd < 0) {
    SetState(kStopped);
  } else {
    WriteAll(g_buffer, g_buffered);
  }
  g_buffered = 0;
}

char* Append(char* out, char const* end, char const* text) {
  while (*text != '\0' && out + 1 < end) *out++ = *text++;
  return out;
}

char* AppendNumber(char* out, char const* end, unsigned long value) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0 && out + 1 < end) *out++ = digits[--n];
  return out;
}

void StartRecording() {
  char const* dir = getenv("ALLOCTRACE_DIR");
  if (dir == nullptr || *dir == '\0') {
    SetState(kStopped);
    return;
  }
  char const* end = g_path + sizeof g_path;
  char* out = Append(g_path, end, dir);
  out = Append(out, end, "/");
  out = Append(out, end, program_invocation_short_name);
  out = Append(out, end, ".");
  out = AppendNumber(out, end, static_cast<unsigned long>(getpid()));
  out = Append(out, end, ".trace");
  *out = '\0';
  uint8_t header[alloctrace::kHeaderSize] = {};
  memcpy(header, alloctrace::kMagic, sizeof alloctrace::kMagic);
  header[alloctrace::kPointerSizeOffset] = sizeof(void*);
  memcpy(g_buffer, header, sizeof header);
  g_buffered = sizeof header;
  SetState(kRecording);
}

void PutRecord(uint8_t op, uint64_t first, uint64_t second, unsigned operands) {
  if (g_buffered + 2 * alloctrace::kMaxRecordBytes > kBufferBytes) Flush();
  if (t_thread == UINT64_MAX) t_thread = g_next_thread++;
  uint8_t* out = g_buffer + g_buffered;
  if (t_thread != g_current_thread) {
    g_current_thread = t_thread;
    *out++ = alloctrace::kThread;
    out = PutVarint(out, t_thread);
  }
  *out++ = op;
  out = PutVarint(out, first);
  if (operands > 1) out = PutVarint(out, second);
  g_buffered = static_cast<size_t>(out - g_buffer);
}

// The operand that names a block by its id: its distance back from the next id.
uint64_t BackReference(uint64_t id) { return id == 0 ? 0 : g_next_id - id; }

// A record whose call handed out block p.
void RecordNew(void const* p, uint8_t op, uint64_t first, uint64_t second, unsigned operands) {
  PutRecord(op, first, second, operands);
  if (!g_ids.Insert(p, g_next_id)) {
    // Without room for ids, later records could not name this block: end the trace here.
    Flush();
    SetState(kStopped);
    return;
  }
  ++g_next_id;
}

// Holds the lock and marks the thread as inside the recorder for one call; tells
// whether that call is to be recorded.
class Section {
 public:
  Section() {
    t_inside = true;
    pthread_mutex_lock(&g_lock);
    if (g_state == kUndecided) StartRecording();
  }
  ~Section() {
    pthread_mutex_unlock(&g_lock);
    t_inside = false;
  }
  Section(Section const&) = delete;
  Section& operator=(Section const&) = delete;

  bool Recording() const { return g_state == kRecording; }
};

// Calls made inside the recorder, and calls after the trace has stopped, go straight on.
bool PassThrough() {
  alloctrace::ResolveRealFunctions();
  return t_inside || __atomic_load_n(&g_state, __ATOMIC_RELAXED) == kStopped;
}

void BeforeFork() {
  t_inside = true;
  pthread_mutex_lock(&g_lock);
}

void AfterForkInParent() {
  pthread_mutex_unlock(&g_lock);
  t_inside = false;
}

// The child starts inside its parent's heap: its frees would name blocks that its own
// trace never saw. It records nothing, and leaves the parent's buffer unwritten.
void AfterForkInChild() {
  SetState(kStopped);
  g_buffered = 0;
  if (g_fd >= 0) close(g_fd);
  g_fd = -1;
  pthread_mutex_unlock(&g_lock);
  t_inside = false;
}

__attribute__((constructor)) void Start() {
  alloctrace::ResolveRealFunctions();
  t_inside = true;
  pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild);
  t_inside = false;
}

__attribute__((destructor)) void Stop() {
  t_inside = true;
  pthread_mutex_lock(&g_lock);
  Flush();
  if (g_fd >= 0) close(g_fd);
  g_fd = -1;
  SetState(kStopped);
  pthread_mutex_unlock(&g_lock);
  t_inside = false;
}

size_t PageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

}  // namespace

// The stand-ins, the only symbols this library exports.
extern "C" {

ALLOCTRACE_EXPORT void* malloc(size_t size) {
  if (alloctrace::Resolving()) return ArenaAllocate(size);
  if (PassThrough()) return g_real.malloc(size);
  Section section;
  void* p = g_real.malloc(size);
  if (p != nullptr && section.Recording()) RecordNew(p, alloctrace::kMalloc, size, 0, 1);
  return p;
}

ALLOCTRACE_EXPORT void* calloc(size_t count, size_t size) {
  if (alloctrace::Resolving()) {
    size_t bytes = count * size;
    return count != 0 && bytes / count != size ? nullptr : ArenaAllocate(bytes);
  }
  if (PassThrough()) return g_real.calloc(count, size);
  Section section;
  void* p = g_real.calloc(count, size);
  if (p != nullptr && section.Recording()) RecordNew(p, alloctrace::kCalloc, count, size, 2);
  return p;
}

ALLOCTRACE_EXPORT void free(void* p) {
  // Arena blocks stay where they are; a pointer freed while the lookup runs cannot be
  // handed on yet, and is left.
  if (p == nullptr || InArena(p) || alloctrace::Resolving()) return;
  if (PassThrough()) return g_real.free(p);
  Section section;
  if (section.Recording()) {
    uint64_t id = g_ids.Take(p);
    if (id != 0) PutRecord(alloctrace::kFree, BackReference(id), 0, 1);
  }
  g_real.free(p);
}

ALLOCTRACE_EXPORT void* realloc(void* p, size_t size) {
  if (p != nullptr && InArena(p)) {
    // Out of the arena into the real heap (or a later part of the arena).
    size_t old_size = ArenaBlockSize(p);
    void* moved = malloc(size);
    if (moved != nullptr) memcpy(moved, p, old_size < size ? old_size : size);
    return moved;
  }
  if (alloctrace::Resolving()) return p == nullptr ? ArenaAllocate(size) : nullptr;
  if (PassThrough()) return g_real.realloc(p, size);
  Section section;
  void* q = g_real.realloc(p, size);
  if (!section.Recording()) return q;
  if (q == nullptr) {
    // A realloc to 0 bytes that returns null has freed the block; any other null
    // leaves the block as it was.
    if (p != nullptr && size == 0) {
      uint64_t id = g_ids.Take(p);
      if (id != 0) PutRecord(alloctrace::kFree, BackReference(id), 0, 1);
    }
    return q;
  }
  uint64_t old_id = p == nullptr ? 0 : g_ids.Take(p);
  RecordNew(q, alloctrace::kRealloc, BackReference(old_id), size, 2);
  return q;
}

ALLOCTRACE_EXPORT void* memalign(size_t alignment, size_t size) {
  if (alloctrace::Resolving()) return alignment <= kArenaAlignment ? ArenaAllocate(size) : nullptr;
  if (PassThrough()) return g_real.memalign(alignment, size);
  Section section;
  void* p = g_real.memalign(alignment, size);
  if (p != nullptr && section.Recording()) {
    RecordNew(p, alloctrace::kMemalign, alignment, size, 2);
  }
  return p;
}

ALLOCTRACE_EXPORT int posix_memalign(void** out, size_t alignment, size_t size) {
  if (alloctrace::Resolving()) {
    *out = alignment <= kArenaAlignment ? ArenaAllocate(size) : nullptr;
    return *out != nullptr ? 0 : ENOMEM;
  }
  if (PassThrough()) return g_real.posix_memalign(out, alignment, size);
  Section section;
  int result = g_real.posix_memalign(out, alignment, size);
  if (result == 0 && section.Recording()) {
    RecordNew(*out, alloctrace::kMemalign, alignment, size, 2);
  }
  return result;
}

ALLOCTRACE_EXPORT void* aligned_alloc(size_t alignment, size_t size) {
  if (alloctrace::Resolving()) return alignment <= kArenaAlignment ? ArenaAllocate(size) : nullptr;
  if (PassThrough()) return g_real.aligned_alloc(alignment, size);
  Section section;
  void* p = g_real.aligned_alloc(alignment, size);
  if (p != nullptr && section.Recording()) {
    RecordNew(p, alloctrace::kMemalign, alignment, size, 2);
  }
  return p;
}

ALLOCTRACE_EXPORT void* valloc(size_t size) {
  if (alloctrace::Resolving()) return nullptr;
  if (PassThrough()) return g_real.valloc(size);
  Section section;
  void* p = g_real.valloc(size);
  if (p != nullptr && section.Recording()) {
    RecordNew(p, alloctrace::kMemalign, PageSize(), size, 2);
  }
  return p;
}

ALLOCTRACE_EXPORT void* pvalloc(size_t size) {
  if (alloctrace::Resolving()) return nullptr;
  if (PassThrough()) return g_real.pvalloc(size);
  Section section;
  void* p = g_real.pvalloc(size);
  if (p != nullptr && section.Recording()) {
    // pvalloc rounds the size up to whole pages; the trace holds what was handed out.
    size_t page = PageSize();
    RecordNew(p, alloctrace::kMemalign, page, (size + page - 1) & ~(page - 1), 2);
  }
  return p;
}

}  // extern "C"
