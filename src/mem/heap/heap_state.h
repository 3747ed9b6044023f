// The heap's parameters and its one state, the initialisation pass that fills them, and
// the guard that takes the heap lock around an operation.
#ifndef VARURUROR_MEM_HEAP_HEAP_STATE_H
#define VARURUROR_MEM_HEAP_HEAP_STATE_H

#include <cstddef>
#include <cstdint>

#include "mem/heap/chunk.h"
#include "mem/heap/heap_lock.h"
#include "plat/sole_thread.h"
#include "varururor/frame/export.h"

namespace mem::heap {

using BinMap = std::uint32_t;

constexpr unsigned kSmallBinCount = 32;
constexpr unsigned kTreeBinCount = 32;
// The small bins are kept as link pairs; bin i is viewed as a chunk that starts two words
// before its pair, so that its links fall where a chunk's fd and bk are.
constexpr unsigned kSmallBinWords = (kSmallBinCount + 1) * 2;

constexpr std::size_t kHeapMagic = 0x58585858;  // "XXXX"
constexpr std::size_t kDefaultMappingThreshold = 0x40000;
constexpr std::size_t kDefaultTrimThreshold = 0x200000;
constexpr int kDefaultLockSwitch = 2;

// State flags.
constexpr std::uint32_t kUseMappingsFlag = 1;
constexpr std::uint32_t kUseLockFlag = 2;  // not consulted: the lock switch decides
constexpr std::uint32_t kNonContiguousFlag = 4;
constexpr std::uint32_t kDefaultStateFlags = kUseMappingsFlag | kUseLockFlag | kNonContiguousFlag;

// Process-wide parameters, zero until the first initialisation pass.
struct HeapParams {
  std::size_t magic;
  std::size_t page_size;
  std::size_t granularity;
  std::size_t mapping_threshold;
  std::size_t trim_threshold;
  std::uint32_t default_state_flags;
  int lock_switch;
  std::size_t memory_limit;
};
static_assert(offsetof(HeapParams, magic) == 0 && offsetof(HeapParams, page_size) == 4 &&
                  offsetof(HeapParams, granularity) == 8 &&
                  offsetof(HeapParams, mapping_threshold) == 12 &&
                  offsetof(HeapParams, trim_threshold) == 16 &&
                  offsetof(HeapParams, default_state_flags) == 20 &&
                  offsetof(HeapParams, lock_switch) == 24 &&
                  offsetof(HeapParams, memory_limit) == 28 && sizeof(HeapParams) == 32,
              "heap parameters");

}  // namespace mem::heap

// The heap state; the public header names it for internal_dlfragmentationinfo.
struct dl_malloc_state {
  mem::heap::BinMap smallmap;
  mem::heap::BinMap treemap;
  std::size_t dvsize;
  std::size_t topsize;
  char* least_addr;
  mem::heap::Chunk* dv;  // the designated victim: the preferred chunk for small requests
  mem::heap::Chunk* top;
  std::size_t trim_check;
  std::size_t magic;
  mem::heap::Chunk* smallbins[mem::heap::kSmallBinWords];
  mem::heap::Chunk* treebins[mem::heap::kTreeBinCount];
  std::size_t footprint;
  std::size_t max_footprint;
  std::uint32_t mflags;
  // Copies of the parameters, refreshed by every initialisation pass.
  int lock_switch;
  std::size_t memory_limit;
  mem::heap::HeapLock lock;
  mem::heap::Segment seg;  // the first segment record; it always holds the top chunk
};
static_assert(
    offsetof(dl_malloc_state, smallmap) == 0 && offsetof(dl_malloc_state, treemap) == 4 &&
        offsetof(dl_malloc_state, dvsize) == 8 && offsetof(dl_malloc_state, topsize) == 12 &&
        offsetof(dl_malloc_state, least_addr) == 16 && offsetof(dl_malloc_state, dv) == 20 &&
        offsetof(dl_malloc_state, top) == 24 && offsetof(dl_malloc_state, trim_check) == 28 &&
        offsetof(dl_malloc_state, magic) == 32 && offsetof(dl_malloc_state, smallbins) == 36 &&
        offsetof(dl_malloc_state, treebins) == 300 && offsetof(dl_malloc_state, footprint) == 428 &&
        offsetof(dl_malloc_state, max_footprint) == 432 &&
        offsetof(dl_malloc_state, mflags) == 436 && offsetof(dl_malloc_state, lock_switch) == 440 &&
        offsetof(dl_malloc_state, memory_limit) == 444 && offsetof(dl_malloc_state, lock) == 448 &&
        offsetof(dl_malloc_state, seg) == 456 && sizeof(dl_malloc_state) == 472,
    "heap state");

