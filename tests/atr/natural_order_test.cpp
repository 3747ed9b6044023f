// Natural-order comparison as a sort order over names people sort: file versions,
// chapter numbers, dates, decimal fractions; and the switch the strings module sets.
#include "varururor/atr/natural_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "child_process.h"
#include "varururor/frame/startup.h"

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

// Every pair of the list compares in list order, both ways round, and shuffled copies
// sort back into it.
void ExpectSortOrder(std::vector<std::string> const& sorted) {
  for (size_t i = 0; i < sorted.size(); ++i) {
    EXPECT_EQ(strnatcmp(sorted[i].c_str(), sorted[i].c_str()), 0) << sorted[i];
    for (size_t j = i + 1; j < sorted.size(); ++j) {
      EXPECT_LT(strnatcmp(sorted[i].c_str(), sorted[j].c_str()), 0)
          << sorted[i] << " before " << sorted[j];
      EXPECT_GT(strnatcmp(sorted[j].c_str(), sorted[i].c_str()), 0)
          << sorted[j] << " after " << sorted[i];
    }
  }
  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    std::vector<std::string> names = sorted;
    std::shuffle(names.begin(), names.end(), random);
    std::sort(names.begin(), names.end(), [](std::string const& a, std::string const& b) {
      return strnatcmp(a.c_str(), b.c_str()) < 0;
    });
    EXPECT_EQ(names, sorted);
  }
}

TEST(NaturalOrder, TheDocumentedCases) {
  EXPECT_LT(strnatcmp("file2", "file10"), 0);
  EXPECT_LT(strnatcmp("x1.05", "x1.5"), 0);
  EXPECT_EQ(strnatcmp("a", "a"), 0);
  EXPECT_LT(strnatcmp("a b", "ab"), 0);
  EXPECT_EQ(strnatcmp("", ""), 0);
  EXPECT_LT(strnatcmp("", "a"), 0);
}

TEST(NaturalOrder, FileVersions) {
  ExpectSortOrder({"model.v1.dat", "model.v2.dat", "model.v9.dat", "model.v10.dat",
                   "model.v10b.dat", "model.v11.dat", "model.v100.dat"});
  ExpectSortOrder(
      {"solver-1.2.9", "solver-1.2.10", "solver-1.10.0", "solver-2.0.0", "solver-10.0.0"});
}

TEST(NaturalOrder, ChapterNumbers) {
  ExpectSortOrder({"Chapter 1", "Chapter 1.1", "Chapter 1.2", "Chapter 1.10", "Chapter 2",
                   "Chapter 9", "Chapter 10", "Chapter 10.3", "Chapter 21"});
}

TEST(NaturalOrder, DatesWithLeadingZerosSortByTheirDigits) {
  ExpectSortOrder({"log-2023-09-30.txt", "log-2023-10-01.txt", "log-2023-10-02.txt",
                   "log-2023-10-10.txt", "log-2023-11-01.txt", "log-2024-01-05.txt"});
}

// A run that starts with '0' on either side is a fraction: 0.05 < 0.5 < 0.55.
TEST(NaturalOrder, DecimalFractions) {
  ExpectSortOrder(
      {"x0.01", "x0.05", "x0.1", "x0.5", "x0.55", "x1.005", "x1.05", "x1.5", "x2.25", "x10.1"});
  EXPECT_LT(strnatcmp("1.010", "1.02"), 0);
  EXPECT_LT(strnatcmp("v0", "v00"), 0);
}

TEST(NaturalOrder, CaseSpacesAndBytesFromTheUpperHalf) {
  ExpectSortOrder({"B", "a", "b"});
  ExpectSortOrder({"part 2", "part2", "part10"});
  // Bytes from 0x80 are negative as signed chars: UTF-8 letters sort before ASCII.
  EXPECT_LT(strnatcmp("\xC3\xA9tude", "etude"), 0);
  EXPECT_GT(strnatcmp("abc", "ab"), 0);
  EXPECT_LT(strnatcmp("ab", "abc"), 0);
}

TEST(NaturalOrder, NumbersAgainstTextAndEqualRuns) {
  EXPECT_LT(strnatcmp("a10b", "a10c"), 0);
  EXPECT_LT(strnatcmp("a1b2", "a1b10"), 0);
  EXPECT_LT(strnatcmp("a9", "a10"), 0);
  EXPECT_GT(strnatcmp("a1x", "a1"), 0);
  EXPECT_LT(strnatcmp("1a", "a"), 0);
  EXPECT_EQ(strnatcmp("007", "007"), 0);
  EXPECT_EQ(strnatcmp(nullptr, ""), 0);
  EXPECT_LT(strnatcmp(nullptr, "a"), 0);
}

// Equal integers compare as equal, however long their runs; unequal runs compare as the
// numbers do.
TEST(NaturalOrder, LongDigitRunsCompareAsNumbers) {
  std::mt19937 random(11);
  for (int round = 0; round < 5000; ++round) {
    unsigned long long a = random() % 100000, b = random() % 100000;
    std::string sa = "n" + std::to_string(a) + "x", sb = "n" + std::to_string(b) + "x";
    ASSERT_EQ(Sign(strnatcmp(sa.c_str(), sb.c_str())), (a > b) - (a < b)) << sa << " " << sb;
  }
  std::string huge(100000, '7');
  EXPECT_EQ(strnatcmp(huge.c_str(), huge.c_str()), 0);
  std::string longer = huge + "7";
  EXPECT_LT(strnatcmp(huge.c_str(), longer.c_str()), 0);
}

TEST(NaturalOrderSwitch, OnAfterStartUpUnlessTheVariableIsSet) {
  EXPECT_IN_CHILD("^0 1 1 $", unsetenv("KVN_USE_NATURAL_ORDER_SORT");
                  std::fprintf(stderr, "%d ", atr_getNaturalOrder()); int total = 0;
                  atr_initialize(total); std::fprintf(stderr, "%d ", atr_getNaturalOrder());
                  atr_finalize(total); std::fprintf(stderr, "%d ", atr_getNaturalOrder()));
  EXPECT_IN_CHILD("^0 $", setenv("KVN_USE_NATURAL_ORDER_SORT", "", 1); int total = 0;
                  atr_initialize(total); std::fprintf(stderr, "%d ", atr_getNaturalOrder()));
  EXPECT_IN_CHILD("^0 5 $", setenv("KVN_USE_NATURAL_ORDER_SORT", "no", 1); int total = 0;
                  UTI_VaruRuror_initialize(total);
                  std::fprintf(stderr, "%d ", atr_getNaturalOrder()); atr_setNaturalOrder(5);
                  std::fprintf(stderr, "%d ", atr_getNaturalOrder()));
}

}  // namespace
