#include "varururor/omi/blocked_array.h"

#include <cstddef>
#include <cstdio>

namespace {

// The growth step when the constructor is given no block count.
constexpr unsigned int kDefaultGrowthStep = 128;
// Larger shifts cannot address a cell.
constexpr unsigned int kMaxLog2BlockSize = 31;
// Cells per line of the block dump.
constexpr unsigned int kDumpCellsPerLine = 8;

}  // namespace

template <typename T>
omi_BlockedArray<T>::omi_BlockedArray(unsigned int block_count, unsigned int log2_block_size)
    : growth_step_(block_count == 0 ? kDefaultGrowthStep : block_count),
      directory_length_(0),
      block_size_(0),
      log2_block_size_(log2_block_size > kMaxLog2BlockSize ? kMaxLog2BlockSize : log2_block_size),
      cell_mask_(0),
      directory_(nullptr) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_BlockedArray) == 28, "virtual table, then six 32-bit fields");
  static_assert(offsetof(omi_BlockedArray, growth_step_) == 4 &&
                    offsetof(omi_BlockedArray, directory_length_) == 8 &&
                    offsetof(omi_BlockedArray, block_size_) == 12 &&
                    offsetof(omi_BlockedArray, log2_block_size_) == 16 &&
                    offsetof(omi_BlockedArray, cell_mask_) == 20 &&
                    offsetof(omi_BlockedArray, directory_) == 24,
                "growth step, directory length, block size, log2, mask, directory");
#pragma GCC diagnostic pop
  block_size_ = 1u << log2_block_size_;
  cell_mask_ = block_size_ - 1;
  if (block_count != 0) {
    directory_ = static_cast<T**>(omi_TakeZeroed(1ull * block_count * sizeof(T*)));
    directory_length_ = block_count;
  }
}

template <typename T>
omi_BlockedArray<T>::omi_BlockedArray(omi_BlockedArray const& other)
    : growth_step_(other.growth_step_),
      directory_length_(0),
      block_size_(other.block_size_),
      log2_block_size_(other.log2_block_size_),
      cell_mask_(other.cell_mask_),
      directory_(nullptr) {
  if (other.directory_length_ == 0) return;
  directory_ = static_cast<T**>(omi_TakeZeroed(1ull * other.directory_length_ * sizeof(T*)));
  directory_length_ = other.directory_length_;
  try {
    for (unsigned int slot = 0; slot < directory_length_; ++slot) {
      if (other.directory_[slot] == nullptr) continue;
      directory_[slot] = NewBlock();
      std::memcpy(directory_[slot], other.directory_[slot], 1ull * block_size_ * sizeof(T));
    }
  } catch (...) {
    // No destructor runs for a half-built object: give back what was taken.
    Clear();
    mem_Free(directory_);
    throw;
  }
}

template <typename T>
omi_BlockedArray<T>::~omi_BlockedArray() {
  Clear();
  mem_Free(directory_);
}

template <typename T>
void omi_BlockedArray<T>::Clear() {
  for (unsigned int slot = 0; slot < directory_length_; ++slot) {
    mem_Free(directory_[slot]);
    directory_[slot] = nullptr;
  }
}

template <typename T>
T* omi_BlockedArray<T>::NewBlock() const {
  return static_cast<T*>(omi_TakeZeroed(1ull * block_size_ * sizeof(T)));
}

template <typename T>
void omi_BlockedArray<T>::SetCell(unsigned int index, T const& value) {
  unsigned int slot = index >> log2_block_size_;
  if (slot >= directory_length_) {
    // The smallest multiple of the growth step above slot. Past 32 bits the directory
    // could not be allocated anyway; the capped request fails in GrowDirectory.
    unsigned long long wanted = (1ull * slot / growth_step_ + 1) * growth_step_;
    GrowDirectory(wanted > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<unsigned int>(wanted));
  }
  T*& block = directory_[slot];
  if (block == nullptr) block = NewBlock();
  block[index & cell_mask_] = value;
}

template <typename T>
void omi_BlockedArray<T>::DumpBlocks() const {
  for (unsigned int slot = 0; slot < directory_length_; ++slot) {
    T const* block = directory_[slot];
    if (block == nullptr) continue;
    unsigned int first = slot << log2_block_size_;
    std::printf("Block indices= %d - %d\n", static_cast<int>(first),
                static_cast<int>(first + block_size_ - 1));
    for (unsigned int j = 0; j < block_size_; ++j) {
      unsigned char const* bytes = reinterpret_cast<unsigned char const*>(block + j);
      for (unsigned int b = 0; b < sizeof(T); ++b) std::printf("%02x", bytes[b]);
      std::printf(j % kDumpCellsPerLine == kDumpCellsPerLine - 1 ? "\n" : "|");
    }
    std::printf("\n");
  }
}

template class omi_BlockedArray<unsigned int>;
template class omi_BlockedArray<void*>;
template class omi_BlockedArray<int>;
template class omi_BlockedArray<double>;