namespace mem::heap {

using HeapState = ::dl_malloc_state;

// Hidden in the declarations too, so that the library reaches them without the
// indirection through its global offset table that a symbol others may replace needs.
extern VR_HIDDEN HeapParams g_heap_params;
extern VR_HIDDEN HeapState g_heap_state;
// -1 while the most recent memory-limit check refused, else 0. Written under the heap
// lock, read without it.
extern VR_HIDDEN long g_limit_error;

// The full pass: the first time it sets the parameters up; every time it copies the lock
// switch and the memory limit into the heap state.
void InitialisationPass();

// The pass that public operations run before they touch the heap: only until set-up is done.
inline void EnsureInitialised() {
  if (__builtin_expect(g_heap_params.page_size == 0, 0)) InitialisationPass();
}

inline bool IsInitialised(HeapState const& m) { return m.top != nullptr; }

// Holds the heap lock for one operation when the lock switch is on. The decision is taken
// once, on entry: a pass inside the operation may change the switch, and the lock must
// still be released exactly when it was taken.
//
// While the calling thread is the only one, the lock keeps out nobody, and its two
// interlocked operations are most of a small allocation's cost: it is skipped. No heap
// operation creates a thread, so no other thread can appear before the operation ends;
// a thread created afterwards starts after everything this one wrote, and from then on
// every operation takes the lock. Whatever the guard decided, it undoes exactly that.
class HeapGuard {
 public:
  explicit HeapGuard(HeapState& m) : state_(m) {
    EnsureInitialised();
    locked_ = !plat::IsSoleThread() && __atomic_load_n(&m.lock_switch, __ATOMIC_RELAXED) != 0;
    if (locked_) m.lock.Acquire();
  }
  ~HeapGuard() { Unlock(); }
  HeapGuard(HeapGuard const&) = delete;
  HeapGuard& operator=(HeapGuard const&) = delete;

  void Unlock() {
    if (!locked_) return;
    locked_ = false;
    state_.lock.Release();
  }

 private:
  HeapState& state_;
  bool locked_;
};

// The footprint is read without the lock by other threads, so it is stored whole.
inline void AddFootprint(HeapState& m, std::size_t bytes) {
  std::size_t footprint = m.footprint + bytes;
  __atomic_store_n(&m.footprint, footprint, __ATOMIC_RELAXED);
  if (footprint > m.max_footprint) __atomic_store_n(&m.max_footprint, footprint, __ATOMIC_RELAXED);
}
inline void SubtractFootprint(HeapState& m, std::size_t bytes) {
  __atomic_store_n(&m.footprint, m.footprint - bytes, __ATOMIC_RELAXED);
}

// Before the first segment there is no lowest address, and no address is the heap's.
inline bool IsHeapAddress(HeapState const& m, void const* address) {
  return m.least_addr != nullptr && static_cast<char const*>(address) >= m.least_addr;
}

// A link or a size that cannot be right: the heap is damaged. Says so on standard error
// and aborts.
[[noreturn]] void HeapCorrupted();

}  // namespace mem::heap

#endif
