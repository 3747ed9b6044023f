#include "varururor/omi/bit_vector.h"

#include <cstddef>
#include <cstring>

#include "varururor/aio/ios.h"
#include "varururor/aio/manipulators.h"
#include "varururor/aio/standard_streams.h"
#include "varururor/omi/bit_vector_traversal.h"

namespace {

constexpr unsigned int kWordsPerBlock = 1u << omi_BlkBitVect::kLog2WordsPerBlock;
constexpr unsigned int kAllBits = 0xFFFFFFFFu;
constexpr unsigned int kBitsPerWord = 32;
constexpr unsigned int kByteBits = 8;
constexpr unsigned int kByteMask = 0xFF;
constexpr unsigned int kByteValues = 256;
// Members per line of the list dump, and the field each is printed in ("%8d").
constexpr unsigned int kDumpPerLine = 8;
constexpr int kDumpWidth = 8;

// The number of set bits of each byte value.
struct ByteBitCounts {
  unsigned char count[kByteValues];
  constexpr ByteBitCounts() : count() {
    for (unsigned int value = 0; value < kByteValues; ++value) {
      count[value] = static_cast<unsigned char>((value & 1u) + count[value >> 1]);
    }
  }
};
constexpr ByteBitCounts kByteBitCounts;

unsigned int WordBitCount(unsigned int word) {
  unsigned char const* table = kByteBitCounts.count;
  return table[word & kByteMask] + table[(word >> kByteBits) & kByteMask] +
         table[(word >> (2 * kByteBits)) & kByteMask] + table[word >> (3 * kByteBits)];
}

unsigned int BlockBitCount(unsigned int const* block) {
  unsigned int total = 0;
  for (unsigned int w = 0; w < kWordsPerBlock; ++w) total += WordBitCount(block[w]);
  return total;
}

// One block of a set operation: each own word combined with the other's, the result's set
// bits counted in the same pass.
template <typename Combine>
unsigned int CombineBlock(unsigned int* mine, unsigned int const* theirs, Combine combine) {
  unsigned int total = 0;
  for (unsigned int w = 0; w < kWordsPerBlock; ++w) {
    mine[w] = combine(mine[w], theirs[w]);
    total += WordBitCount(mine[w]);
  }
  return total;
}

// Prints in decimal, right-aligned and without a pending width whatever the caller left
// in the stream's formatting; restores it afterwards.
class PlainFormat {
 public:
  explicit PlainFormat(aio_ostream& s) : stream_(s), flags_(s.flags()), width_(s.width()) {
    aio_setwidth(stream_, 0);
    stream_.setf(0, kAllFlags);
  }
  ~PlainFormat() {
    aio_setwidth(stream_, width_);
    stream_.setf(static_cast<int>(flags_), kAllFlags);
  }
  PlainFormat(PlainFormat const&) = delete;
  PlainFormat& operator=(PlainFormat const&) = delete;

 private:
  static constexpr int kAllFlags = -1;
  aio_ostream& stream_;
  unsigned int flags_;
  int width_;
};

}  // namespace

omi_BlkBitVect::omi_BlkBitVect() : omi_BlockedArray(kDirectoryStep, kLog2WordsPerBlock), count_(0) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_BlkBitVect) == 32, "the blocked array of words, then the count");
  static_assert(offsetof(omi_BlkBitVect, count_) == 28, "the count follows the blocked array");
#pragma GCC diagnostic pop
}

omi_BlkBitVect::omi_BlkBitVect(omi_BlkBitVect const& other)
    : omi_BlockedArray(other), count_(other.count_) {}

omi_BlkBitVect& omi_BlkBitVect::operator=(omi_BlkBitVect const& other) {
  if (this == &other) return *this;
  omi_BlockedArray::operator=(other);
  count_ = other.count_;
  return *this;
}

omi_BlkBitVect::~omi_BlkBitVect() = default;

