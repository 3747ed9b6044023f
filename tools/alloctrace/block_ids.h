// Which live block has which id in the trace: a hash table from address to id, with open
// addressing and linear probing, in memory mapped for it (never from the heap it watches).
#ifndef VARURUROR_TOOLS_ALLOCTRACE_BLOCK_IDS_H
#define VARURUROR_TOOLS_ALLOCTRACE_BLOCK_IDS_H

#include <stddef.h>
#include <stdint.h>

namespace alloctrace {

class BlockIds {
 public:
  // False when the table cannot grow.
  bool Insert(void const* p, uint64_t id);

  // The block's id, which it gives up; 0 when it has none.
  uint64_t Take(void const* p);

 private:
  struct Slot {
    uintptr_t address;  // 0: empty
    uint64_t id;
  };

  size_t Home(uintptr_t address) const;
  void Place(uintptr_t address, uint64_t id);
  bool Grow();

  Slot* slots_ = nullptr;
  size_t capacity_ = 0;
  size_t count_ = 0;
  unsigned bits_ = 0;
};

}  // namespace alloctrace

#endif
