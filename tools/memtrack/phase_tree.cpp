#include "phase_tree.h"

namespace memtrack {
namespace {

constexpr char kSeparator[] = "->";

PhaseNode* NodeFor(PhaseNode* root, std::string const& path) {
  PhaseNode* node = root;
  std::size_t start = path.find(kSeparator);
  while (start != std::string::npos) {
    std::size_t const name_start = start + 2;
    std::size_t const end = path.find(kSeparator, name_start);
    std::string const name =
        path.substr(name_start, end == std::string::npos ? end : end - name_start);
    std::unique_ptr<PhaseNode>& child = node->children[name];
    if (!child) {
      child = std::make_unique<PhaseNode>();
      child->name = name;
      child->path = path.substr(0, end);
    }
    node = child.get();
    start = end;
  }
  return node;
}

void GatherPeaks(PhaseNode* node) {
  node->subtree_peak = node->totals.peak_live;
  node->subtree_peak_transaction = node->totals.peak_transaction;
  for (auto& [name, child] : node->children) {
    GatherPeaks(child.get());
    if (child->subtree_peak > node->subtree_peak) {
      node->subtree_peak = child->subtree_peak;
      node->subtree_peak_transaction = child->subtree_peak_transaction;
    }
  }
}

}  // namespace

std::unique_ptr<PhaseNode> BuildPhaseTree(Analysis const& analysis) {
  auto root = std::make_unique<PhaseNode>();
  root->name = mem::tracker::kRootPhase;
  root->path = mem::tracker::kRootPhase;
  for (auto const& [id, path] : analysis.phases()) NodeFor(root.get(), path)->id = id;
  for (auto const& [id, totals] : analysis.by_phase()) {
    PhaseNode* node = NodeFor(root.get(), analysis.PhasePath(id));
    node->id = id;
    node->totals = totals;
  }
  GatherPeaks(root.get());
  return root;
}

}  // namespace memtrack
