// Blocks: records of a piece of memory, linkable into lists by id. A fixed block keeps
// its record at the start of its own memory, with a fixed region after it.
#ifndef VARURUROR_MEM_BLOCKS_BLOCK_H
#define VARURUROR_MEM_BLOCKS_BLOCK_H

#include <cstddef>
#include <cstdint>

#include "mem/blocks/region.h"

class mem_Allocator;

// How a block stands to its memory.
enum mem_BlockOwnership : int {
  mem_BlockBorrows = 0,  // the memory is someone else's
  mem_BlockOwns = 1,     // the block gives its memory back when released
  mem_BlockCluster = 2,  // a cluster's memory, set at construction and kept
  mem_BlockFixed = 3,    // the memory holds the record itself
};

class mem_Block {
 public:
  mem_Block(std::uint32_t* memory, int words, mem_BlockOwnership ownership);
  virtual ~mem_Block();
  // Gives the block's memory (if it owns it) and then the record back to allocator.
  virtual void Release(mem_Allocator& allocator);
  virtual void Print() const;

  // Stores new memory; the ownership follows it unless the block belongs to a cluster.
  void SetMemory(std::uint32_t* memory, int words);

  std::uint32_t* Memory() const { return memory_; }
  int Words() const { return words_; }
  mem_BlockOwnership Ownership() const { return ownership_; }

  // Links in lists of block ids; kNoLink for none.
  static constexpr int kNoLink = -1;
  int Next() const { return next_; }
  int Previous() const { return previous_; }
  void SetNext(int id) { next_ = id; }
  void SetPrevious(int id) { previous_ = id; }

 protected:
  std::uint32_t* memory_;
  int words_;
  int next_ = kNoLink;
  int previous_ = kNoLink;
  mem_BlockOwnership ownership_;
};
static_assert(sizeof(mem_Block) == 24, "virtual table, memory, size, two links, ownership");

class mem_FixedBlock : public mem_Block {
 public:
  // The word offset of the region record in the block's memory.
  static constexpr int kRegionOffset = 8;
  // Words of a page that a standalone fixed block takes from its allocator.
  static constexpr int kPageWords = 1024;

  // Builds the record at the start of memory (words long) and the fixed region of
  // size_class with slots of slot_words words behind it.
  static mem_FixedBlock* ConstructIn(std::uint32_t* memory, int words, int id, int size_class,
                                     int slot_words);

  // A page of its own from allocator (tag "mem_FixedBlock") for items of item_size bytes
  // of size_class; an item above the largest class takes class kOversizeClass with
  // slots of its own size. Null when the allocator has no page.
  static mem_FixedBlock* Create(int id, mem_Allocator& allocator, int size_class,
                                unsigned item_size);

  void Release(mem_Allocator& allocator) override;

  int Id() const { return id_; }
  mem::blocks::FixedRegion& Region() const {
    return *reinterpret_cast<mem::blocks::FixedRegion*>(memory_ + region_offset_);
  }

  // The class of items larger than the largest slot class.
  static constexpr int kOversizeClass = 12;

 private:
  mem_FixedBlock(std::uint32_t* memory, int words, int id);

  int id_;
  int region_offset_;
};
static_assert(sizeof(mem_FixedBlock) == 32, "eight words");
static_assert(sizeof(mem_FixedBlock) == mem_FixedBlock::kRegionOffset * 4,
              "the region follows the record");

#endif
