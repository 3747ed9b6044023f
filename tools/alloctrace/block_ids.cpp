#include "block_ids.h"

#include <sys/mman.h>

namespace alloctrace {

namespace {

constexpr size_t kInitialSlots = size_t{1} << 16;
// Blocks are at least 8-aligned: the low bits say nothing.
constexpr unsigned kAlignmentBits = 4;

}  // namespace

bool BlockIds::Insert(void const* p, uint64_t id) {
  // At most half full, so that runs stay short.
  if ((count_ + 1) * 2 > capacity_ && !Grow()) return false;
  Place(reinterpret_cast<uintptr_t>(p), id);
  ++count_;
  return true;
}

uint64_t BlockIds::Take(void const* p) {
  if (capacity_ == 0) return 0;
  uintptr_t address = reinterpret_cast<uintptr_t>(p);
  size_t mask = capacity_ - 1;
  size_t i = Home(address);
  while (slots_[i].address != address) {
    if (slots_[i].address == 0) return 0;
    i = (i + 1) & mask;
  }
  uint64_t id = slots_[i].id;
  // Backward-shift deletion: move later entries of the run up into the hole, unless
  // their home lies cyclically in (hole, entry], where they already are reachable.
  size_t hole = i;
  for (size_t j = (i + 1) & mask; slots_[j].address != 0; j = (j + 1) & mask) {
    size_t home = Home(slots_[j].address);
    bool reachable = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
    if (reachable) continue;
    slots_[hole] = slots_[j];
    hole = j;
  }
  slots_[hole] = Slot{0, 0};
  --count_;
  return id;
}

size_t BlockIds::Home(uintptr_t address) const {
  constexpr uint64_t kGoldenRatio = 0x9E3779B97F4A7C15u;
  constexpr unsigned kHashBits = 64;
  uint64_t h = static_cast<uint64_t>(address >> kAlignmentBits) * kGoldenRatio;
  return static_cast<size_t>(h >> (kHashBits - bits_));
}

void BlockIds::Place(uintptr_t address, uint64_t id) {
  size_t mask = capacity_ - 1;
  size_t i = Home(address);
  while (slots_[i].address != 0) i = (i + 1) & mask;
  slots_[i] = Slot{address, id};
}

bool BlockIds::Grow() {
  size_t capacity = capacity_ == 0 ? kInitialSlots : capacity_ * 2;
  void* memory = mmap(nullptr, capacity * sizeof(Slot), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return false;
  Slot* old = slots_;
  size_t old_capacity = capacity_;
  slots_ = static_cast<Slot*>(memory);
  capacity_ = capacity;
  bits_ = static_cast<unsigned>(__builtin_ctzll(capacity));
  for (size_t i = 0; i < old_capacity; ++i) {
    if (old[i].address != 0) Place(old[i].address, old[i].id);
  }
  if (old != nullptr) munmap(old, old_capacity * sizeof(Slot));
  return true;
}

}  // namespace alloctrace
