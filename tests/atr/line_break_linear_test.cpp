// Wrapping a long text takes one block for the result, not one per line: counted by the
// string statistics (ATR_SUMMARY) in a child process. The speed itself is measured by
// bench/line_break_bench.cpp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "child_process.h"
#include "varururor/atr/translate.h"
#include "varururor/frame/startup.h"

namespace {

// Lines of about 20 bytes: each segment and each wrapped segment fits an inline block,
// so that a rep (a header of its own) is made only for a text of 239 bytes or more.
std::string LongText(bool with_line_feeds) {
  std::string text;
  for (int i = 0; text.size() < 20000; ++i) {
    text += "word" + std::to_string(i);
    text += with_line_feeds && i % 3 == 2 ? '\n' : ' ';
  }
  return text;
}

// The long text itself is one rep, each result one more; a growing result would make a
// rep per line past its first 238 bytes.
constexpr char kFewReps[] = "^ +[0-9] Reps Created\n";

TEST(LineBreakLinear, TheResultIsOneBlock) {
  std::string flat = LongText(false);
  std::string lines = LongText(true);
  EXPECT_IN_CHILD(
      kFewReps, setenv("ATR_SUMMARY", "1", 1); int total = 0; atr_initialize(total); {
        atr_String text = atr_raw(flat.c_str());
        atr_String wrapped = atr_String::BreakLineString(text, 10);
      } atr_finalize(total));
  EXPECT_IN_CHILD(
      kFewReps, setenv("ATR_SUMMARY", "1", 1); int total = 0; atr_initialize(total); {
        atr_String text = atr_raw(lines.c_str());
        atr_String wrapped = atr_String::AddLineBreaks(text, 12, false);
      } atr_finalize(total));
}

}  // namespace
