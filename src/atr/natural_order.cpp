#include "varururor/atr/natural_order.h"

namespace {

int g_natural_order = 0;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digit runs as decimal fractions: the first place where one run ends first, or else the
// first differing digit, decides.
int CompareLeftAligned(char const* a, char const* b) {
  for (;; ++a, ++b) {
    bool digit_a = IsDigit(*a);
    bool digit_b = IsDigit(*b);
    if (!digit_a && !digit_b) return 0;
    if (!digit_a) return -1;
    if (!digit_b) return 1;
    if (*a != *b) return *a < *b ? -1 : 1;
  }
}

// Digit runs as whole numbers: the longer run is larger; between runs of one length the
// first differing digit decides.
int CompareRightAligned(char const* a, char const* b) {
  int first_difference = 0;
  for (;; ++a, ++b) {
    bool digit_a = IsDigit(*a);
    bool digit_b = IsDigit(*b);
    if (!digit_a && !digit_b) return first_difference;
    if (!digit_a) return -1;
    if (!digit_b) return 1;
    if (first_difference == 0 && *a != *b) first_difference = *a < *b ? -1 : 1;
  }
}

}  // namespace

int strnatcmp(char const* a, char const* b) {
  // A null name sorts as the empty one.
  if (a == nullptr) a = "";
  if (b == nullptr) b = "";
  for (int i = 0;;) {
    char ca = a[i];
    char cb = b[i];
    if (IsDigit(ca) && IsDigit(cb)) {
      int result = ca == '0' || cb == '0' ? CompareLeftAligned(a + i, b + i)
                                          : CompareRightAligned(a + i, b + i);
      if (result != 0) return result;
      // Runs that compare equal are the same digits, and so is every tail of them: the
      // walk may go on behind them at once instead of comparing each tail again.
      while (IsDigit(a[i])) ++i;
      continue;
    }
    if (ca == 0 && cb == 0) return 0;
    signed char sa = static_cast<signed char>(ca);
    signed char sb = static_cast<signed char>(cb);
    if (sa < sb) return -1;
    if (sa != sb) return 1;
    ++i;
  }
}

void atr_setNaturalOrder(int on) { g_natural_order = on; }

int atr_getNaturalOrder() { return g_natural_order; }
