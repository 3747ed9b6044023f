// The thread-block pool: requests of at most 128 bytes served from 4096-byte pages of
// the library heap, each page holding slots of one of ten sizes.
//
// Page layout: its own address, the mark word (four bytes of 0xAB), eight bytes the pool
// does not write, the page's fixed-block record at byte 16 (its memory starts there and is
// 1020 words long), the fixed region's record at byte 48, and the slots from byte 80. A
// pointer finds its page by clearing its low 12 bits.
#ifndef VARURUROR_MEM_TBPOOL_TB_POOL_H
#define VARURUROR_MEM_TBPOOL_TB_POOL_H

#include <cstdint>

#include "mem/blocks/block.h"
#include "mem/blocks/size_classes.h"
#include "mem/tbpool/dl_allocator.h"
#include "varururor/mem/block_table.h"

class mem_TBPool final : public mem_DLAllocator {
 public:
  static constexpr std::uintptr_t kPageBytes = 4096;
  static constexpr int kBlockOffsetBytes = 16;
  static constexpr int kMemoryWords = 1020;
  // Written over the page's first two words when it goes back to the heap.
  static constexpr std::uint32_t kReleasedPageWord = 0xDEADBEEFu;

  // The pool record from the library heap; null when there is no memory for it.
  static mem_TBPool* Create();

  // A slot for size bytes (at most 128; 0 counts as 1), null when no page can be had.
  // take_lock: the pool lock is taken if the thread-lock switch is on.
  void* Allocate(unsigned size, bool take_lock);
  // p must be a live slot of the pool.
  void FreeSlot(void* p);
  // As realloc: 0 frees and gives null; above 128 bytes the block moves to the heap that
  // serves the process; null when no new block can be had, p then intact.
  void* Resize(void* p, unsigned size);

  // For checks: the page-id table, the ids handed out, the class lists, the free ids.
  int PageCount() const { return page_count_; }
  int ClassHead(int size_class) const { return class_heads_[size_class]; }
  int ClassTail(int size_class) const { return class_tails_[size_class]; }
  int FreeIdHead() const { return free_id_head_; }
  void* TableEntry(int id) const { return table_.Get(id); }
  static mem_FixedBlock* BlockOfPage(std::uintptr_t page);

 private:
  mem_TBPool();

  void* AllocateUnlocked(int size_class);
  void FreeUnlocked(void* p);
  static int ClassOfSlot(void const* p);
  // Stops the process when p cannot be a live slot.
  static void CheckGivenBack(char const* entry, void* p);
  int TakePageId();
  // The class list's head: its id, and its region in the process-wide head cache.
  void SetHead(int size_class, mem_FixedBlock* block);
  void Unlink(mem_FixedBlock* block, int size_class);
  void LinkAtHead(mem_FixedBlock* block, int size_class);
  void LinkAtTail(mem_FixedBlock* block, int size_class);
  mem_FixedBlock* Page(int id) const { return static_cast<mem_FixedBlock*>(table_.Get(id)); }

  mem_BlockTable table_;
  int page_count_;
  int class_heads_[mem::blocks::kClassCount];
  // The last page of each class list: a page that gets a free slot back is linked in
  // there, so that it gathers more free slots before allocation comes back to it.
  int class_tails_[mem::blocks::kClassCount];
  int free_id_head_;  // the last freed id plus one; 0 when none is free
};

#endif
