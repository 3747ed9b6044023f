#include "mem/cluster/free_tree.h"

#include <algorithm>

namespace mem::cluster {

void FreeTree::SetLarger(int node, int child) {
  words_[node + kLarger] = child;
  if (child != kNone) SetParent(child, node);
}

void FreeTree::SetSmaller(int node, int child) {
  words_[node + kSmaller] = child;
  if (child != kNone) SetParent(child, node);
}

void FreeTree::SetHeight(int node) {
  words_[node + kHeight] = 1 + std::max(Height(Larger(node)), Height(Smaller(node)));
}

// The anchor's larger child is the root, so this also replaces the root.
void FreeTree::ReplaceChild(int parent, int child, int replacement) {
  if (Larger(parent) == child)
    SetLarger(parent, replacement);
  else
    SetSmaller(parent, replacement);
}

// The larger child rises and node becomes its smaller child; gives the new subtree top.
int FreeTree::RotateTowardsSmaller(int node) {
  int parent = Parent(node);
  int top = Larger(node);
  SetLarger(node, Smaller(top));
  SetSmaller(top, node);
  ReplaceChild(parent, node, top);
  SetHeight(node);
  SetHeight(top);
  return top;
}

// The smaller child rises and node becomes its larger child.
int FreeTree::RotateTowardsLarger(int node) {
  int parent = Parent(node);
  int top = Smaller(node);
  SetSmaller(node, Larger(top));
  SetLarger(top, node);
  ReplaceChild(parent, node, top);
  SetHeight(node);
  SetHeight(top);
  return top;
}

void FreeTree::Rebalance(int node) {
  while (node != anchor_) {
    SetHeight(node);
    int balance = Height(Larger(node)) - Height(Smaller(node));
    if (balance > 1) {
      int larger = Larger(node);
      if (Height(Smaller(larger)) > Height(Larger(larger))) RotateTowardsLarger(larger);
      node = RotateTowardsSmaller(node);
    } else if (balance < -1) {
      int smaller = Smaller(node);
      if (Height(Larger(smaller)) > Height(Smaller(smaller))) RotateTowardsSmaller(smaller);
      node = RotateTowardsLarger(node);
    }
    node = Parent(node);
  }
}

void FreeTree::Insert(int position) {
  words_[position + kLarger] = kNone;
  words_[position + kSmaller] = kNone;
  words_[position + kHeight] = 0;
  int parent = anchor_;
  bool larger_side = true;
  for (int node = Root(); node != kNone;) {
    parent = node;
    larger_side = !Before(position, node);
    node = larger_side ? Larger(node) : Smaller(node);
  }
  if (larger_side)
    SetLarger(parent, position);
  else
    SetSmaller(parent, position);
  Rebalance(parent);
}

void FreeTree::Remove(int position) {
  int parent = Parent(position);
  int larger = Larger(position);
  int smaller = Smaller(position);
  if (larger == kNone || smaller == kNone) {
    ReplaceChild(parent, position, larger != kNone ? larger : smaller);
    Rebalance(parent);
    return;
  }
  // Two children: the next node in order takes the removed node's place.
  int successor = larger;
  while (Smaller(successor) != kNone) successor = Smaller(successor);
  int rebalance_from = successor;
  if (successor != larger) {
    rebalance_from = Parent(successor);
    SetSmaller(rebalance_from, Larger(successor));
    SetLarger(successor, larger);
  }
  SetSmaller(successor, smaller);
  ReplaceChild(parent, position, successor);
  Rebalance(rebalance_from);
}

int FreeTree::BestFit(int words) const {
  int candidate = kNone;
  for (int node = Root(); node != kNone;) {
    int size = SizeOf(node);
    if (size == words) return node;
    if (size > words) {
      candidate = node;
      node = Smaller(node);
    } else {
      node = Larger(node);
    }
  }
  return candidate;
}

int FreeTree::Largest() const {
  int node = Root();
  if (node == kNone) return kNone;
  while (Larger(node) != kNone) node = Larger(node);
  return node;
}

}  // namespace mem::cluster
