// Natural-order comparison over names people sort, and its switch.
#include "varururor/atr/natural_order.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "varururor/frame/startup.h"

namespace {

// Each list is in natural order: every pair compares in list order, both ways round.
TEST(NaturalOrder, ListsPeopleSort) {
  std::vector<std::vector<char const*>> const lists = {
      {"", "1a", "B", "a", "a b", "a1", "a1b2", "a1b10", "a9", "a10b", "a10c", "ab", "abc"},
      {"solver-1.2.9", "solver-1.2.10", "solver-1.10.0", "solver-2.0.0", "solver-10.0.0"},
      // A run that starts with '0' on either side is a fraction: 0.05 < 0.5 < 0.55.
      {"x0.01", "x0.05", "x0.1", "x0.5", "x0.55", "x1.005", "x1.05", "x1.5", "x2.25", "x10.1"},
      {"v0", "v00"},
      {"part 2", "part2", "part10"},
      // Bytes from 0x80 are negative as signed chars: UTF-8 letters sort before ASCII.
      {"\xC3\xA9tude", "etude"},
  };
  for (auto const& list : lists) {
    for (size_t i = 0; i < list.size(); ++i) {
      EXPECT_EQ(strnatcmp(list[i], list[i]), 0) << list[i];
      for (size_t j = i + 1; j < list.size(); ++j) {
        EXPECT_LT(strnatcmp(list[i], list[j]), 0) << list[i] << " before " << list[j];
        EXPECT_GT(strnatcmp(list[j], list[i]), 0) << list[j] << " after " << list[i];
      }
    }
  }
  EXPECT_EQ(strnatcmp(nullptr, ""), 0);
  EXPECT_LT(strnatcmp(nullptr, "a"), 0);
  // Digit runs compare as numbers however long.
  std::string huge(100000, '7');
  EXPECT_LT(strnatcmp(huge.c_str(), (huge + "7").c_str()), 0);
}

TEST(NaturalOrderSwitch, OnAfterStartUpUnlessTheVariableIsSet) {
  EXPECT_IN_CHILD("^0 1 1 $", unsetenv("KVN_USE_NATURAL_ORDER_SORT");
                  std::fprintf(stderr, "%d ", atr_getNaturalOrder()); int total = 0;
                  atr_initialize(total); std::fprintf(stderr, "%d ", atr_getNaturalOrder());
                  atr_finalize(total); std::fprintf(stderr, "%d ", atr_getNaturalOrder()));
  EXPECT_IN_CHILD("^0 5 $", setenv("KVN_USE_NATURAL_ORDER_SORT", "", 1); int total = 0;
                  UTI_VaruRuror_initialize(total);
                  std::fprintf(stderr, "%d ", atr_getNaturalOrder()); atr_setNaturalOrder(5);
                  std::fprintf(stderr, "%d ", atr_getNaturalOrder()));
}

}  // namespace
