// A set of signed 32-bit integers held in two bit vectors: one for the members k >= 0
// (bit k) and one for the negative members (bit -k, so the most negative integer is bit
// 2^31). Membership, insertion and removal are single bit operations; union and
// intersection work a vector at a time.
#ifndef VARURUROR_OMI_INT_SET_H
#define VARURUROR_OMI_INT_SET_H

#include "varururor/frame/export.h"
#include "varururor/mem/operators.h"
#include "varururor/omi/bit_vector.h"

class omi_SetIT;

class VR_API omi_Set : public mem_AllocationOperatorsTiny {
 public:
  omi_Set() {}
  ~omi_Set() {}

  void Insert(int member);
  // Removing a non-member changes nothing.
  void Remove(int member);
  bool IsMember(int member) const;
  void Clear();
  // The number of members; a set of more than 2^31 - 1 members gives 2^31 - 1.
  int Size() const;

  // Union.
  omi_Set& operator+=(omi_Set const& other);
  // Intersection.
  omi_Set& operator&=(omi_Set const& other);

 private:
  friend class omi_SetIT;

  // The bit of a member in the vector of its sign: -k computed in unsigned arithmetic, so
  // that the most negative integer has a bit too.
  static unsigned int BitOf(int member) {
    unsigned int bits = static_cast<unsigned int>(member);
    return member < 0 ? 0u - bits : bits;
  }
  omi_BlkBitVect& VectorOf(int member) { return member < 0 ? negative_ : non_negative_; }
  omi_BlkBitVect const& VectorOf(int member) const {
    return member < 0 ? negative_ : non_negative_;
  }

  omi_BlkBitVect non_negative_;
  omi_BlkBitVect negative_;
};

#endif
