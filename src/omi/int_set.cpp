#include "varururor/omi/int_set.h"

#include <climits>
#include <cstddef>

void omi_Set::Insert(int member) { VectorOf(member).SetBit(BitOf(member)); }

// UnsetBit itself leaves a clear bit alone.
void omi_Set::Remove(int member) { VectorOf(member).UnsetBit(BitOf(member)); }

bool omi_Set::IsMember(int member) const { return VectorOf(member).TestBit(BitOf(member)); }

void omi_Set::Clear() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_Set) == 64, "two bit vectors");
  static_assert(offsetof(omi_Set, non_negative_) == 0 && offsetof(omi_Set, negative_) == 32,
                "the non-negative members first");
#pragma GCC diagnostic pop
  non_negative_.Clear();
  negative_.Clear();
}

int omi_Set::Size() const {
  unsigned long long total = 1ull * non_negative_.Count() + negative_.Count();
  return total > INT_MAX ? INT_MAX : static_cast<int>(total);
}

omi_Set& omi_Set::operator+=(omi_Set const& other) {
  non_negative_ |= other.non_negative_;
  negative_ |= other.negative_;
  return *this;
}

omi_Set& omi_Set::operator&=(omi_Set const& other) {
  non_negative_ &= other.non_negative_;
  negative_ &= other.negative_;
  return *this;
}
