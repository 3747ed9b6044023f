// The ATR_SUMMARY statistics: read at the first atr_initialize, reported on standard
// error at the last atr_finalize. Each case runs in a child process.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "child_process.h"
#include "string_probe.h"
#include "varururor/frame/startup.h"
#include "varururor/mem/allocation.h"

namespace {

// The report as a pattern: its lines, anchored at both ends, dots and signs escaped.
std::string ReportPattern(int reps, int strings, int extension_failures, int active, int bytes,
                          int maximum_active, int maximum_bytes, char const* mean_length,
                          char const* sigma_length, char const* mean_spare,
                          char const* sigma_spare) {
  char report[1024];
  std::snprintf(report, sizeof report,
                "%8d Reps Created\n%8d Strings Created\n%8d Extension Failures\n%8d Active\n"
                "%8d Bytes in use\n%8d Maximum active\n%8d Maximum bytes in use\n"
                "%8s Mean length\n%8s Sigma length\n%8s Mean spare\n%8s Sigma spare\n",
                reps, strings, extension_failures, active, bytes, maximum_active, maximum_bytes,
                mean_length, sigma_length, mean_spare, sigma_spare);
  std::string pattern = "^";
  for (char c : std::string(report)) {
    if (c == '.' || c == '-' || c == '+') pattern += '\\';
    pattern += c;
  }
  return pattern + "$";
}

// "abcdefghij" takes an inline block of 32 bytes (capacity 20); appending ten bytes
// fails to extend it and moves the text to a block of 64 (capacity 52). A text of 300
// bytes has a separate block, counted as a rep. Released: lengths 10 and 20 with 10 and
// 32 spare bytes. The first of two finalizes reports nothing.
void EditAndFinalizeTwice() {
  int total = 0;
  atr_initialize(total);
  atr_initialize(total);
  {
    TestString s("abcdefghij");
    s.append("0123456789", 10, 0, INT_MAX);
    TestString copy(s);
  }
  {
    std::string long_text(300, 'x');
    TestString separate(long_text.c_str());
  }
  atr_finalize(total);
  atr_finalize(total);
}

// Writing to the borrowed "constant" copies it into an inline block (capacity 20, length
// 8, 12 spare); only that block adds to the sums. Borrowed and adopted headers are reps.
void BorrowAndAdopt() {
  int total = 0;
  atr_initialize(total);
  {
    TestString borrowed("constant", 8, TestString::kBorrow);
    TestString copy(borrowed);
    copy[0] = 'C';
  }
  {
    char* block = static_cast<char*>(mem_Malloc(4));
    std::memcpy(block, "abc", 4);
    TestString adopted(block, 3, TestString::kAdopt);
  }
  atr_finalize(total);
}

void MakeOneString() {
  int total = 0;
  atr_initialize(total);
  { TestString s("abc"); }
  atr_finalize(total);
}

TEST(StringStatistics, AreReportedAtTheLastFinalizeWhenAtrSummaryIsSet) {
  // The edit releases the old block before the new one counts: one block at a time.
  EXPECT_IN_CHILD(ReportPattern(1, 2, 1, 0, 0, 1, 52, "15.0", "5.0", "21.0", "11.0"),
                  setenv("ATR_SUMMARY", "", 1);
                  EditAndFinalizeTwice());
}

TEST(StringStatistics, CountBorrowedAndAdoptedHeadersAsRepsWithoutLengths) {
  EXPECT_IN_CHILD(ReportPattern(2, 1, 0, 0, 0, 2, 20, "8.0", "0.0", "12.0", "0.0"),
                  setenv("ATR_SUMMARY", "1", 1);
                  BorrowAndAdopt());
}

TEST(StringStatistics, AreNotGatheredWithoutAtrSummary) {
  EXPECT_IN_CHILD("^$", unsetenv("ATR_SUMMARY"); MakeOneString());
}

TEST(StringStatistics, ReportNothingForANestedFinalize) {
  EXPECT_IN_CHILD("^$", setenv("ATR_SUMMARY", "1", 1); int total = 0; atr_initialize(total);
                  atr_initialize(total); atr_finalize(total));
}

}  // namespace
