// Phase paths ("ROOT->solve->assemble") arranged as a tree, each node with its phase's own
// totals and the highest peak anywhere below it.
#ifndef MEMTRACK_PHASE_TREE_H
#define MEMTRACK_PHASE_TREE_H

#include <map>
#include <memory>
#include <string>

#include "analysis.h"

namespace memtrack {

struct PhaseNode {
  std::string name;
  std::string path;
  std::int32_t id = -1;  // -1 for a node no record names
  PhaseTotals totals;
  std::int64_t subtree_peak = -1;
  std::int32_t subtree_peak_transaction = -1;
  std::map<std::string, std::unique_ptr<PhaseNode>> children;
};

std::unique_ptr<PhaseNode> BuildPhaseTree(Analysis const& analysis);

}  // namespace memtrack

#endif
