// The variable region of a cluster: a boundary-tag allocator over the whole cluster.
// Positions and sizes are in words. A block at position b of s words has its header at
// b - 1 (+s in use, -s free) and its footer, s, at b + s - 2; the next block begins at
// b + s, and the user's data are the s - 2 words from b. Free blocks are never adjacent:
// freeing merges with free neighbours. They are kept in a free tree (free_tree.h) and
// requests take the best fit.
#ifndef VARURUROR_MEM_CLUSTER_VARIABLE_REGION_H
#define VARURUROR_MEM_CLUSTER_VARIABLE_REGION_H

#include <cstddef>
#include <cstdint>

#include "mem/blocks/region.h"
#include "mem/cluster/free_tree.h"

namespace mem::cluster {

class VariableRegion final : public mem::blocks::Region {
 public:
  // The region record sits at word 0 of the memory it runs (length words).
  explicit VariableRegion(int length);

  // The position of a block for bytes of data, or kNoSlot.
  int Allocate(unsigned bytes) override;
  // Frees the block at position; true when nothing is allocated any more.
  bool Free(int position) override;
  // "VariableRegion: Size=%d, Alloc=%d\n" on the standard output.
  void Print() const override;

  // The block at position grown to hold bytes: in place when it is big enough or its
  // free successor makes it so, else moved (data copied, old block freed). kNoSlot when
  // there is no room, and then nothing changed.
  int Resize(int position, unsigned bytes);
  // Cuts a page of kPageWords words out of the free block that ends at word end (its
  // footer at end - 2), at the highest page boundary inside it. The page's start, or
  // kNoSlot when that block is not free or holds no whole page.
  int CutPage(int end);

  // Words of a block for bytes of data: header, data and footer, a multiple of four.
  static int WordsFor(unsigned bytes);

  int Start() const { return start_; }
  int SizeClass() const { return class_; }
  int AllocatedWords() const { return alloc_count_; }
  int HeaderWords() const { return header_words_; }
  int Length() const { return length_; }
  int LargestSize() const { return largest_size_; }
  int LargestPosition() const { return largest_position_; }
  // The size of the block at position, in use or free.
  int BlockSize(int position) const {
    std::int32_t header = Words()[position - 1];
    return header < 0 ? -header : header;
  }
  bool IsFree(int position) const { return Words()[position - 1] < 0; }
  FreeTree Tree() const { return FreeTree(Words(), kAnchorWord); }
  // The memory the region runs: its record is the first thing in it.
  std::int32_t* Words() const {
    return const_cast<std::int32_t*>(reinterpret_cast<std::int32_t const*>(this));
  }

  static constexpr int kVariableClass = 10;
  // The record and the tag word before the first block.
  static constexpr int kHeaderWords = 16;
  // A block's header and footer.
  static constexpr int kTagWords = 2;
  // Block sizes are multiples of this many words.
  static constexpr int kGranuleWords = 4;
  // The words left over from a block that make a free block of their own; fewer stay
  // with the block they belong to.
  static constexpr int kSplitWords = 35;
  // The words between a page and a free block before or after it that stay free.
  static constexpr int kLeftoverWords = 34;
  static constexpr int kPageWords = 1024;
  // Where the anchor node of the free tree lies in the record.
  static constexpr int kAnchorWord = 6;

 private:
  void SetBlock(int position, int size, bool in_use);
  // The tree's insert and remove, keeping the largest-free record.
  void InsertFree(int position);
  void RemoveFree(int position);

  int start_;
  int class_;
  int alloc_count_;
  int header_words_;
  int length_;
  // The anchor node: its larger child is the root.
  int anchor_parent_;
  int root_;
  int anchor_smaller_;
  int anchor_height_;
  int largest_size_;
  int largest_position_;
};
static_assert(sizeof(VariableRegion) == 48, "twelve words");
static_assert(sizeof(VariableRegion) <= VariableRegion::kHeaderWords * 4 - 8,
              "the record leaves the tag word before the first block");

}  // namespace mem::cluster

#endif
