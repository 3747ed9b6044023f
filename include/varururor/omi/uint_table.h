// A map from unsigned 32-bit keys to values of a fixed-size type, with no hashing: a
// two-level sparse array indexed directly by the bits of the key.
//
// The high topBits of a key select a table block through the table's directory; the
// remaining bits select a cell of that block. A table block keeps its values in a blocked
// array and marks its occupied cells in a bit vector, so memory is spent only on populated
// stretches of the key space and a visit in key order needs no sorting. Insertion, removal
// and lookup are a shift, a mask and a few indexings. Instantiated for int, double and
// void*.
#ifndef VARURUROR_OMI_UINT_TABLE_H
#define VARURUROR_OMI_UINT_TABLE_H

#include "varururor/frame/export.h"
#include "varururor/mem/operators.h"
#include "varururor/omi/bit_vector.h"
#include "varururor/omi/blocked_array.h"

// The cells of one table block: values by cell number, and a bit per occupied cell. A cell
// keeps its old value after removal; only its bit is cleared.
template <typename T>
class VR_API omi_UintTableBlock : public omi_BlockedArray<T>, public mem_AllocationOperatorsTiny {
 public:
  // value_slots and log2_block_size shape the blocked array of values.
  omi_UintTableBlock(unsigned int value_slots, unsigned int log2_block_size);
  omi_UintTableBlock(omi_UintTableBlock const& other);
  virtual ~omi_UintTableBlock();

  // Both return whether the number of occupied cells changed.
  bool Insert(unsigned int cell, T const& value);
  bool Remove(unsigned int cell);
  void Clear();

  bool IsOccupied(unsigned int cell) const { return occupied_.TestBit(cell); }
  unsigned int Count() const { return occupied_.Count(); }
  omi_BlkBitVect const& Occupied() const { return occupied_; }

 private:
  omi_BlkBitVect occupied_;
};

template <typename T>
class omi_UintTableIterator;

template <typename T>
class VR_API omi_UintTable : public mem_AllocationOperatorsTiny {
 public:
  // The default shape: 12 high bits select one of up to 4096 table blocks of 2^20 cells;
  // inside a block the values lie in blocks of 2^10 cells reached through a directory of
  // 24 slots growing by 24.
  enum : unsigned int { kDefaultTopBits = 12, kDefaultSplitBits = 10, kDefaultValueSlots = 24 };

  omi_UintTable();
  // top_bits of the key select the table block (clamped to 1..31, since a block must hold
  // at least two cells and a directory index must fit in 31 bits); split_bits of the rest
  // select a value block inside it (clamped to the bits there are); value_slots is the
  // initial length and growth step of each table block's value directory.
  omi_UintTable(unsigned int top_bits, unsigned int split_bits, unsigned int value_slots);
  // A deep copy: the same shape, and a copy of every block.
  omi_UintTable(omi_UintTable const& other);
  omi_UintTable& operator=(omi_UintTable const&) = delete;
  ~omi_UintTable();

  // Stores value under key; true when the key was new. A present key's value is replaced.
  bool Insert(unsigned int key, T const& value);
  // True when the key was present and is now gone.
  bool Remove(unsigned int key);
  // Removes every key and block; the directory stays.
  void Clear();

  // The table block that would hold key, or null when none of its keys is present.
  omi_UintTableBlock<T>* FindBlock(unsigned int key) const {
    unsigned int index = key >> shift_;
    return index < static_cast<unsigned int>(directory_length_) ? directory_[index] : nullptr;
  }
  // The value cell of key, or null when the key is absent. The cell stays where it is
  // until its table block is freed (by removing the block's last key, Clear or the
  // destructor).
  T* Find(unsigned int key) const {
    omi_UintTableBlock<T>* block = FindBlock(key);
    if (block == nullptr) return nullptr;
    unsigned int cell = key & cell_mask_;
    return block->IsOccupied(cell) ? &block->CellRef(cell) : nullptr;
  }
  bool IsPresent(unsigned int key) const { return Find(key) != nullptr; }
  int Count() const { return count_; }

  // The number of directory slots: it grows in steps of 64 and never shrinks.
  int DirectoryLength() const { return directory_length_; }

 private:
  friend class omi_UintTableIterator<T>;

  // The library's own steps, not exported.
  VR_HIDDEN omi_UintTableBlock<T>* NewBlock() const;
  // Makes room for directory index; the new slots are empty.
  VR_HIDDEN void GrowDirectory(unsigned int index);
  VR_HIDDEN void DestroyBlocks();

  omi_UintTableBlock<T>** directory_;
  int count_;
  int directory_length_;
  unsigned int cell_mask_;
  unsigned int shift_;
  unsigned int block_directory_length_;
  unsigned int block_cell_bits_;
};

extern template class omi_UintTableBlock<int>;
extern template class omi_UintTableBlock<double>;
extern template class omi_UintTableBlock<void*>;
extern template class omi_UintTable<int>;
extern template class omi_UintTable<double>;
extern template class omi_UintTable<void*>;

#endif
