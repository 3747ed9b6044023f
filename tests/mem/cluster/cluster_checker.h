// What holds in a cluster between operations: tags, the free tree, largest free, usage, pages.
#ifndef VARURUROR_TESTS_MEM_CLUSTER_CLUSTER_CHECKER_H
#define VARURUROR_TESTS_MEM_CLUSTER_CLUSTER_CHECKER_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "../tbpool/pool_checker.h"
#include "mem/cluster/cluster.h"

namespace cluster_check {

using mem::cluster::FreeTree;
using mem::cluster::VariableRegion;

struct FreeBlock {
  int size;
  int position;
  bool operator<(FreeBlock const& other) const {
    return size != other.size ? size < other.size : position < other.position;
  }
  bool operator==(FreeBlock const& other) const {
    return size == other.size && position == other.position;
  }
};

// The free blocks in position order.
using Layout = std::vector<FreeBlock>;

// Checks the subtree under node; gives its height and appends its nodes in order.
inline int CheckSubtree(FreeTree const& tree, int node, int parent, Layout& order, int depth = 0) {
  if (node == FreeTree::kNone) return FreeTree::kMissingHeight;
  if (depth > 64) {
    ADD_FAILURE() << "the free tree loops";
    return 0;
  }
  EXPECT_EQ(tree.Parent(node), parent) << "node " << node;
  int smaller = CheckSubtree(tree, tree.Smaller(node), node, order, depth + 1);
  order.push_back({tree.SizeOf(node), node});
  int larger = CheckSubtree(tree, tree.Larger(node), node, order, depth + 1);
  int height = 1 + std::max(smaller, larger);
  EXPECT_EQ(tree.Height(node), height) << "node " << node;
  EXPECT_LE(std::abs(larger - smaller), 1) << "unbalanced at " << node;
  return height;
}

// Checks the whole cluster, walking its blocks from the first; gives the free blocks.
inline Layout CheckCluster(mem_Cluster const& cluster) {
  VariableRegion const& region = cluster.Variable();
  std::int32_t const* words = region.Words();
  Layout layout;
  int used_words = 0;
  EXPECT_EQ(words[VariableRegion::kHeaderWords - VariableRegion::kTagWords], 0);
  EXPECT_EQ(words[mem_Cluster::kWords - 1], 0);
  bool previous_free = false;
  int previous_size = 0;
  int position = VariableRegion::kHeaderWords;
  while (position < mem_Cluster::kWords) {
    std::int32_t header = words[position - 1];
    int size = std::abs(header);
    if (size < VariableRegion::kGranuleWords || size % VariableRegion::kGranuleWords != 0 ||
        position + size > mem_Cluster::kWords) {
      ADD_FAILURE() << "bad block size " << header << " at " << position;
      return layout;
    }
    EXPECT_EQ(words[position + size - VariableRegion::kTagWords], size) << "footer at " << position;
    EXPECT_EQ(words[position - VariableRegion::kTagWords], previous_size) << "at " << position;
    bool is_free = header < 0;
    if (is_free) {
      EXPECT_FALSE(previous_free) << "adjacent free blocks at " << position;
      EXPECT_GE(size, FreeTree::kNodeWords + VariableRegion::kTagWords) << "at " << position;
      layout.push_back({size, position});
    } else {
      used_words += size;
    }
    int page = position / mem_Cluster::kPageWords;
    if (position % mem_Cluster::kPageWords == 0 &&
        cluster.PageType(page) != mem_Cluster::kVariableClass) {
      EXPECT_FALSE(is_free) << "page " << page;
      EXPECT_GE(size, mem_Cluster::kPageWords) << "page " << page;
      EXPECT_LT(size, mem_Cluster::kPageWords + VariableRegion::kLeftoverWords) << "page " << page;
    }
    previous_free = is_free;
    previous_size = size;
    position += size;
  }
  EXPECT_EQ(position, mem_Cluster::kWords) << "the last block overruns the cluster";
  EXPECT_EQ(region.AllocatedWords(), used_words);

  FreeTree tree = region.Tree();
  Layout in_order;
  CheckSubtree(tree, tree.Root(), tree.Anchor(), in_order);
  Layout expected = layout;
  std::sort(expected.begin(), expected.end());
  EXPECT_TRUE(in_order == expected) << "the tree in order is not the free blocks by size";
  FreeBlock largest{region.LargestSize(), region.LargestPosition()};
  if (expected.empty()) {
    EXPECT_TRUE(largest == (FreeBlock{0, FreeTree::kNone}));
  } else {
    EXPECT_EQ(largest.size, expected.back().size);
    EXPECT_TRUE(std::binary_search(expected.begin(), expected.end(), largest))
        << "the largest record names no free block of the largest size";
  }
  EXPECT_EQ(cluster.LargestFree(), region.LargestSize());

  int usage = region.AllocatedWords();
  EXPECT_EQ(cluster.PageType(0), mem_Cluster::kVariableClass);
  for (int page = 1; page < mem_Cluster::kPageCount; ++page) {
    int type = cluster.PageType(page);
    if (type == mem_Cluster::kVariableClass) continue;
    if (type < 0 || type >= mem_Cluster::kFixedClassCount) {
      ADD_FAILURE() << "page " << page << " has type " << type;
      continue;
    }
    mem::blocks::FixedRegion const& fixed = cluster.PageRegion(page);
    EXPECT_EQ(fixed.Start(), page * mem_Cluster::kPageWords);
    EXPECT_EQ(fixed.SizeClass(), type);
    EXPECT_GT(fixed.AllocCount(), 0) << "an empty page stays fixed: " << page;
    pool_check::CheckRegion(fixed, page);
    // Allocation passes over unmarked pages: one with a free slot must be marked.
    EXPECT_TRUE(fixed.FirstFree() > fixed.Length() - fixed.SlotWords() || cluster.MayHaveRoom(page))
        << "page " << page << " has room but no mark";
    usage += fixed.AllocCount() - mem_Cluster::kPageWords;
  }
  EXPECT_EQ(cluster.Usage(), usage);
  for (int size_class = 0; size_class < mem_Cluster::kFixedClassCount; ++size_class) {
    int page = cluster.CurrentPage(size_class);
    EXPECT_TRUE(page == mem_Cluster::kNoPage || cluster.PageType(page) == size_class) << page;
  }
  return layout;
}

}  // namespace cluster_check

#endif
