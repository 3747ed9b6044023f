// A sparse, growable array of fixed-size cells addressed by an unsigned 32-bit index.
//
// The index space is cut into blocks of a power-of-two number of cells; a directory holds
// one pointer per block, and a block is taken (zero-filled) only when one of its cells is
// first written. Blocks never move once created, so a pointer to a cell stays valid until
// its block is freed. Instantiated inside the library for unsigned int and void* (both
// exported) and for int and double (used by the tables only).
#ifndef VARURUROR_OMI_BLOCKED_ARRAY_H
#define VARURUROR_OMI_BLOCKED_ARRAY_H

#include <cstring>

#include "varururor/frame/export.h"
#include "varururor/mem/operators.h"

// A zero-filled block of bytes from the allocation front end, released with mem_Free.
// bytes is 64-bit so that a size past the 32-bit address space cannot wrap round to a small
// block: such a request fails like any other that cannot be met (std::bad_alloc).
inline void* omi_TakeZeroed(unsigned long long bytes) {
  unsigned int const kLargestRequest = 0xFFFFFFFFu;
  unsigned int size = bytes > kLargestRequest ? kLargestRequest : static_cast<unsigned int>(bytes);
  void* p = mem_OperatorNewThrowBuiltin(size);
  std::memset(p, 0, size);
  return p;
}

template <typename T>
class omi_BlockedArray {
 public:
  // block_count 0: no directory until the first write, which makes one of 128 slots and
  // grows by 128. Otherwise a directory of block_count empty slots, growing by block_count.
  // A log2_block_size above 31 is taken as 31.
  omi_BlockedArray(unsigned int block_count, unsigned int log2_block_size);
  omi_BlockedArray(omi_BlockedArray const& other);
  // Takes other's growth step, geometry and blocks; own blocks are reused where they fit.
  omi_BlockedArray& operator=(omi_BlockedArray const& other) {
    if (this == &other) return *this;
    growth_step_ = other.growth_step_;
    if (directory_length_ != other.directory_length_ || block_size_ != other.block_size_) {
      Clear();
      if (directory_length_ != other.directory_length_) {
        mem_Free(directory_);
        directory_ = nullptr;
        directory_length_ = 0;
        if (other.directory_length_ != 0) {
          directory_ =
              static_cast<T**>(omi_TakeZeroed(1ull * other.directory_length_ * sizeof(T*)));
          directory_length_ = other.directory_length_;
        }
      }
      block_size_ = other.block_size_;
      log2_block_size_ = other.log2_block_size_;
      cell_mask_ = other.cell_mask_;
    }
    unsigned long long block_bytes = 1ull * block_size_ * sizeof(T);
    for (unsigned int slot = 0; slot < directory_length_; ++slot) {
      T const* theirs = other.directory_[slot];
      if (theirs == nullptr) {
        mem_Free(directory_[slot]);
        directory_[slot] = nullptr;
        continue;
      }
      if (directory_[slot] == nullptr)
        directory_[slot] = static_cast<T*>(omi_TakeZeroed(block_bytes));
      std::memcpy(directory_[slot], theirs, block_bytes);
    }
    return *this;
  }
  virtual ~omi_BlockedArray();

  // Stores value at index, growing the directory and creating the block as needed.
  void SetCell(unsigned int index, T const& value);

  // Enlarges the directory to new_length slots (new ones empty); never shrinks it.
  void GrowDirectory(unsigned int new_length) {
    if (new_length <= directory_length_) return;
    T** grown = static_cast<T**>(omi_TakeZeroed(1ull * new_length * sizeof(T*)));
    if (directory_length_ != 0) std::memcpy(grown, directory_, directory_length_ * sizeof(T*));
    mem_Free(directory_);
    directory_ = grown;
    directory_length_ = new_length;
  }

  // The cell of index, or null when its block is absent or beyond the directory.
  T* CellPointer(unsigned int index) const {
    unsigned int slot = index >> log2_block_size_;
    if (slot >= directory_length_) return nullptr;
    T* block = directory_[slot];
    return block == nullptr ? nullptr : block + (index & cell_mask_);
  }
  // The cell of an index whose block is known to exist; no checks.
  T& CellRef(unsigned int index) const {
    return directory_[index >> log2_block_size_][index & cell_mask_];
  }

  // Prints the present blocks on standard output, eight cells a line, for debugging.
  void DumpBlocks() const;

  // The extent of the array: cells 0 to DirectoryLength() * BlockSize() - 1 may be present.
  unsigned int DirectoryLength() const { return directory_length_; }
  unsigned int BlockSize() const { return block_size_; }

 protected:
  // Frees every block; the directory and its length stay.
  void Clear();

  // A zero-filled block; the library's own step, not exported.
  VR_HIDDEN T* NewBlock() const;

  unsigned int growth_step_;
  unsigned int directory_length_;
  unsigned int block_size_;
  unsigned int log2_block_size_;
  unsigned int cell_mask_;
  T** directory_;
};

extern template class VR_API omi_BlockedArray<unsigned int>;
extern template class VR_API omi_BlockedArray<void*>;

#endif
