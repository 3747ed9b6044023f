// Visits the members of an omi_Set: the negative members by increasing magnitude (-1, -2,
// -3, ...), then the others in increasing order (0, 1, 2, ...).
//
// Calling order: First, then while IsDone is false: CurrentItem, Next. The iterator works on
// the set's vectors as they were when it was made: the set must not change while the
// iterator is in use.
#ifndef VARURUROR_OMI_INT_SET_ITERATOR_H
#define VARURUROR_OMI_INT_SET_ITERATOR_H

#include "varururor/frame/export.h"
#include "varururor/mem/operators.h"
#include "varururor/omi/bit_vector_traversal.h"
#include "varururor/omi/int_set.h"

class VR_API omi_SetIT {
 public:
  explicit omi_SetIT(omi_Set const& set);

  // The mix-in's operators, declared here: as a base, mem_AllocationOperatorsTiny would need
  // an address of its own beside the first traversal's (itself one) and add padding.
  static void* operator new(unsigned int size) { return mem_OperatorNewTinyThrow(size); }
  static void operator delete(void* p) { mem_Free(p); }

  void First();
  bool IsDone() const;
  void Next();
  int CurrentItem() const;

 private:
  omi_BlkBitVectTrav non_negative_;
  omi_BlkBitVectTrav negative_;
};

#endif
