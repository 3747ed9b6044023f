// The process-wide counters of the octree: the insertion depth, which also serves as the
// depth of Dump's walk, and Dump's statistics. Shared by all trees, which is why two trees
// must not be filled or dumped at once from different threads.
#ifndef VARURUROR_SRC_OMI_OCTREE_COUNTERS_H
#define VARURUROR_SRC_OMI_OCTREE_COUNTERS_H

namespace omi {

struct OctreeCounters {
  unsigned int depth;
  unsigned int cells;
  unsigned int leaves;
  unsigned int max_depth;
};

extern OctreeCounters g_octree_counters;

// One level of insertion for as long as it lives, so that an insertion left by an exception
// does not leave the depth raised for every later one.
class OctreeDepthLevel {
 public:
  OctreeDepthLevel() { ++g_octree_counters.depth; }
  ~OctreeDepthLevel() { --g_octree_counters.depth; }
  OctreeDepthLevel(OctreeDepthLevel const&) = delete;
  OctreeDepthLevel& operator=(OctreeDepthLevel const&) = delete;
};

// The format of the cell statistics, printed by omi_Octree::Dump and by a leaf dumped by
// itself.
constexpr char kOctreeTotalsFormat[] =
    "Total nodeCount=%d, numCell=%d, numLeaf=%d, maxDepth=%d, size=%d\n";
// The bytes Dump counts per cell and per leaf.
constexpr unsigned int kOctreeCellBytes = 64;
constexpr unsigned int kOctreeLeafBytes = 36;

}  // namespace omi

#endif
