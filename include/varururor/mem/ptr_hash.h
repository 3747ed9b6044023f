// mem_PtrHash: a table from 32-bit keys to 32-bit values with open addressing and double
// hashing. The memory tracker keeps in it the blocks it must not record; its slot array
// comes straight from the heap, so using it never passes through the tracked entry points.
#ifndef VARURUROR_MEM_PTR_HASH_H
#define VARURUROR_MEM_PTR_HASH_H

#include "varururor/frame/export.h"

class VR_API mem_PtrHash {
 public:
  // Slot markers; neither can be stored as a key. LookUp answers kEmpty for an absent key.
  static constexpr int kEmpty = 0x7FFFFFFF;
  static constexpr int kDeleted = 0x7FFFFFFE;

  // With n >= 1 the slot array is made at once, sized for 2n; otherwise at the first Add.
  explicit mem_PtrHash(int n);
  ~mem_PtrHash();
  mem_PtrHash(mem_PtrHash const&) = delete;
  mem_PtrHash& operator=(mem_PtrHash const&) = delete;

  // Stores value under key; a key already present gets the new value.
  void Add(int key, int value);
  int LookUp(int key) const;
  void Delete(int key);

 private:
  struct Slot {
    int key;
    int value;
  };
  VR_HIDDEN Slot* Find(int key) const;
  VR_HIDDEN void Grow();

  Slot* slots_;
  int slots_in_use_;  // filled at least once, deleted ones included
  int live_entries_;
  int size_;
  mutable int look_ups_;
  mutable int probes_;
  int resized_;
  unsigned array_bytes_;
};

#endif
