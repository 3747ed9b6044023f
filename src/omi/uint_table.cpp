#include "varururor/omi/uint_table.h"

#include <cstddef>

#include "varururor/omi/uint_table_iterator.h"

namespace {

constexpr unsigned int kKeyBits = 32;
// The directory grows to the next multiple of this many slots above the index it needs.
constexpr unsigned int kLog2DirectoryStep = 6;
// A table block holds at least two cells, and a directory index fits in 31 bits.
constexpr unsigned int kMinTopBits = 1;
constexpr unsigned int kMaxTopBits = kKeyBits - 1;
constexpr int kInitialDirectoryLength = 2;

unsigned int Clamp(unsigned int value, unsigned int low, unsigned int high) {
  return value < low ? low : value > high ? high : value;
}

}  // namespace

template <typename T>
omi_UintTableBlock<T>::omi_UintTableBlock(unsigned int value_slots, unsigned int log2_block_size)
    : omi_BlockedArray<T>(value_slots, log2_block_size) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_UintTableBlock) == 60, "the blocked array of values, then the bits");
  static_assert(offsetof(omi_UintTableBlock, occupied_) == 28, "the bits follow the values");
#pragma GCC diagnostic pop
}

template <typename T>
omi_UintTableBlock<T>::omi_UintTableBlock(omi_UintTableBlock const& other)
    : omi_BlockedArray<T>(other), occupied_(other.occupied_) {}

template <typename T>
omi_UintTableBlock<T>::~omi_UintTableBlock() = default;

template <typename T>
bool omi_UintTableBlock<T>::Insert(unsigned int cell, T const& value) {
  unsigned int before = occupied_.Count();
  occupied_.SetBit(cell);
  // SetCell without a call when the value block is there already.
  if (T* slot = this->CellPointer(cell)) {
    *slot = value;
  } else {
    this->SetCell(cell, value);
  }
  return occupied_.Count() != before;
}

template <typename T>
bool omi_UintTableBlock<T>::Remove(unsigned int cell) {
  unsigned int before = occupied_.Count();
  occupied_.UnsetBit(cell);
  return occupied_.Count() != before;
}

template <typename T>
void omi_UintTableBlock<T>::Clear() {
  occupied_.Clear();
  omi_BlockedArray<T>::Clear();
}

template <typename T>
omi_UintTable<T>::omi_UintTable()
    : omi_UintTable(kDefaultTopBits, kDefaultSplitBits, kDefaultValueSlots) {}

template <typename T>
omi_UintTable<T>::omi_UintTable(unsigned int top_bits, unsigned int split_bits,
                                unsigned int value_slots)
    : directory_(nullptr),
      count_(0),
      directory_length_(0),
      cell_mask_(0),
      shift_(kKeyBits - Clamp(top_bits, kMinTopBits, kMaxTopBits)),
      block_directory_length_(value_slots),
      block_cell_bits_(0) {
  static_assert(sizeof(omi_UintTable) == 28, "seven 32-bit fields");
  static_assert(offsetof(omi_UintTable, directory_) == 0 && offsetof(omi_UintTable, count_) == 4 &&
                    offsetof(omi_UintTable, directory_length_) == 8 &&
                    offsetof(omi_UintTable, cell_mask_) == 12 &&
                    offsetof(omi_UintTable, shift_) == 16 &&
                    offsetof(omi_UintTable, block_directory_length_) == 20 &&
                    offsetof(omi_UintTable, block_cell_bits_) == 24,
                "directory, count, directory length, mask, shift, value slots, cell bits");
  cell_mask_ = (1u << shift_) - 1;
  block_cell_bits_ = shift_ - Clamp(split_bits, 0, shift_);
  directory_ = static_cast<omi_UintTableBlock<T>**>(
      omi_TakeZeroed(kInitialDirectoryLength * sizeof(omi_UintTableBlock<T>*)));
  directory_length_ = kInitialDirectoryLength;
}

template <typename T>
omi_UintTable<T>::omi_UintTable(omi_UintTable const& other)
    : directory_(nullptr),
      count_(0),
      directory_length_(0),
      cell_mask_(other.cell_mask_),
      shift_(other.shift_),
      block_directory_length_(other.block_directory_length_),
      block_cell_bits_(other.block_cell_bits_) {
  directory_ = static_cast<omi_UintTableBlock<T>**>(
      omi_TakeZeroed(1ull * other.directory_length_ * sizeof(omi_UintTableBlock<T>*)));
  directory_length_ = other.directory_length_;
  try {
    for (int index = 0; index < directory_length_; ++index) {
      if (other.directory_[index] != nullptr) {
        directory_[index] = new omi_UintTableBlock<T>(*other.directory_[index]);
      }
    }
  } catch (...) {
    // No destructor runs for a half-built object: give back what was taken.
    DestroyBlocks();
    mem_Free(directory_);
    throw;
  }
  count_ = other.count_;
}

