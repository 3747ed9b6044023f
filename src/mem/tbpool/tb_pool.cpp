#include "mem/tbpool/tb_pool.h"

#include <cstring>
#include <new>

#include "mem/heap/heap_lock.h"
#include "mem/heap_table.h"
#include "mem/tbpool/fast_path.h"
#include "mem/tbpool/misuse.h"
#include "mem/tbpool/page_runs.h"
#include "mem/thread_block_port.h"
#include "plat/sole_thread.h"
#include "varururor/mem/allocation.h"

namespace {

using mem::blocks::FixedRegion;
using mem::blocks::kClassCount;
using mem::blocks::kSlotWords;
using mem::blocks::kWordBytes;
using mem::thread_block::g_head_region;
using mem::thread_block::kClassShapes;
using mem::thread_block::MemoryOfRegion;
using mem::thread_block::PageRuns;

char const kTag[] = "mem_TBPool";

// The pool's lock: a zero-filled lock is free, so it needs no construction.
mem::heap::HeapLock g_pool_lock;

// Decides at entry whether to lock and releases only what it took. As the heap does, it
// skips the lock while the process has one thread: no other thread can be in the pool.
class PoolLockGuard {
 public:
  explicit PoolLockGuard(bool wanted)
      : taken_(wanted && mem::thread_block::g_thread_lock && !plat::IsSoleThread()) {
    if (taken_) g_pool_lock.Acquire();
  }
  ~PoolLockGuard() {
    if (taken_) g_pool_lock.Release();
  }
  PoolLockGuard(PoolLockGuard const&) = delete;
  PoolLockGuard& operator=(PoolLockGuard const&) = delete;

 private:
  bool taken_;
};

std::uint32_t* Words(std::uintptr_t address) { return reinterpret_cast<std::uint32_t*>(address); }

// A pool page's fixed block holds its record at the start of its memory, and its region
// a fixed number of words behind it: the one is found from the other without a load.
mem_FixedBlock* BlockOfRegion(FixedRegion* region) {
  return reinterpret_cast<mem_FixedBlock*>(MemoryOfRegion(region));
}

FixedRegion* RegionOfBlock(mem_FixedBlock* block) {
  return reinterpret_cast<FixedRegion*>(reinterpret_cast<std::uint32_t*>(block) +
                                        mem_FixedBlock::kRegionOffset);
}

}  // namespace

mem_TBPool::mem_TBPool() : table_(*this), page_count_(0), free_id_head_(0) {
  for (int& head : class_heads_) head = mem_Block::kNoLink;
  for (int& tail : class_tails_) tail = mem_Block::kNoLink;
}

mem_TBPool* mem_TBPool::Create() {
  mem_DLAllocator temporary;
  void* record = temporary.Malloc(kTag, sizeof(mem_TBPool));
  if (record == nullptr) return nullptr;
  auto* pool = ::new (record) mem_TBPool;
  if (pool->table_.Ok()) return pool;
  pool->~mem_TBPool();
  temporary.Free(kTag, record);
  return nullptr;
}

mem_FixedBlock* mem_TBPool::BlockOfPage(std::uintptr_t page) {
  return reinterpret_cast<mem_FixedBlock*>(page + kBlockOffsetBytes);
}

void* mem_TBPool::Allocate(unsigned size, bool take_lock) {
  PoolLockGuard lock(take_lock);
  return AllocateUnlocked(mem::thread_block::RoutedClassOf(size));
}

void* mem_TBPool::AllocateUnlocked(int size_class) {
  // The walk from the head unlinks every full page it meets, so the page it asks is
  // always the head.
  while (FixedRegion* region = g_head_region[size_class]) {
    int index = region->Allocate();
    if (index != FixedRegion::kNoSlot) return MemoryOfRegion(region) + index;
    // A full page leaves the list; its next free slot links it in again.
    Unlink(BlockOfRegion(region), size_class);
  }
  // The page is had before its id is taken, so a refusal loses no id.
  void* memory = PageRuns::Take(*this);
  if (memory == nullptr) return nullptr;
  bool reused = free_id_head_ != 0;
  int id = TakePageId();
  if (!reused && !table_.Store(id, nullptr)) {
    --page_count_;
    PageRuns::Give(*this, memory);
    return nullptr;
  }
  std::uintptr_t page = reinterpret_cast<std::uintptr_t>(memory);
  Words(page)[0] = static_cast<std::uint32_t>(page);
  Words(page)[1] = mem::thread_block::kPageMarkWord;
  mem_FixedBlock* block =
      mem_FixedBlock::ConstructIn(Words(page + kBlockOffsetBytes), kMemoryWords, id, size_class,
                                  static_cast<int>(kSlotWords[size_class]));
  table_.Store(id, block);
  LinkAtHead(block, size_class);
  return block->Memory() + block->Region().Allocate();
}

int mem_TBPool::TakePageId() {
  if (free_id_head_ == 0) return page_count_++;
  int id = free_id_head_ - 1;
  free_id_head_ = static_cast<int>(reinterpret_cast<std::intptr_t>(table_.Get(id)));
  return id;
}

void mem_TBPool::SetHead(int size_class, mem_FixedBlock* block) {
  class_heads_[size_class] = block != nullptr ? block->Id() : mem_Block::kNoLink;
  g_head_region[size_class] = block != nullptr ? RegionOfBlock(block) : nullptr;
}

