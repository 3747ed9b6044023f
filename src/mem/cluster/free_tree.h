// The free tree of a variable region: an AVL tree whose nodes live in the free blocks
// themselves. A node is the first four data words of its block (parent, larger child,
// smaller child, height) and is named by the block's word position; nodes are ordered by
// block size, then by position. The tree hangs from an anchor node whose larger child
// is the root, so the root's parent is the anchor and no case needs the root apart.
#ifndef VARURUROR_MEM_CLUSTER_FREE_TREE_H
#define VARURUROR_MEM_CLUSTER_FREE_TREE_H

#include <cstdint>

namespace mem::cluster {

class FreeTree {
 public:
  // words: the memory the positions count in; anchor: the anchor node's position.
  FreeTree(std::int32_t* words, int anchor) : words_(words), anchor_(anchor) {}

  static constexpr int kNone = -1;
  // A leaf has height 0; a missing child counts as height -1.
  static constexpr int kMissingHeight = -1;
  // Node words, counted from the block's position.
  static constexpr int kParent = 0;
  static constexpr int kLarger = 1;
  static constexpr int kSmaller = 2;
  static constexpr int kHeight = 3;
  static constexpr int kNodeWords = 4;

  // The block at position must be free: its header holds minus its size.
  void Insert(int position);
  void Remove(int position);
  // Best fit: the first block of exactly words words met on the way down from the root,
  // else the smallest larger one (the lowest position among equals); kNone if none.
  int BestFit(int words) const;
  // The largest block: the end of the larger children from the root; kNone when empty.
  int Largest() const;

  int Root() const { return Larger(anchor_); }
  int Anchor() const { return anchor_; }
  int Parent(int node) const { return words_[node + kParent]; }
  int Larger(int node) const { return words_[node + kLarger]; }
  int Smaller(int node) const { return words_[node + kSmaller]; }
  int Height(int node) const { return node == kNone ? kMissingHeight : words_[node + kHeight]; }
  // A free block's size, from the header word before it.
  int SizeOf(int node) const { return -words_[node - 1]; }
  // The order of the tree: by size, then by position.
  bool Before(int a, int b) const {
    int size_a = SizeOf(a);
    int size_b = SizeOf(b);
    return size_a != size_b ? size_a < size_b : a < b;
  }

 private:
  void SetParent(int node, int parent) { words_[node + kParent] = parent; }
  void SetLarger(int node, int child);
  void SetSmaller(int node, int child);
  void SetHeight(int node);
  // Puts replacement where child hangs under its parent.
  void ReplaceChild(int parent, int child, int replacement);
  int RotateTowardsSmaller(int node);
  int RotateTowardsLarger(int node);
  // Restores heights and balance from node up to the anchor.
  void Rebalance(int node);

  std::int32_t* words_;
  int anchor_;
};

}  // namespace mem::cluster

#endif