template <typename T>
omi_UintTable<T>::~omi_UintTable() {
  DestroyBlocks();
  mem_Free(directory_);
}

template <typename T>
bool omi_UintTable<T>::Insert(unsigned int key, T const& value) {
  unsigned int index = key >> shift_;
  if (index >= static_cast<unsigned int>(directory_length_)) GrowDirectory(index);
  omi_UintTableBlock<T>*& block = directory_[index];
  if (block == nullptr) block = NewBlock();
  if (!block->Insert(key & cell_mask_, value)) return false;
  ++count_;
  return true;
}

template <typename T>
bool omi_UintTable<T>::Remove(unsigned int key) {
  omi_UintTableBlock<T>* block = FindBlock(key);
  if (block == nullptr) return false;
  bool removed = block->Remove(key & cell_mask_);
  // A block lives only while it holds a key.
  if (block->Count() == 0) {
    delete block;
    directory_[key >> shift_] = nullptr;
  }
  if (removed) --count_;
  return removed;
}

template <typename T>
void omi_UintTable<T>::Clear() {
  DestroyBlocks();
  count_ = 0;
}

template <typename T>
omi_UintTableBlock<T>* omi_UintTable<T>::NewBlock() const {
  return new omi_UintTableBlock<T>(block_directory_length_, block_cell_bits_);
}

template <typename T>
void omi_UintTable<T>::GrowDirectory(unsigned int index) {
  // The smallest multiple of the step above index; with at least one bit of shift, the
  // index is below 2^31 and the length fits.
  unsigned int length = ((index >> kLog2DirectoryStep) + 1) << kLog2DirectoryStep;
  auto grown = static_cast<omi_UintTableBlock<T>**>(
      omi_TakeZeroed(1ull * length * sizeof(omi_UintTableBlock<T>*)));
  for (int slot = 0; slot < directory_length_; ++slot) grown[slot] = directory_[slot];
  mem_Free(directory_);
  directory_ = grown;
  directory_length_ = static_cast<int>(length);
}

template <typename T>
void omi_UintTable<T>::DestroyBlocks() {
  for (int index = 0; index < directory_length_; ++index) {
    delete directory_[index];
    directory_[index] = nullptr;
  }
}

template <typename T>
omi_UintTableIterator<T>::~omi_UintTableIterator() {
  static_assert(sizeof(omi_UintTableIterator) == 36, "nine 32-bit fields");
  static_assert(offsetof(omi_UintTableIterator, table_) == 0 &&
                    offsetof(omi_UintTableIterator, cell_) == 4 &&
                    offsetof(omi_UintTableIterator, block_base_) == 8 &&
                    offsetof(omi_UintTableIterator, position_) == 12 &&
                    offsetof(omi_UintTableIterator, block_) == 16 &&
                    offsetof(omi_UintTableIterator, traversal_) == 20 &&
                    offsetof(omi_UintTableIterator, done_) == 24 &&
                    offsetof(omi_UintTableIterator, compare_) == 28 &&
                    offsetof(omi_UintTableIterator, sorted_) == 32,
                "table, cell, block base, position, block, traversal, done, compare, list");
  static_assert(sizeof(omi_UintTableSortRecord<T>) == 8 &&
                    offsetof(omi_UintTableSortRecord<T>, key) == 0 &&
                    offsetof(omi_UintTableSortRecord<T>, value) == 4,
                "a sorted-visit record is the key, then the value cell");
  delete traversal_;
  FreeSorted();
}

template class omi_UintTableBlock<int>;
template class omi_UintTableBlock<double>;
template class omi_UintTableBlock<void*>;
template class omi_UintTable<int>;
template class omi_UintTable<double>;
template class omi_UintTable<void*>;
template omi_UintTableIterator<int>::~omi_UintTableIterator();
template omi_UintTableIterator<double>::~omi_UintTableIterator();
template omi_UintTableIterator<void*>::~omi_UintTableIterator();
