// The memory cache manager's blocks: size classes, free lists, the limit and the wait
// for the purge worker in Alloc. The purge lists are in memory_cache_manager_purge.cpp.
#include "varururor/mem/memory_cache_manager.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "mem/pools/cache_manager_state.h"
#include "mem/pools/critical_section.h"
#include "mem/pools/memory_block_header.h"
#include "mem/pools/purge_lists.h"
#include "plat/race_annotations.h"
#include "varururor/mem/allocation.h"
#include "varururor/mem/tracker.h"

namespace {

constexpr unsigned kPageSize = 4096;
constexpr unsigned kHeader = mem::kMemoryBlockHeaderSize;
constexpr unsigned kDefaultLimit = 0x1400000;  // 20 MiB
constexpr int kNoClass = -1;
constexpr int kSentinelClass = -1;
constexpr double kBytesToMiB = 9.5367431640625e-7;

// Class 0 is one page; class 2i - 1 has 2^i pages, class 2i has 3 * 2^(i - 1).
unsigned PagesOfClass(int size_class) {
  if (size_class == 0) return 1;
  int const i = (size_class + 1) / 2;
  return (size_class % 2 == 1) ? 1u << i : 3u << (i - 1);
}

unsigned PagesFor(unsigned size) { return size / kPageSize + (size % kPageSize != 0 ? 1 : 0); }

int SizeClassOf(unsigned size) {
  if (size == 0) return kNoClass;
  unsigned const pages = PagesFor(size);
  int size_class = 0;
  while (PagesOfClass(size_class) < pages) ++size_class;
  return size_class;
}

mem_MemoryBlockHeader* HeaderOf(void* p) {
  return reinterpret_cast<mem_MemoryBlockHeader*>(static_cast<char*>(p) - kHeader);
}

mem_MemoryBlockHeader* NewSentinel() {
  auto* sentinel = static_cast<mem_MemoryBlockHeader*>(mem_OperatorNewThrowBuiltin(kHeader));
  sentinel->previous = nullptr;
  sentinel->next = nullptr;
  sentinel->size_class = kSentinelClass;
  sentinel->allocation_size = 0;
  new (&sentinel->lock) mem_CriticalSection(0);
  return sentinel;
}

void DeleteSentinel(mem_MemoryBlockHeader* sentinel) {
  sentinel->lock.~mem_CriticalSection();
  mem_Free(sentinel);
}

// The tracker phase of an allocation, left on every way out.
class AllocPhase {
 public:
  AllocPhase() { mem_Tracker_Interface::EnterPhase("MemoryCacheManager::Alloc", 0); }
  ~AllocPhase() { mem_Tracker_Interface::ExitPhase(0); }
};

}  // namespace

struct mem_MemoryCacheManagerLayout {
  using M = mem_MemoryCacheManager;
  static_assert(offsetof(M, name_) == 0 && offsetof(M, memory_limit_) == 20 &&
                    offsetof(M, capacity_) == 24 && offsetof(M, memory_in_use_) == 28 &&
                    offsetof(M, free_list_bytes_) == 32 && offsetof(M, counter_lock_) == 36 &&
                    offsetof(M, purge_lists_) == 40 && offsetof(M, state_lock_) == 44 &&
                    offsetof(M, worker_count_) == 48 && offsetof(M, waiting_count_) == 52 &&
                    offsetof(M, purge_state_) == 56 && offsetof(M, use_free_list_) == 60 &&
                    offsetof(M, free_heads_) == 64 && offsetof(M, free_tails_) == 128 &&
                    offsetof(M, out_of_memory_) == 192 && offsetof(M, wake_) == 196 &&
                    offsetof(M, second_) == 200 && offsetof(M, callback_argument_) == 204 &&
                    offsetof(M, report_file_) == 208 && sizeof(M) == 212,
                "memory cache manager layout");
};

mem_MemoryCacheManager_TooLittleMemory::mem_MemoryCacheManager_TooLittleMemory(unsigned int size)
    : size_(size) {}

