// A two-level index from block ids to pointers: level-1 entries of level-2 arrays of
// 2^shift entries, all taken from an allocator under the tag "mem_Block". The pools keep
// their records in it; it is public only because a cache pool holds two of them, and
// clients never call it.
#ifndef VARURUROR_MEM_BLOCK_TABLE_H
#define VARURUROR_MEM_BLOCK_TABLE_H

#include <cstdint>

class mem_Allocator;

class mem_BlockTable {
 public:
  // Level-2 arrays of 2^shift entries; the first level starts with, and grows by, growth
  // entries. False from Ok() when the first level could not be had.
  explicit mem_BlockTable(mem_Allocator& allocator, int shift = kShift, int growth = kGrowth);
  ~mem_BlockTable();
  mem_BlockTable(mem_BlockTable const&) = delete;
  mem_BlockTable& operator=(mem_BlockTable const&) = delete;

  bool Ok() const { return level1_ != nullptr; }
  // False when the table cannot grow to hold id.
  bool Store(int id, void* value);
  // Only ids that were stored may be read.
  void* Get(int id) const { return level1_[id >> shift_][id & mask_]; }

  static constexpr int kShift = 8;
  static constexpr int kGrowth = 32;

 private:
  void*** level1_;
  int shift_;
  int mask_;
  int level1_entries_;
  int growth_;
  mem_Allocator* allocator_;
};
static_assert(sizeof(mem_BlockTable) == 24, "six words");

#endif
