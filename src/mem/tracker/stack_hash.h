// mem_StackHash: the tracker's table of phase paths ("ROOT->solve->assemble") and their ids.
// A fixed number of slots with the same double hashing as mem_PtrHash; the path strings
// live in a pool inside the table, grown through the front end when a run has many phases.
#ifndef VARURUROR_MEM_TRACKER_STACK_HASH_H
#define VARURUROR_MEM_TRACKER_STACK_HASH_H

#include <cstdint>

class mem_StackHash {
 public:
  static constexpr int kSlots = 5987;
  static constexpr int kPoolStep = 32768;
  static constexpr int kAbsent = -1;

  mem_StackHash();
  ~mem_StackHash();
  mem_StackHash(mem_StackHash const&) = delete;
  mem_StackHash& operator=(mem_StackHash const&) = delete;

  // The id stored for path, kAbsent if there is none.
  int LookUp(char const* path);
  // Stores a path that is not yet present. False when its string cannot be kept.
  bool Add(char const* path, int id);

  // The stored paths in slot order: false for a slot that holds none.
  bool Entry(int slot, char const** path, int* id) const;

 private:
  struct Slot {
    char const* key;
    int id;
  };
  Slot* Find(char const* path);
  char const* Keep(char const* path);
  bool IsFree(char const* key) const { return key == kEmptyKey || key == kDeletedKey; }

  static char const kEmptyKey[];
  static char const kDeletedKey[];

  Slot slots_[kSlots];
  int slots_in_use_ = 0;
  int live_entries_ = 0;
  int size_ = kSlots;
  int look_ups_ = 0;
  int probes_ = 0;
  char* pool_;
  std::uint32_t pool_used_ = 0;
  std::uint32_t pool_capacity_ = kPoolStep;
  char inline_pool_[kPoolStep];
};

#endif
