// The blocks live at a point of a run, by address: open addressing with linear probing
// and backward-shift deletion, sized to a power of two. Far faster than a node-based map
// for the tens of millions of look-ups a long run makes.
#ifndef MEMTRACK_BLOCK_MAP_H
#define MEMTRACK_BLOCK_MAP_H

#include <cstdint>
#include <vector>

namespace memtrack {

struct Block {
  std::uint32_t pointer;  // 0 marks a free slot: no block lives at address 0
  std::int32_t size;
  std::int32_t transaction;
  std::int32_t thread;
  std::int32_t phase;
};

class BlockMap {
 public:
  BlockMap() : slots_(kInitialSlots, Block{0, 0, 0, 0, 0}) {}

  // The block at pointer, or null.
  Block* Find(std::uint32_t pointer) {
    for (std::size_t i = Home(pointer);; i = (i + 1) & Mask()) {
      if (slots_[i].pointer == pointer) return &slots_[i];
      if (slots_[i].pointer == 0) return nullptr;
    }
  }

  // Stores block, replacing one at the same address.
  void Put(Block const& block) {
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    std::size_t i = Home(block.pointer);
    while (slots_[i].pointer != 0 && slots_[i].pointer != block.pointer) i = (i + 1) & Mask();
    if (slots_[i].pointer == 0) ++count_;
    slots_[i] = block;
  }

  // Removes the block found by Find.
  void Erase(Block* found) {
    std::size_t hole = static_cast<std::size_t>(found - slots_.data());
    --count_;
    // Shift back the blocks after the hole that would no longer be found past it.
    for (std::size_t i = (hole + 1) & Mask(); slots_[i].pointer != 0; i = (i + 1) & Mask()) {
      std::size_t const home = Home(slots_[i].pointer);
      bool const stays = hole <= i ? (hole < home && home <= i) : (hole < home || home <= i);
      if (stays) continue;
      slots_[hole] = slots_[i];
      hole = i;
    }
    slots_[hole].pointer = 0;
  }

  std::size_t Count() const { return count_; }

  template <typename Visit>
  void ForEach(Visit visit) const {
    for (Block const& block : slots_) {
      if (block.pointer != 0) visit(block);
    }
  }

 private:
  static constexpr std::size_t kInitialSlots = 1 << 16;

  std::size_t Mask() const { return slots_.size() - 1; }
  std::size_t Home(std::uint32_t pointer) const {
    return static_cast<std::size_t>((pointer * 0x9E3779B1u) >> 7) & Mask();
  }
  void Grow() {
    std::vector<Block> old(slots_.size() * 2, Block{0, 0, 0, 0, 0});
    old.swap(slots_);
    count_ = 0;
    for (Block const& block : old) {
      if (block.pointer != 0) Put(block);
    }
  }

  std::vector<Block> slots_;
  std::size_t count_ = 0;
};

}  // namespace memtrack

#endif
