#include "varururor/omi/bit_vector_traversal.h"

#include <cstddef>

namespace {

constexpr unsigned int kBitsPerWord = 32;
constexpr unsigned int kTopBit = kBitsPerWord - 1;

// The positions of the lowest and highest set bit of a non-zero word: one instruction
// each instead of shifting a mask along the word.
unsigned int LowestBit(unsigned int word) { return static_cast<unsigned int>(__builtin_ctz(word)); }
unsigned int HighestBit(unsigned int word) {
  return kTopBit - static_cast<unsigned int>(__builtin_clz(word));
}

}  // namespace

void SetBitTraverseData(omi_BlkBitVect const* vector, omi_BlkBitVectTrav* trav) {
  if (trav == nullptr) return;
  // Every vector has the same block geometry; only the directory differs.
  trav->words_per_block_ = 1u << omi_BlkBitVect::kLog2WordsPerBlock;
  trav->log2_words_per_block_ = omi_BlkBitVect::kLog2WordsPerBlock;
  trav->vector_ = vector;
  trav->bits_per_block_ = trav->words_per_block_ * kBitsPerWord;
  trav->directory_length_ = vector == nullptr ? 0 : vector->directory_length_;
  trav->directory_ = vector == nullptr ? nullptr : vector->directory_;
}

omi_BlkBitVectTrav::omi_BlkBitVectTrav(omi_BlkBitVect const* vector)
    : block_(0), word_(nullptr), first_word_(nullptr), past_last_(nullptr), mask_(1), bit_(0) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_BlkBitVectTrav) == 52, "virtual table, then twelve 32-bit fields");
  static_assert(offsetof(omi_BlkBitVectTrav, directory_length_) == 4 &&
                    offsetof(omi_BlkBitVectTrav, words_per_block_) == 8 &&
                    offsetof(omi_BlkBitVectTrav, log2_words_per_block_) == 12 &&
                    offsetof(omi_BlkBitVectTrav, vector_) == 16 &&
                    offsetof(omi_BlkBitVectTrav, bits_per_block_) == 20 &&
                    offsetof(omi_BlkBitVectTrav, directory_) == 24,
                "the snapshot of the vector comes first");
  static_assert(
      offsetof(omi_BlkBitVectTrav, block_) == 28 && offsetof(omi_BlkBitVectTrav, word_) == 32 &&
          offsetof(omi_BlkBitVectTrav, first_word_) == 36 &&
          offsetof(omi_BlkBitVectTrav, past_last_) == 40 &&
          offsetof(omi_BlkBitVectTrav, mask_) == 44 && offsetof(omi_BlkBitVectTrav, bit_) == 48,
      "then the position");
#pragma GCC diagnostic pop
  SetBitTraverseData(vector, this);
}

omi_BlkBitVectTrav::omi_BlkBitVectTrav(omi_BlkBitVectTrav const& other) = default;

omi_BlkBitVectTrav& omi_BlkBitVectTrav::operator=(omi_BlkBitVectTrav const& other) = default;

omi_BlkBitVectTrav::~omi_BlkBitVectTrav() = default;

bool omi_BlkBitVectTrav::First(unsigned int& bit) {
  SetBitTraverseData(vector_, this);
  block_ = 0;
  return ScanUp(0, bit);
}

bool omi_BlkBitVectTrav::Last(unsigned int& bit) {
  SetBitTraverseData(vector_, this);
  return ScanDown(static_cast<int>(directory_length_) - 1, bit);
}

bool omi_BlkBitVectTrav::Next(unsigned int& bit) {
  if (word_ == nullptr) return Exhausted(bit);
  if (IsStale()) {
    if (bit_ == ~0u) return Exhausted(bit);
    bit = bit_ + 1;
    return SetCurrent(bit, true);
  }
  // The bits of the current word above the current one.
  unsigned int above = *word_ & ~(mask_ | (mask_ - 1));
  if (above != 0) return StandOn(word_, LowestBit(above), bit);
  return WordsUp(word_ + 1, bit);
}