void omi_BlkBitVect::Clear() {
  omi_BlockedArray::Clear();
  count_ = 0;
}

void omi_BlkBitVect::SetBit(unsigned int bit) {
  unsigned int index = bit >> kLog2BitsPerWord;
  unsigned int mask = 1u << (bit & kBitInWordMask);
  unsigned int* word = CellPointer(index);
  if (word != nullptr) {
    if ((*word & mask) != 0) return;
    *word |= mask;
  } else {
    SetCell(index, mask);
  }
  ++count_;
}

void omi_BlkBitVect::UnsetBit(unsigned int bit) {
  unsigned int* word = CellPointer(bit >> kLog2BitsPerWord);
  unsigned int mask = 1u << (bit & kBitInWordMask);
  if (word == nullptr || (*word & mask) == 0) return;
  *word &= ~mask;
  --count_;
}

void omi_BlkBitVect::SetFromTo(unsigned int from, unsigned int to) {
  unsigned int from_word = from >> kLog2BitsPerWord;
  unsigned int to_word = to >> kLog2BitsPerWord;
  for (unsigned int w = from_word + 1; w < to_word; ++w) {
    if (unsigned int const* word = CellPointer(w)) count_ -= WordBitCount(*word);
    SetCell(w, kAllBits);
    count_ += kBitsPerWord;
  }
  // The rest of from's word, at least bit from itself. The bit number wraps to 0 past the
  // last bit, which also begins a new word.
  unsigned int bit = from;
  do {
    SetBit(bit++);
  } while (bit <= to && (bit & kBitInWordMask) != 0);
  // The start of to's word; from greater than to sets bit from only.
  if (to_word > from_word) {
    for (bit = to_word << kLog2BitsPerWord;; ++bit) {
      SetBit(bit);
      if (bit == to) break;
    }
  }
}

bool omi_BlkBitVect::operator==(omi_BlkBitVect const& other) const {
  if (count_ != other.count_ || directory_length_ != other.directory_length_) return false;
  for (unsigned int slot = 0; slot < directory_length_; ++slot) {
    unsigned int const* mine = directory_[slot];
    unsigned int const* theirs = other.directory_[slot];
    if ((mine == nullptr) != (theirs == nullptr)) return false;
    if (mine != nullptr && std::memcmp(mine, theirs, kWordsPerBlock * sizeof(unsigned int)) != 0) {
      return false;
    }
  }
  return true;
}

int omi_BlkBitVect::Compare(omi_BlkBitVect const& other) const {
  if (count_ != other.count_) return static_cast<int>(count_ - other.count_);
  for (unsigned int slot = 0; slot < other.directory_length_; ++slot) {
    unsigned int const* mine = slot < directory_length_ ? directory_[slot] : nullptr;
    unsigned int const* theirs = other.directory_[slot];
    // The slots from this one to the end of the other's directory.
    int remaining = static_cast<int>(other.directory_length_ - slot);
    if (mine == nullptr && theirs != nullptr) return -remaining;
    if (mine != nullptr && theirs == nullptr) return remaining;
    if (mine == nullptr) continue;
    for (unsigned int w = 0; w < kWordsPerBlock; ++w) {
      if (mine[w] > theirs[w]) return 1;
      if (mine[w] < theirs[w]) return -1;
    }
  }
  return 0;
}

bool omi_BlkBitVect::Contains(omi_BlkBitVect const& other) const {
  if (count_ < other.count_) return false;
  for (unsigned int slot = 0; slot < other.directory_length_; ++slot) {
    unsigned int const* theirs = other.directory_[slot];
    if (theirs == nullptr) continue;
    unsigned int const* mine = slot < directory_length_ ? directory_[slot] : nullptr;
    // An all-zero block of the other's (left by UnsetBit) holds nothing to contain.
    for (unsigned int w = 0; w < kWordsPerBlock; ++w) {
      unsigned int own = mine == nullptr ? 0 : mine[w];
      if ((own & theirs[w]) != theirs[w]) return false;
    }
  }
  return true;
}

