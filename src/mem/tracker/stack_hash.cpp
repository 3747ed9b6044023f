#include "mem/tracker/stack_hash.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "mem/tracker/probing.h"
#include "varururor/mem/allocation.h"
#include "varururor/mem/operators.h"

char const mem_StackHash::kEmptyKey[] = "EMPTY";
char const mem_StackHash::kDeletedKey[] = "DELETED";

namespace {

std::uint32_t PathHash(char const* path) {
  std::uint32_t h = 0;
  for (auto const* c = reinterpret_cast<signed char const*>(path); *c != 0; ++c) {
    h += static_cast<std::uint32_t>(*c - 48);
  }
  return h;
}

}  // namespace

mem_StackHash::mem_StackHash() : pool_(inline_pool_) {
  for (Slot& slot : slots_) slot = {kEmptyKey, 0};
}

mem_StackHash::~mem_StackHash() {
  if (pool_ != inline_pool_) mem_Free(pool_);
}

mem_StackHash::Slot* mem_StackHash::Find(char const* path) {
  std::uint32_t const h = PathHash(path);
  auto const size = static_cast<std::uint32_t>(size_);
  std::uint32_t index = h % size;
  std::uint32_t const step = mem::tracker::ProbeStep(h, size);
  Slot* first_deleted = nullptr;
  ++look_ups_;
  for (;;) {
    ++probes_;
    Slot* slot = &slots_[index];
    if (slot->key == kEmptyKey) return first_deleted != nullptr ? first_deleted : slot;
    if (slot->key == kDeletedKey) {
      if (first_deleted == nullptr) first_deleted = slot;
    } else if (std::strcmp(slot->key, path) == 0) {
      return slot;
    }
    index = (index + step) % size;
  }
}

int mem_StackHash::LookUp(char const* path) {
  Slot const* slot = Find(path);
  return IsFree(slot->key) ? kAbsent : slot->id;
}

// Copies path into the pool, growing it by whole steps when it does not fit.
char const* mem_StackHash::Keep(char const* path) {
  std::uint32_t const bytes = static_cast<std::uint32_t>(std::strlen(path)) + 1;
  if (pool_used_ + bytes > pool_capacity_) {
    std::fprintf(stderr, "\n\nWARNING: Memory tracking. Forced to resize mem_StackHash.\n");
    std::fprintf(stderr, "Memory use from tracking code may change allocation patterns.\n\n");
    std::uint32_t const missing = pool_used_ + bytes - pool_capacity_;
    std::uint32_t const steps = (missing + kPoolStep - 1) / kPoolStep;
    std::uint32_t const capacity = pool_capacity_ + steps * kPoolStep;
    char* pool;
    try {
      pool = static_cast<char*>(mem_OperatorNewThrowBuiltin(capacity));
    } catch (std::bad_alloc const&) {
      return nullptr;
    }
    std::memcpy(pool, pool_, pool_used_);
    for (Slot& slot : slots_) {
      if (!IsFree(slot.key)) slot.key = pool + (slot.key - pool_);
    }
    if (pool_ != inline_pool_) mem_Free(pool_);
    pool_ = pool;
    pool_capacity_ = capacity;
  }
  char* kept = pool_ + pool_used_;
  std::memcpy(kept, path, bytes);
  pool_used_ += bytes;
  return kept;
}

bool mem_StackHash::Add(char const* path, int id) {
  if (slots_in_use_ * 3 >= size_ * 2) {
    std::fprintf(stderr,
                 "mem_PtrHash::Add  --  ERROR  --  Stack hash table has been overfilled.\n");
    std::exit(0);
  }
  char const* kept = Keep(path);
  if (kept == nullptr) return false;
  Slot* slot = Find(path);
  if (slot->key == kEmptyKey) ++slots_in_use_;
  ++live_entries_;
  *slot = {kept, id};
  return true;
}

bool mem_StackHash::Entry(int slot, char const** path, int* id) const {
  if (slot < 0 || slot >= size_ || IsFree(slots_[slot].key)) return false;
  *path = slots_[slot].key;
  *id = slots_[slot].id;
  return true;
}