bool omi_BlkBitVectTrav::Prev(unsigned int& bit) {
  if (word_ == nullptr) return Exhausted(bit);
  if (IsStale()) {
    if (bit_ == 0) return Exhausted(bit);
    bit = bit_ - 1;
    return SetCurrent(bit, false);
  }
  unsigned int below = *word_ & (mask_ - 1);
  if (below != 0) return StandOn(word_, HighestBit(below), bit);
  return WordsDown(word_, bit);
}

bool omi_BlkBitVectTrav::SetCurrent(unsigned int& bit, bool forward) {
  SetBitTraverseData(vector_, this);
  unsigned int block = bit >> (log2_words_per_block_ + omi_BlkBitVect::kLog2BitsPerWord);
  if (block >= directory_length_) return forward ? Exhausted(bit) : Last(bit);
  if (directory_[block] == nullptr) {
    return forward ? ScanUp(static_cast<int>(block), bit) : ScanDown(static_cast<int>(block), bit);
  }
  EnterBlock(static_cast<int>(block));
  word_ = first_word_ + ((bit >> omi_BlkBitVect::kLog2BitsPerWord) & (words_per_block_ - 1));
  mask_ = 1u << (bit & omi_BlkBitVect::kBitInWordMask);
  bit_ = bit;
  if ((*word_ & mask_) != 0) return true;
  return forward ? Next(bit) : Prev(bit);
}

bool omi_BlkBitVectTrav::ScanUp(int block, unsigned int& bit) {
  for (; block < static_cast<int>(directory_length_); ++block) {
    if (directory_[block] == nullptr) continue;
    EnterBlock(block);
    for (unsigned int const* word = first_word_; word != past_last_; ++word) {
      if (*word != 0) return StandOn(word, LowestBit(*word), bit);
    }
  }
  return Exhausted(bit);
}

bool omi_BlkBitVectTrav::ScanDown(int block, unsigned int& bit) {
  for (; block >= 0; --block) {
    if (directory_[block] == nullptr) continue;
    EnterBlock(block);
    for (unsigned int const* word = past_last_; word != first_word_;) {
      --word;
      if (*word != 0) return StandOn(word, HighestBit(*word), bit);
    }
  }
  return Exhausted(bit);
}

bool omi_BlkBitVectTrav::WordsUp(unsigned int const* word, unsigned int& bit) {
  for (; word != past_last_; ++word) {
    if (*word != 0) return StandOn(word, LowestBit(*word), bit);
  }
  return ScanUp(block_ + 1, bit);
}

bool omi_BlkBitVectTrav::WordsDown(unsigned int const* word, unsigned int& bit) {
  while (word != first_word_) {
    --word;
    if (*word != 0) return StandOn(word, HighestBit(*word), bit);
  }
  return ScanDown(block_ - 1, bit);
}

void omi_BlkBitVectTrav::EnterBlock(int block) {
  block_ = block;
  first_word_ = directory_[block];
  past_last_ = first_word_ + words_per_block_;
}

bool omi_BlkBitVectTrav::StandOn(unsigned int const* word, unsigned int position,
                                 unsigned int& bit) {
  word_ = word;
  mask_ = 1u << position;
  unsigned int word_in_block = static_cast<unsigned int>(word - first_word_);
  bit_ =
      static_cast<unsigned int>(block_) * bits_per_block_ + word_in_block * kBitsPerWord + position;
  bit = bit_;
  return true;
}

bool omi_BlkBitVectTrav::IsStale() const {
  // Compared in this order, so that the snapshot's directory is read only while it is
  // still the vector's.
  return vector_ != nullptr &&
         (vector_->directory_ != directory_ || vector_->directory_length_ != directory_length_ ||
          directory_[block_] != first_word_);
}

bool omi_BlkBitVectTrav::Exhausted(unsigned int& bit) {
  block_ = static_cast<int>(directory_length_);
  word_ = nullptr;
  bit_ = 0;
  bit = 0;
  return false;
}
