// Walks the set bits of an omi_BlkBitVect in either direction, skipping absent blocks and
// zero words in one step each.
//
// A traversal works on a snapshot of its vector's geometry and directory, taken when it is
// made and again by First, Last and SetCurrent (and by SetBitTraverseData). Start with
// First, Last or SetCurrent, then step with Next or Prev until a step returns false; after
// that, every step returns false until the traversal is started again.
//
// The vector should not change during a walk. If it does, a step still reads only memory
// the vector owns and finds only bits that are set: when the directory has been replaced
// or the current block freed (SetBit or SetFromTo beyond the directory, Clear, the set
// operations), the step takes a new snapshot and goes on from the current bit number.
#ifndef VARURUROR_OMI_BIT_VECTOR_TRAVERSAL_H
#define VARURUROR_OMI_BIT_VECTOR_TRAVERSAL_H

#include "varururor/frame/export.h"
#include "varururor/mem/operators.h"
#include "varururor/omi/bit_vector.h"

class VR_API omi_BlkBitVectTrav : public mem_AllocationOperatorsTiny {
 public:
  // A null vector gives a traversal that finds nothing.
  explicit omi_BlkBitVectTrav(omi_BlkBitVect const* vector);
  omi_BlkBitVectTrav(omi_BlkBitVectTrav const& other);
  omi_BlkBitVectTrav& operator=(omi_BlkBitVectTrav const& other);
  virtual ~omi_BlkBitVectTrav();

  // Each moves to the first, last, next or previous set bit and stores its number in bit;
  // false (and 0 in bit) when there is none.
  bool First(unsigned int& bit);
  bool Last(unsigned int& bit);
  bool Next(unsigned int& bit);
  bool Prev(unsigned int& bit);
  // Stands on bit if it is set, otherwise on the next set bit above it (forward) or the
  // previous one below it; the bit found is stored in bit (0 when none).
  bool SetCurrent(unsigned int& bit, bool forward);

  // The bit the traversal stands on; 0 before a start and after a failed step.
  unsigned int Current() const { return bit_; }
  // True after a failed step (or a start that found nothing) until the next start: the
  // block index has then run to the directory's length.
  bool IsExhausted() const { return block_ >= static_cast<int>(directory_length_); }

 private:
  friend void SetBitTraverseData(omi_BlkBitVect const* vector, omi_BlkBitVectTrav* trav);

  // The library's own steps, not exported.
  // The lowest (highest) set bit in the present blocks from block upward (downward).
  VR_HIDDEN bool ScanUp(int block, unsigned int& bit);
  VR_HIDDEN bool ScanDown(int block, unsigned int& bit);
  // The lowest set bit from word on to the end of the current block, then in later blocks;
  // the highest set bit before word in the current block, then in earlier blocks.
  VR_HIDDEN bool WordsUp(unsigned int const* word, unsigned int& bit);
  VR_HIDDEN bool WordsDown(unsigned int const* word, unsigned int& bit);
  VR_HIDDEN void EnterBlock(int block);
  VR_HIDDEN bool StandOn(unsigned int const* word, unsigned int position, unsigned int& bit);
  // Every later step fails until the traversal is started again.
  VR_HIDDEN bool Exhausted(unsigned int& bit);
  // Whether the vector's directory or the current block is no longer the snapshot's.
  VR_HIDDEN bool IsStale() const;

  unsigned int directory_length_;
  unsigned int words_per_block_;
  unsigned int log2_words_per_block_;
  // The vector walked, in the place of the word mask, which every vector shares
  // (words_per_block_ - 1): a step can then tell that the vector has changed.
  omi_BlkBitVect const* vector_;
  unsigned int bits_per_block_;
  unsigned int* const* directory_;
  int block_;
  unsigned int const* word_;
  // The backward limit is held as the current block's first word (inclusive) rather than
  // the word before it, so that no pointer outside a block is ever formed.
  unsigned int const* first_word_;
  unsigned int const* past_last_;  // the forward limit: the word after the block's last
  unsigned int mask_;              // a single set bit within the current word
  unsigned int bit_;
};

#endif