mem_MemoryCacheManager::mem_MemoryCacheManager(char const* name)
    : memory_limit_(kDefaultLimit),
      capacity_(kDefaultLimit),
      memory_in_use_(0),
      free_list_bytes_(0),
      counter_lock_(new mem_CriticalSection(0)),
      purge_lists_(new mem_PurgeLists()),
      state_lock_(new mem_CriticalSection(0)),
      worker_count_(1),
      waiting_count_(0),
      purge_state_(mem::kPurgeNormal),
      use_free_list_(std::getenv("KOV_CACHEMANAGER_USEFREELIST") != nullptr),
      out_of_memory_(nullptr),
      wake_(nullptr),
      second_(nullptr),
      callback_argument_(nullptr),
      report_file_(nullptr) {
  plat::DeclareAtomicWord(&purge_state_, sizeof purge_state_);
  plat::DeclareAtomicWord(&waiting_count_, sizeof waiting_count_);
  std::memset(name_, 0, sizeof name_);
  if (name != nullptr) std::strncpy(name_, name, sizeof name_ - 1);
  for (int i = 0; i < kFreeLists; ++i) {
    free_heads_[i] = NewSentinel();
    free_tails_[i] = NewSentinel();
    free_heads_[i]->next = free_tails_[i];
    free_tails_[i]->previous = free_heads_[i];
  }
}

mem_MemoryCacheManager::~mem_MemoryCacheManager() {
  delete purge_lists_;
  delete counter_lock_;
  delete state_lock_;
  for (int i = 0; i < kFreeLists; ++i) {
    while (mem_MemoryBlockHeader* block = PopFreeList(i)) FreeMemoryBlock(block);
    DeleteSentinel(free_heads_[i]);
    DeleteSentinel(free_tails_[i]);
  }
}

unsigned int mem_MemoryCacheManager::GetAllocationSize(int sizeClass, unsigned int size) {
  if (sizeClass < 0) return 0;
  if (sizeClass < kFreeLists) return PagesOfClass(sizeClass) * kPageSize + kHeader;
  // Past the 32-bit range the size saturates: such a request never fits.
  std::uint64_t const bytes = std::uint64_t{PagesFor(size)} * kPageSize + kHeader;
  return bytes > UINT_MAX ? UINT_MAX : static_cast<unsigned>(bytes);
}

// Every change to a free list, and every walk of one, happens under its head's lock, so
// the blocks' own locks are not taken here: they would guard nothing more and would
// double the cost of reusing a block.
mem_MemoryBlockHeader* mem_MemoryCacheManager::PopFreeList(int sizeClass) {
  mem_MemoryBlockHeader* head = free_heads_[sizeClass];
  head->lock.Enter();
  mem_MemoryBlockHeader* first = head->next;
  if (first == free_tails_[sizeClass]) {
    head->lock.Leave();
    return nullptr;
  }
  mem_MemoryBlockHeader* second = first->next;
  head->next = second;
  second->previous = head;
  first->previous = nullptr;
  first->next = nullptr;
  head->lock.Leave();
  return first;
}

void mem_MemoryCacheManager::PushFreeList(mem_MemoryBlockHeader* block) {
  mem_MemoryBlockHeader* head = free_heads_[block->size_class];
  head->lock.Enter();
  mem_MemoryBlockHeader* next = head->next;
  block->previous = head;
  block->next = next;
  head->next = block;
  next->previous = block;
  head->lock.Leave();
}

bool mem_MemoryCacheManager::PastWakeThreshold(unsigned int allocationSize) const {
  return std::uint64_t{memory_in_use_} - free_list_bytes_ + allocationSize >
         mem::WakeThreshold(capacity_);
}

void* mem_MemoryCacheManager::MallocIfRoom(unsigned int allocationSize, bool& fresh, bool& wake) {
  mem_CriticalSectionGuard counter(counter_lock_);
  if (std::uint64_t{memory_in_use_} + allocationSize > capacity_) return nullptr;
  void* block = mem_Malloc(allocationSize);
  if (block != nullptr) {
    memory_in_use_ += allocationSize;
    fresh = true;
    wake = PastWakeThreshold(allocationSize);
  }
  return block;
}

void mem_MemoryCacheManager::WakeWorker() {
  if (wake_ != nullptr) wake_(callback_argument_);
}

