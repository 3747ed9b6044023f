#include "node_numbering.h"

namespace {
// 1024 ids a block: a mesh of a few thousand nodes takes a handful of blocks.
constexpr unsigned int kLog2BlockSize = 10;
}  // namespace

NodeNumbering::NodeNumbering() : external_of_(0, kLog2BlockSize), count_(0) {}

int NodeNumbering::Number(int external) {
  if (int const* known = internal_of_.Find(external)) return *known;
  int const internal = count_;
  internal_of_.Insert(external, internal);
  external_of_.SetCell(static_cast<unsigned int>(internal), static_cast<unsigned int>(external));
  ++count_;
  return internal;
}

int NodeNumbering::Find(int external) const {
  int const* known = internal_of_.Find(external);
  return known != nullptr ? *known : -1;
}

bool NodeNumbering::ExternalOf(int internal, int& external) const {
  if (internal < 0 || internal >= count_) return false;
  external = static_cast<int>(external_of_.CellRef(static_cast<unsigned int>(internal)));
  return true;
}

void NodeNumbering::SortByExternal() {
  omi_IntTableIterator<int> visit(internal_of_);
  int next = 0;
  for (visit.First(); !visit.IsDone(); visit.Next()) {
    int const external = visit.CurrentKey();
    // The table's cells stay where they are: only their values change during the visit.
    *internal_of_.Find(external) = next;
    external_of_.SetCell(static_cast<unsigned int>(next), static_cast<unsigned int>(external));
    ++next;
  }
}

atr_String NodeNumbering::Describe(int external) const {
  int const internal = Find(external);
  if (internal < 0) {
    atr_translate message("node %1$d has no number");
    atr_SubstituteFormat(message, 1, external);
    return message.Result();
  }
  atr_translate message("node %1$d is number %2$d");
  atr_SubstituteFormat(message, 1, external);
  atr_SubstituteFormat(message, 2, internal);
  return message.Result();
}