void mem_TBPool::CheckGivenBack(char const* entry, void* p) {
  FixedRegion& region =
      *RegionOfBlock(BlockOfPage(reinterpret_cast<std::uintptr_t>(p) & ~(kPageBytes - 1)));
  mem::thread_block::Misuse misuse = mem::thread_block::FindMisuse(
      p, kClassShapes[region.SizeClass()], region.FirstFree(), region.AllocCount());
  if (misuse != mem::thread_block::Misuse::kNone) mem::thread_block::StopOnMisuse(entry, p, misuse);
}

void mem_TBPool::Unlink(mem_FixedBlock* block, int size_class) {
  int previous = block->Previous();
  int next = block->Next();
  mem_FixedBlock* next_block = next != mem_Block::kNoLink ? Page(next) : nullptr;
  if (previous != mem_Block::kNoLink) {
    Page(previous)->SetNext(next);
  } else if (class_heads_[size_class] == block->Id()) {
    SetHead(size_class, next_block);
  }
  if (next_block != nullptr) {
    next_block->SetPrevious(previous);
  } else if (class_tails_[size_class] == block->Id()) {
    class_tails_[size_class] = previous;
  }
  block->SetNext(mem_Block::kNoLink);
  block->SetPrevious(mem_Block::kNoLink);
}

void mem_TBPool::LinkAtHead(mem_FixedBlock* block, int size_class) {
  int head = class_heads_[size_class];
  block->SetPrevious(mem_Block::kNoLink);
  block->SetNext(head);
  if (head != mem_Block::kNoLink) {
    BlockOfRegion(g_head_region[size_class])->SetPrevious(block->Id());
  } else {
    class_tails_[size_class] = block->Id();
  }
  SetHead(size_class, block);
}

void mem_TBPool::LinkAtTail(mem_FixedBlock* block, int size_class) {
  int tail = class_tails_[size_class];
  if (tail == mem_Block::kNoLink) return LinkAtHead(block, size_class);
  Page(tail)->SetNext(block->Id());
  block->SetPrevious(tail);
  block->SetNext(mem_Block::kNoLink);
  class_tails_[size_class] = block->Id();
}

void mem_TBPool::FreeSlot(void* p) {
  PoolLockGuard lock(true);
  CheckGivenBack("mem_Free", p);
  FreeUnlocked(p);
}

int mem_TBPool::ClassOfSlot(void const* p) {
  return BlockOfPage(reinterpret_cast<std::uintptr_t>(p) & ~(kPageBytes - 1))->Region().SizeClass();
}

void mem_TBPool::FreeUnlocked(void* p) {
  std::uintptr_t page = reinterpret_cast<std::uintptr_t>(p) & ~(kPageBytes - 1);
  mem_FixedBlock* block = BlockOfPage(page);
  FixedRegion& region = *RegionOfBlock(block);
  int size_class = region.SizeClass();
  int index = static_cast<int>(static_cast<std::uint32_t*>(p) - MemoryOfRegion(&region));
  bool empty = region.Free(index);
  bool has_neighbour =
      block->Next() != mem_Block::kNoLink || block->Previous() != mem_Block::kNoLink;
  if (empty && has_neighbour) {
    // At most one empty page per class stays: this one goes back to the heap.
    int id = block->Id();
    Unlink(block, size_class);
    table_.Store(id, reinterpret_cast<void*>(static_cast<std::intptr_t>(free_id_head_)));
    free_id_head_ = id + 1;
    Words(page)[0] = kReleasedPageWord;
    Words(page)[1] = kReleasedPageWord;
    PageRuns::Give(*this, reinterpret_cast<void*>(page));
    return;
  }
  bool listed = class_heads_[size_class] == block->Id() || block->Previous() != mem_Block::kNoLink;
  if (!listed) LinkAtTail(block, size_class);
}

void* mem_TBPool::Resize(void* p, unsigned size) {
  PoolLockGuard lock(true);
  CheckGivenBack("mem_Realloc", p);
  unsigned slot_bytes = kSlotWords[ClassOfSlot(p)] * kWordBytes;
  if (size == 0) {
    FreeUnlocked(p);
    return nullptr;
  }
  if (size <= slot_bytes) return p;
  void* moved;
  if (size > mem::blocks::kLargestSlotBytes) {
    // The block leaves the pool for the heap that serves the process, since that is the
    // heap the front end gives it back to.
    moved = mem::g_heap_table.malloc(size);
    if (moved == nullptr) {
      PurgeFor(size);
      moved = mem::g_heap_table.malloc(size);
    }
  } else {
    moved = AllocateUnlocked(mem::thread_block::RoutedClassOf(size));
  }
  // Without a new block the old one stays as it was.
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, p, slot_bytes);
  FreeUnlocked(p);
  return moved;
}

// The front end's way into the pool. These live beside the pool, so that its fast paths
// are inlined into them.
namespace mem::thread_block {

FixedRegion* g_head_region[kClassCount];

namespace {

// The one pool of the process, made on first need and never destroyed. Its creation is
// not locked: the first use must not race.
mem_TBPool* g_pool = nullptr;

mem_TBPool* Pool() {
  if (g_pool == nullptr) g_pool = mem_TBPool::Create();
  return g_pool;
}

}  // namespace

void* Allocate(unsigned size) {
  mem_TBPool* pool = Pool();
  return pool != nullptr ? pool->Allocate(size, true) : nullptr;
}

// A block that carries the page mark was made by the pool, so the pool exists.
void Free(void* p) { g_pool->FreeSlot(p); }

void* Resize(void* p, unsigned size) { return g_pool->Resize(p, size); }

mem_TBPool* ExistingPool() { return g_pool; }

}  // namespace mem::thread_block

void mem_TBThreadLock(bool on) {
  mem::thread_block::Pool();
  mem::thread_block::g_thread_lock = on ? 1 : 0;
}