void* mem_MemoryCacheManager::TryFreeMemory(int sizeClass, unsigned int allocationSize,
                                            bool& fresh) {
  fresh = false;
  bool wake = false;
  void* block = sizeClass < kFreeLists ? PopFreeList(sizeClass) : nullptr;
  if (block != nullptr) {
    mem_CriticalSectionGuard counter(counter_lock_);
    free_list_bytes_ -= allocationSize;
    wake = PastWakeThreshold(allocationSize);
  } else {
    block = MallocIfRoom(allocationSize, fresh, wake);
  }
  // Make room by giving free-list blocks back to the heap, the largest classes first.
  for (int k = kFreeLists - 1; block == nullptr && k >= 0; --k) {
    while (mem_MemoryBlockHeader* spare = PopFreeList(k)) {
      unsigned const spare_size = spare->allocation_size;
      FreeMemoryBlock(spare);
      {
        mem_CriticalSectionGuard counter(counter_lock_);
        memory_in_use_ -= spare_size;
        free_list_bytes_ -= spare_size;
      }
      block = MallocIfRoom(allocationSize, fresh, wake);
      if (block != nullptr) break;
    }
    if (block == nullptr) block = MallocIfRoom(allocationSize, fresh, wake);
  }
  // Past four fifths of the capacity, or without a block, the purge worker is wanted.
  if (block == nullptr || wake) WakeWorker();
  return block;
}

void* mem_MemoryCacheManager::Alloc(unsigned int size, unsigned int& charged,
                                    bool throwOnFailure) {
  AllocPhase phase;
  int const size_class = SizeClassOf(size);
  charged = GetAllocationSize(size_class, size);
  if (size_class == kNoClass) return nullptr;

  bool fresh = false;
  void* block = TryFreeMemory(size_class, charged, fresh);
  if (block == nullptr) {
    block = WaitForRoom(size_class, charged, fresh);
    {
      mem_CriticalSectionGuard state(state_lock_);
      if (block != nullptr) {
        SetPurgeState(mem::kPurgeNormal);
      } else if (!throwOnFailure) {
        SetPurgeState(mem::kPurgeOutOfMemory);
      }
    }
    if (block == nullptr) {
      if (throwOnFailure) throw mem_MemoryCacheManager_TooLittleMemory(charged);
      if (out_of_memory_ != nullptr) out_of_memory_(nullptr, charged);
      charged = 0;  // nothing was charged: a pool adds 0
      return nullptr;
    }
  }

  auto* header = static_cast<mem_MemoryBlockHeader*>(block);
  header->previous = nullptr;
  header->next = nullptr;
  header->size_class = size_class;
  header->allocation_size = charged;
  if (fresh) new (&header->lock) mem_CriticalSection(0);
  return static_cast<char*>(block) + kHeader;
}

void mem_MemoryCacheManager::FreeMemoryBlock(mem_MemoryBlockHeader* block) {
  block->lock.~mem_CriticalSection();
  mem_Free(block);
}

// The header is trusted: p must come from this manager's Alloc.
unsigned int mem_MemoryCacheManager::Free(void* p) {
  if (p == nullptr) return 0;
  mem_MemoryBlockHeader* block = HeaderOf(p);
  unsigned const allocation_size = block->allocation_size;
  {
    mem_CriticalSectionGuard counter(counter_lock_);
    if (block->size_class < kFreeLists && use_free_list_) {
      PushFreeList(block);
      free_list_bytes_ += allocation_size;
    } else {
      FreeMemoryBlock(block);
      memory_in_use_ -= allocation_size;
    }
  }
  NoteRoomChange();
  return allocation_size;
}

unsigned int mem_MemoryCacheManager::AllocSize(void* p) {
  return p == nullptr ? 0 : HeaderOf(p)->allocation_size;
}

unsigned int mem_MemoryCacheManager::ActualSizeForUse(void* p) {
  return p == nullptr ? 0 : HeaderOf(p)->allocation_size - kHeader;
}

namespace {
// A limit of 0 would purge every item and refuse every allocation: refused as a mistake.
bool RefuseZeroLimit(char const* operation, unsigned bytes) {
  if (bytes != 0) return false;
  std::fprintf(stderr, "mem_MemoryCacheManager::%s: a limit of 0 bytes is refused\n", operation);
  return true;
}
}  // namespace

void mem_MemoryCacheManager::SetMemoryLimit(unsigned int bytes) {
  if (RefuseZeroLimit("SetMemoryLimit", bytes)) return;
  StoreLimit(bytes);
  NoteRoomChange();
}

