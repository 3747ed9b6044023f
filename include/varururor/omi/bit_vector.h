// A sparse set of unsigned 32-bit numbers held as a bit vector: bit i is set when i is a
// member. Bit i lives in word i >> 5 at position i & 31 (0 is the least significant bit);
// the words lie in a blocked array of 256-word blocks (8192 bits, 1024 bytes each), so
// only stretches of the number range that hold members cost memory. Every vector has the
// same block geometry, which the two-operand operations rely on.
//
// An all-zero block may stay allocated after UnsetBit; the set operations end with a
// recount that frees every all-zero block. Equality is of representation (see operator==).
#ifndef VARURUROR_OMI_BIT_VECTOR_H
#define VARURUROR_OMI_BIT_VECTOR_H

#include "varururor/frame/export.h"
#include "varururor/omi/blocked_array.h"

class omi_BlkBitVect;
class omi_BlkBitVectTrav;

// Copies the vector's geometry and directory into the traversal without moving it; a
// traversal whose vector's directory has grown is brought up to date with it.
VR_API void SetBitTraverseData(omi_BlkBitVect const* vector, omi_BlkBitVectTrav* trav);

class VR_API omi_BlkBitVect : public omi_BlockedArray<unsigned int> {
 public:
  // The geometry every vector has: a directory of 128 slots growing by 128, blocks of
  // 1 << 8 words.
  enum : unsigned int {
    kDirectoryStep = 128,
    kLog2WordsPerBlock = 8,
    kLog2BitsPerWord = 5,
    kBitInWordMask = 31
  };

  omi_BlkBitVect();
  omi_BlkBitVect(omi_BlkBitVect const& other);
  omi_BlkBitVect& operator=(omi_BlkBitVect const& other);
  ~omi_BlkBitVect() override;

  // Frees every block; the directory stays.
  void Clear();
  // Nothing happens, and nothing is allocated, when the bit already has the wanted value.
  void SetBit(unsigned int bit);
  void UnsetBit(unsigned int bit);
  bool TestBit(unsigned int bit) const {
    unsigned int const* word = CellPointer(bit >> kLog2BitsPerWord);
    return word != nullptr && ((*word >> (bit & kBitInWordMask)) & 1u) != 0;
  }
  // Sets every bit from from to to, both included; from greater than to sets bit from only.
  void SetFromTo(unsigned int from, unsigned int to);

  // Equal counts, equal directory lengths, the same present blocks and equal words: two
  // vectors with the same members differ when one has a longer directory or an all-zero
  // block the other lacks.
  bool operator==(omi_BlkBitVect const& other) const;
  // An order for sorting vectors: fewer members first (the result is the difference of the
  // counts), then by the first block present on one side only, then by the first unequal
  // word, compared as unsigned numbers.
  int Compare(omi_BlkBitVect const& other) const;
  // Every member of other is a member of this vector.
  bool Contains(omi_BlkBitVect const& other) const;

  omi_BlkBitVect& operator&=(omi_BlkBitVect const& other);
  omi_BlkBitVect& operator|=(omi_BlkBitVect const& other);
  // Removes other's members.
  omi_BlkBitVect& operator-=(omi_BlkBitVect const& other);
  omi_BlkBitVect& operator^=(omi_BlkBitVect const& other);

  // Prints the count and the members on aio_cerr, eight a line.
  virtual void DumpList() const;

  unsigned int Count() const { return count_; }

 private:
  friend void SetBitTraverseData(omi_BlkBitVect const* vector, omi_BlkBitVectTrav* trav);
  friend class omi_BlkBitVectTrav;

  // The library's own steps, not exported.
  enum class Operation { kAnd, kOr, kMinus, kXor };
  VR_HIDDEN void Combine(omi_BlkBitVect const& other, Operation operation);
  // Counts the set bits afresh and frees every all-zero block.
  VR_HIDDEN void Recount();

  unsigned int count_;
};

#endif