omi_BlkBitVect& omi_BlkBitVect::operator&=(omi_BlkBitVect const& other) {
  Combine(other, Operation::kAnd);
  return *this;
}

omi_BlkBitVect& omi_BlkBitVect::operator|=(omi_BlkBitVect const& other) {
  Combine(other, Operation::kOr);
  return *this;
}

omi_BlkBitVect& omi_BlkBitVect::operator-=(omi_BlkBitVect const& other) {
  Combine(other, Operation::kMinus);
  return *this;
}

omi_BlkBitVect& omi_BlkBitVect::operator^=(omi_BlkBitVect const& other) {
  Combine(other, Operation::kXor);
  return *this;
}

// The operation and the recount that ends it are done in one pass over each block, and
// every all-zero block is freed.
void omi_BlkBitVect::Combine(omi_BlkBitVect const& other, Operation operation) {
  bool adds = operation == Operation::kOr || operation == Operation::kXor;
  if (adds) GrowDirectory(other.directory_length_);
  unsigned int total = 0;
  try {
    for (unsigned int slot = 0; slot < directory_length_; ++slot) {
      unsigned int*& mine = directory_[slot];
      unsigned int const* theirs =
          slot < other.directory_length_ ? other.directory_[slot] : nullptr;
      unsigned int bits = 0;
      if (mine == nullptr) {
        if (!adds || theirs == nullptr) continue;
        bits = BlockBitCount(theirs);
        if (bits != 0) {
          mine = NewBlock();
          std::memcpy(mine, theirs, kWordsPerBlock * sizeof(unsigned int));
        }
      } else if (theirs == nullptr) {
        if (operation != Operation::kAnd) bits = BlockBitCount(mine);
      } else {
        switch (operation) {
          case Operation::kAnd:
            bits = CombineBlock(mine, theirs, [](unsigned int a, unsigned int b) { return a & b; });
            break;
          case Operation::kOr:
            bits = CombineBlock(mine, theirs, [](unsigned int a, unsigned int b) { return a | b; });
            break;
          case Operation::kMinus:
            bits =
                CombineBlock(mine, theirs, [](unsigned int a, unsigned int b) { return a & ~b; });
            break;
          case Operation::kXor:
            bits = CombineBlock(mine, theirs, [](unsigned int a, unsigned int b) { return a ^ b; });
            break;
        }
      }
      if (bits == 0 && mine != nullptr) {
        mem_Free(mine);
        mine = nullptr;
      }
      total += bits;
    }
  } catch (...) {
    // A block copy could not be allocated: the slots before it are combined, the others
    // not; the count must still tell the truth.
    Recount();
    throw;
  }
  count_ = total;
}

void omi_BlkBitVect::Recount() {
  unsigned int total = 0;
  for (unsigned int slot = 0; slot < directory_length_; ++slot) {
    unsigned int*& block = directory_[slot];
    if (block == nullptr) continue;
    unsigned int bits = BlockBitCount(block);
    if (bits == 0) {
      mem_Free(block);
      block = nullptr;
    }
    total += bits;
  }
  count_ = total;
}

void omi_BlkBitVect::DumpList() const {
  PlainFormat plain(aio_cerr);
  if (count_ == 0) {
    aio_cerr.print("Empty List\n");
    return;
  }
  aio_cerr.print("ListCount=").print_u_int(count_);
  aio_endl(aio_cerr);
  omi_BlkBitVectTrav trav(this);
  unsigned int printed = 0;
  unsigned int bit = 0;
  for (bool found = trav.First(bit); found; found = trav.Next(bit)) {
    aio_setwidth(aio_cerr, kDumpWidth);
    aio_cerr.print_int(static_cast<int>(bit));
    if (++printed % kDumpPerLine == 0) aio_endl(aio_cerr);
  }
  // A count that fills its last line exactly is followed by an empty line.
  aio_endl(aio_cerr);
}
