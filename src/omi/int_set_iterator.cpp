#include "varururor/omi/int_set_iterator.h"

#include <cstddef>

omi_SetIT::omi_SetIT(omi_Set const& set)
    : non_negative_(&set.non_negative_), negative_(&set.negative_) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_SetIT) == 104, "two traversals");
  static_assert(offsetof(omi_SetIT, non_negative_) == 0 && offsetof(omi_SetIT, negative_) == 52,
                "the non-negative traversal first");
#pragma GCC diagnostic pop
}

void omi_SetIT::First() {
  unsigned int bit = 0;
  negative_.First(bit);
  non_negative_.First(bit);
}

bool omi_SetIT::IsDone() const { return negative_.IsExhausted() && non_negative_.IsExhausted(); }

void omi_SetIT::Next() {
  unsigned int bit = 0;
  if (!negative_.IsExhausted()) {
    negative_.Next(bit);
    return;
  }
  non_negative_.Next(bit);
}

int omi_SetIT::CurrentItem() const {
  if (!negative_.IsExhausted()) return static_cast<int>(0u - negative_.Current());
  return static_cast<int>(non_negative_.Current());
}
