// Wrapping text for display: random texts, what they leave out, the extra test characters.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "child_process.h"
#include "locale_guard.h"
#include "varururor/atr/locale.h"
#include "varururor/atr/translate.h"
#include "varururor/frame/startup.h"

namespace {

std::string Text(atr_String const& s) { return std::string(s.CStr(), s.Length()); }

// atr_String text is made by translation; these texts have no "%" and no "\@".
std::string Break(std::string const& s, unsigned width, int only_unbroken = -1) {
  atr_String text = atr_raw(s.c_str());
  atr_String broken = only_unbroken < 0 ? atr_String::BreakLineString(text, width)
                                        : atr_String::AddLineBreaks(text, width, only_unbroken);
  // A text no longer than the width comes back shared.
  if (s.size() <= width) {
    EXPECT_EQ(broken.CStr(), text.CStr()) << s;
  }
  return Text(broken);
}

// What the random texts leave out: line feeds, tabs, width 0 and multi-byte text.
TEST(LineBreak, LineEndsTabsAndMultiByteText) {
  EXPECT_EQ(Break("one two three\n", 3), "one\ntwo\nthree\n");
  EXPECT_EQ(Break("word\tword word", 6), "word\tword\nword");
  EXPECT_EQ(Break("abc def", 0), "abc\ndef");
  // Each line on its own; with onlyUnbroken, a text with a line feed stays as it is.
  EXPECT_EQ(Break("aa bb cc\ndd ee ff", 2, false), "aa\nbb\ncc\ndd\nee\nff");
  EXPECT_EQ(Break("aa bb cc\ndd ee ff", 2, true), "aa bb cc\ndd ee ff");
  EXPECT_EQ(Break("aa bb cc dd", 4, true), "aa bb\ncc dd");
  LocaleGuard guard;
  if (!guard.Use("ja_JP.UTF-8")) GTEST_SKIP() << "locale ja_JP.UTF-8 is not installed";
  // Multi-byte characters are never split; an ideographic space is no whitespace byte.
  std::string kana = "\xE3\x83\x95\xE3\x82\xA1\xE3\x80\x80\xE3\x82\xA4\xE3\x83\xAB";
  EXPECT_EQ(Break(kana, 3), kana);
  EXPECT_EQ(Break("\xC3\xA9t\xC3\xA9 \xC3\xA9t\xC3\xA9", 4),
            "\xC3\xA9t\xC3\xA9\n\xC3\xA9t\xC3\xA9");
}

// Line feeds replace single spaces; no line but the last is shorter than the width, nor
// would be without its last word.
TEST(LineBreak, RandomTextsKeepEveryWordInOrder) {
  std::mt19937 random(2024);
  char const* words[] = {"a", "bb", "ccc", "dddddd", "eeeeeeeeeeee"};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (int i = random() % 12; i > 0; --i) {
      text += words[random() % 5] + std::string(i == 1 ? 0 : random() % 4 == 0 ? 2 : 1, ' ');
    }
    unsigned width = 1 + random() % 10;
    std::string wrapped = Break(text, width);
    std::string rebuilt = wrapped;
    std::replace(rebuilt.begin(), rebuilt.end(), '\n', ' ');
    ASSERT_EQ(rebuilt, text) << "width " << width;
    for (size_t start = 0, end; (end = wrapped.find('\n', start)) != std::string::npos;
         start = end + 1) {
      std::string line = wrapped.substr(start, end - start);
      ASSERT_GE(line.size(), width) << wrapped;
      std::string head = line.substr(0, line.find_last_of(' ') + 1);
      ASSERT_LT(head.find_last_not_of(' ') + 1, width) << wrapped;
    }
  }
}

// In test mode, which is decided once, the extra characters do not count towards the width.
TEST(LineBreak, ExtraCharactersDoNotCountInTestMode) {
  if (!LocaleInstalled("ja_JP.UTF-8")) GTEST_SKIP() << "locale ja_JP.UTF-8 is not installed";
  std::string extra = "\xE3\x82\xBD\xE3\x83\xBC";
  std::string text = "ab" + extra + " cd" + extra + " ef";
  EXPECT_IN_CHILD(
      "^111$", setlocale(LC_ALL, "ja_JP.UTF-8"); setenv("KOVRIN_LANG", "ja_JP.UTF-8", 1);
      setenv("KVN_QA_PRINT", "1", 1); setenv("JRT_DICT_DIR", "/nonexistent", 1);
      std::fprintf(stderr, "%d", Break(text, 5) == "ab" + extra + " cd" + extra + "\nef");
      unsetenv("KVN_QA_PRINT");
      std::fprintf(stderr, "%d%d", atr_i18nTesting(), atr_i18nExtraCharacters() == extra));
}

}  // namespace