void mem_MemoryCacheManager::StoreLimit(unsigned int bytes) {
  mem_CriticalSectionGuard state(state_lock_);
  counter_lock_->Enter();
  // Stored under the locks, so that no allocation reads a limit half set.
  memory_limit_ = bytes;
  capacity_ = bytes;
  if (memory_in_use_ > capacity_) {
    unsigned const excess = memory_in_use_ - capacity_;
    counter_lock_->Leave();
    Purge(0, excess);
    counter_lock_->Enter();
    if (memory_in_use_ > capacity_) {
      std::fprintf(stderr, "failed in resize\n");
      std::fflush(stderr);
    }
  }
  counter_lock_->Leave();
}

void mem_MemoryCacheManager::ResizeMemory(unsigned int bytes) {
  if (RefuseZeroLimit("ResizeMemory", bytes)) return;
  capacity_ = bytes;
  NoteRoomChange();
}

void mem_MemoryCacheManager::SetNumWorkerThreads(int count, void (*wake)(void*),
                                                 void (*second)(void*), void* argument) {
  // Allocating threads call the wake callback without a lock: a client that only changes
  // the count (as its threads finish) must not rewrite the callbacks under them.
  if (wake_ != wake) wake_ = wake;
  if (second_ != second) second_ = second;  // kept for the client; the library never calls it
  if (callback_argument_ != argument) callback_argument_ = argument;
  // The count is read by waiting allocations under the state lock: stored under it too.
  mem_CriticalSectionGuard state(state_lock_);
  worker_count_ = count;
}

void mem_MemoryCacheManager::ClearFreeList() {
  for (int k = 0; k < kFreeLists; ++k) {
    while (mem_MemoryBlockHeader* block = PopFreeList(k)) {
      mem_CriticalSectionGuard counter(counter_lock_);
      memory_in_use_ -= block->allocation_size;
      free_list_bytes_ -= block->allocation_size;
      FreeMemoryBlock(block);
    }
  }
}

void mem_MemoryCacheManager::MemorySummary() {
  if (report_file_ == nullptr) return;
  std::fprintf(report_file_, "CACHEMANAGER Current Use %f\n", MemoryInUse() * kBytesToMiB);
  if (!purge_lists_->Cleared() && purge_lists_->report_file != nullptr) {
    std::FILE* const file = purge_lists_->report_file;
    std::uint64_t total = 0;
    for (int i = 0; i < mem_PurgeLists::kCount; ++i) {
      mem_MemoryItem* head = purge_lists_->heads[i];
      std::uint64_t list_bytes = 0;
      head->Lock();
      for (mem_MemoryItem* item = head->next_; item != purge_lists_->tails[i]; item = item->next_)
        list_bytes += item->AllocSize();
      head->Unlock();
      std::fprintf(file, "purge list %d -- totalSize %f\n", i, list_bytes * kBytesToMiB);
      std::fflush(file);
      total += list_bytes;
    }
    std::fprintf(file, "purge list total %f\n", total * kBytesToMiB);
    std::fflush(file);
  }
  std::uint64_t free_total = 0;
  for (int k = 0; k < kFreeLists; ++k) {
    // Summed under the head's lock, which every push and pop takes: the walk never
    // follows a block that is leaving the list.
    std::uint64_t bin = 0;
    mem_MemoryBlockHeader* head = free_heads_[k];
    head->lock.Enter();
    for (mem_MemoryBlockHeader* block = head->next; block != free_tails_[k]; block = block->next)
      bin += block->allocation_size;
    head->lock.Leave();
    std::fprintf(report_file_, "cacheManager -- bin %d -- total %f\n", k, bin * kBytesToMiB);
    free_total += bin;
  }
  std::fprintf(report_file_, "cacheManager free list -- total %f\n", free_total * kBytesToMiB);
  std::fflush(report_file_);
}

void mem_MemoryCacheManager::DebugPrint() const {}

void mem_MemoryCacheManager::SetReportFile(std::FILE* file) {
  report_file_ = file;
  purge_lists_->report_file = file;
}

void mem_MemoryCacheManager::ClearPurgeLists() { purge_lists_->Clear(); }

unsigned int mem_MemoryCacheManager::MemoryInUse() {
  mem_CriticalSectionGuard counter(counter_lock_);
  return memory_in_use_;
}

void mem_MemoryCacheManager::SetOutOfMemoryHandler(void (*handler)(void*, unsigned int)) {
  out_of_memory_ = handler;
}
