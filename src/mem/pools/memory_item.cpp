#include "varururor/mem/memory_item.h"

#include <cstddef>

#include "mem/pools/critical_section.h"

// The layout behind the virtual table, as GCC lays out a polymorphic class.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
struct mem_MemoryItemLayout {
  static_assert(offsetof(mem_MemoryItem, next_) == 4, "after the virtual table");
  static_assert(offsetof(mem_MemoryItem, previous_) == 8, "memory item layout");
  static_assert(offsetof(mem_MemoryItem, lock_) == 12, "memory item layout");
  static_assert(sizeof(mem_MemoryItem) == 16, "memory item layout");
};
#pragma GCC diagnostic pop

mem_MemoryItem::mem_MemoryItem()
    : next_(nullptr), previous_(nullptr), lock_(new mem_CriticalSection(0)) {}

mem_MemoryItem::~mem_MemoryItem() { delete lock_; }

void mem_MemoryItem::Lock() { lock_->Enter(); }
void mem_MemoryItem::Unlock() { lock_->Leave(); }
int mem_MemoryItem::TryLock() { return lock_->TryEnter(); }

unsigned int mem_MemoryItem::BulkSize() const { return 0; }
unsigned int mem_MemoryItem::AllocSize() const { return 0; }
unsigned int mem_MemoryItem::FreeBulkData() { return 0; }
void mem_MemoryItem::DebugPrint(bool) const {}
