#include "varururor/mem/ptr_hash.h"

#include <cstdint>

#include "mem/heap_table.h"
#include "mem/tracker/probing.h"

namespace {

constexpr int kPrimes[] = {15683,   19609,   31397,   65521,    262139,   524287,   1048573,
                           2097143, 4194301, 8388593, 16777213, 33554393, 67108859, 134217757};

// The first size of the list not below wanted; the largest when none is.
int TableSize(long long wanted) {
  for (int prime : kPrimes) {
    if (prime >= wanted) return prime;
  }
  return kPrimes[sizeof kPrimes / sizeof kPrimes[0] - 1];
}

}  // namespace

mem_PtrHash::mem_PtrHash(int n)
    : slots_(nullptr),
      slots_in_use_(0),
      live_entries_(0),
      size_(0),
      look_ups_(0),
      probes_(0),
      resized_(0),
      array_bytes_(0) {
  if (n < 1) return;
  size_ = TableSize(2LL * n);
  array_bytes_ = static_cast<unsigned>(size_) * sizeof(Slot);
  slots_ = static_cast<Slot*>(mem::g_heap_table.malloc(array_bytes_));
  if (slots_ == nullptr) {
    size_ = 0;
    array_bytes_ = 0;
    return;
  }
  for (int i = 0; i < size_; ++i) slots_[i] = {kEmpty, 0};
}

mem_PtrHash::~mem_PtrHash() {
  if (slots_ != nullptr) mem::g_heap_table.free(slots_);
}

// The slot holding key; for an absent key the first deleted slot on the way, else the
// empty slot that ended the search.
mem_PtrHash::Slot* mem_PtrHash::Find(int key) const {
  auto const size = static_cast<std::uint32_t>(size_);
  std::uint32_t index = static_cast<std::uint32_t>(key) % size;
  std::uint32_t const step = mem::tracker::ProbeStep(static_cast<std::uint32_t>(key), size);
  Slot* first_deleted = nullptr;
  ++look_ups_;
  for (;;) {
    ++probes_;
    Slot* slot = &slots_[index];
    if (slot->key == key) return slot;
    if (slot->key == kEmpty) return first_deleted != nullptr ? first_deleted : slot;
    if (slot->key == kDeleted && first_deleted == nullptr) first_deleted = slot;
    index = (index + step) % size;
  }
}

void mem_PtrHash::Grow() {
  int const new_size = TableSize(2LL * live_entries_);
  unsigned const new_bytes = static_cast<unsigned>(new_size) * sizeof(Slot);
  auto* new_slots = static_cast<Slot*>(mem::g_heap_table.malloc(new_bytes));
  if (new_slots == nullptr) return;  // keep the old array; Add fails only when it is full
  for (int i = 0; i < new_size; ++i) new_slots[i] = {kEmpty, 0};
  Slot* const old_slots = slots_;
  int const old_size = size_;
  slots_ = new_slots;
  size_ = new_size;
  array_bytes_ = new_bytes;
  resized_ = 1;
  slots_in_use_ = 0;
  live_entries_ = 0;
  for (int i = 0; i < old_size; ++i) {
    if (old_slots[i].key != kEmpty && old_slots[i].key != kDeleted) {
      Add(old_slots[i].key, old_slots[i].value);
    }
  }
  if (old_slots != nullptr) mem::g_heap_table.free(old_slots);
}

void mem_PtrHash::Add(int key, int value) {
  if (key == kEmpty || key == kDeleted) return;  // markers, not keys
  if (slots_in_use_ * 3LL >= size_ * 2LL) Grow();
  // A failed growth leaves the table as it was; a table without a free slot takes nothing.
  if (slots_ == nullptr || slots_in_use_ >= size_ - 1) return;
  Slot* slot = Find(key);
  if (slot->key == key) {
    slot->value = value;
    return;
  }
  if (slot->key == kEmpty) ++slots_in_use_;
  // Counts keys present (not every Add), so that growth is sized to what the table holds.
  ++live_entries_;
  *slot = {key, value};
}

int mem_PtrHash::LookUp(int key) const {
  if (slots_ == nullptr || key == kEmpty || key == kDeleted) return kEmpty;
  Slot const* slot = Find(key);
  return slot->key == key ? slot->value : kEmpty;
}

void mem_PtrHash::Delete(int key) {
  if (slots_ == nullptr || key == kEmpty || key == kDeleted) return;
  Slot* slot = Find(key);
  if (slot->key != key) return;
  *slot = {kDeleted, 0};
  --live_entries_;
}
