// A client module's component: dense internal numbers (0, 1, 2, ...) for the sparse
// external node ids of a mesh, in both directions, as solvers want them for their
// matrices. Built on the library's integer table and blocked array.
#ifndef VR_EXAMPLE_NODE_NUMBERING_H
#define VR_EXAMPLE_NODE_NUMBERING_H

#include "varururor/varururor.h"

class NodeNumbering : public mem_AllocationOperatorsTiny {
 public:
  NodeNumbering();
  NodeNumbering(NodeNumbering const&) = delete;
  NodeNumbering& operator=(NodeNumbering const&) = delete;

  // The internal number of external, given the next free one when external is new.
  int Number(int external);
  // The internal number of external, or -1 when it has none.
  int Find(int external) const;
  // The external id of an internal number; false outside 0 .. Count() - 1.
  bool ExternalOf(int internal, int& external) const;
  int Count() const { return count_; }

  // Numbers again in ascending order of the external ids (a smaller matrix bandwidth for
  // meshes numbered along their geometry).
  void SortByExternal();

  // "node <id> is number <n>" or "node <id> has no number", through translation.
  atr_String Describe(int external) const;

 private:
  omi_IntTable<int> internal_of_;
  omi_BlockedArray<unsigned int> external_of_;
  int count_;
};

#endif
