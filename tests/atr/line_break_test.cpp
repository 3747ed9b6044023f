// Wrapping text for display: the documented cases, multi-byte text, the extra test
// characters, and random texts checked for the properties every wrapping must have.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "child_process.h"
#include "locale_guard.h"
#include "varururor/atr/locale.h"
#include "varururor/atr/translate.h"

namespace {

std::string Text(atr_String const& s) { return std::string(s.CStr(), s.Length()); }

// atr_String text is made by translation; these texts have no "%" and no "\@".
atr_String S(std::string const& s) { return atr_raw(s.c_str()); }

std::string Break(std::string const& s, unsigned width) {
  return Text(atr_String::BreakLineString(S(s), width));
}

std::string AddBreaks(std::string const& s, unsigned width, bool only_unbroken) {
  return Text(atr_String::AddLineBreaks(S(s), width, only_unbroken));
}

TEST(BreakLineString, TheDocumentedCases) {
  EXPECT_EQ(Break("aaa bbb ccc ddd", 5), "aaa bbb\nccc ddd");
  EXPECT_EQ(Break("aaaaaaaaaa bb", 4), "aaaaaaaaaa\nbb");
  atr_String short_text = S("abc");
  atr_String same = atr_String::BreakLineString(short_text, 5);
  EXPECT_EQ(same.CStr(), short_text.CStr());
}

TEST(BreakLineString, LineEndsAndRunsOfSpaces) {
  EXPECT_EQ(Break("one two three\n", 3), "one\ntwo\nthree\n");
  EXPECT_EQ(Break("aa  bb  cc", 2), "aa\n bb\n cc");
  EXPECT_EQ(Break("  lead", 2), "  lead");
  EXPECT_EQ(Break("word\tword word", 6), "word\tword\nword");
  EXPECT_EQ(Break("abc def", 0), "abc\ndef");
  EXPECT_EQ(Break("", 1), "");
}

TEST(BreakLineString, MultiByteCharactersAreNeverSplit) {
  LocaleGuard guard;
  USE_LOCALE_OR_SKIP(guard, "ja_JP.UTF-8");
  // Ideographic space (E3 80 80) is no whitespace byte: the text is one word.
  std::string kana = "\xE3\x83\x95\xE3\x82\xA1\xE3\x80\x80\xE3\x82\xA4\xE3\x83\xAB";
  EXPECT_EQ(Break(kana, 3), kana);
  EXPECT_EQ(Break("\xC3\xA9t\xC3\xA9 \xC3\xA9t\xC3\xA9", 4),
            "\xC3\xA9t\xC3\xA9\n\xC3\xA9t\xC3\xA9");
}

TEST(AddLineBreaks, EachLineIsWrappedOnItsOwn) {
  EXPECT_EQ(AddBreaks("aaa bbb\nccc ddd", 5, false), "aaa bbb\nccc ddd");
  EXPECT_EQ(AddBreaks("aaa bbb\nccc ddd", 5, true), "aaa bbb\nccc ddd");
  EXPECT_EQ(AddBreaks("aa bb cc\ndd ee ff", 2, false), "aa\nbb\ncc\ndd\nee\nff");
  EXPECT_EQ(AddBreaks("aa bb cc\ndd ee ff", 2, true), "aa bb cc\ndd ee ff");
  EXPECT_EQ(AddBreaks("aa bb cc dd", 4, true), "aa bb\ncc dd");
  EXPECT_EQ(AddBreaks("", 4, false), "");
  atr_String short_text = S("ab\ncd");
  EXPECT_EQ(atr_String::AddLineBreaks(short_text, 10, false).CStr(), short_text.CStr());
}

// Properties of any wrapping: removing the inserted line feeds gives back the text less
// the one whitespace byte dropped at each break; no line but the last is shorter than the
// width; a line past the width has one word after the width was reached.
TEST(BreakLineString, RandomTextsKeepEveryWordInOrder) {
  std::mt19937 random(2024);
  char const* words[] = {"a", "bb", "ccc", "dddddd", "eeeeeeeeeeee"};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    int count = random() % 12;
    for (int i = 0; i < count; ++i) {
      if (i > 0) text += random() % 4 == 0 ? "  " : " ";
      text += words[random() % 5];
    }
    unsigned width = 1 + random() % 10;
    std::string wrapped = Break(text, width);
    if (text.size() <= width) {
      ASSERT_EQ(wrapped, text);
      continue;
    }
    // Rebuild: each inserted "\n" stands for one dropped space.
    std::string rebuilt;
    for (char c : wrapped) rebuilt += c == '\n' ? ' ' : c;
    ASSERT_EQ(rebuilt, text) << "width " << width;
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = wrapped.find('\n', start)) != std::string::npos; start = end + 1) {
      lines.push_back(wrapped.substr(start, end - start));
    }
    lines.push_back(wrapped.substr(start));
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
      ASSERT_GE(lines[i].size(), width) << wrapped;
      // Without its last word the line was still short of the width.
      size_t last_space = lines[i].find_last_of(' ');
      if (last_space != std::string::npos) {
        std::string head = lines[i].substr(0, last_space);
        size_t trimmed = head.find_last_not_of(' ');
        ASSERT_LT(trimmed == std::string::npos ? 0 : trimmed + 1, width) << wrapped;
      }
    }
  }
}

// In test mode the extra characters U+30BD U+30FC do not count towards the width.
TEST(BreakLineStringTestMode, ExtraCharactersDoNotCount) {
  if (!LocaleInstalled("ja_JP.UTF-8")) GTEST_SKIP() << "locale ja_JP.UTF-8 is not installed";
  std::string extra = "\xE3\x82\xBD\xE3\x83\xBC";
  std::string text = "ab" + extra + " cd" + extra + " ef";
  EXPECT_IN_CHILD(
      "^ab.... cd....\nef$", setlocale(LC_ALL, "ja_JP.UTF-8");
      setenv("KOVRIN_LANG", "ja_JP.UTF-8", 1); setenv("KVN_QA_PRINT", "1", 1);
      setenv("JRT_DICT_DIR", "/nonexistent", 1); std::string out = Break(text, 5);
      for (std::string::size_type p; (p = out.find(extra)) != std::string::npos;) {
        out.replace(p, extra.size(), "....");
      } std::fputs(out.c_str(), stderr));
  // Outside test mode they are six bytes like any others.
  EXPECT_IN_CHILD(
      "^ab....\ncd....\nef$", setlocale(LC_ALL, "ja_JP.UTF-8"); unsetenv("KVN_QA_PRINT");
      std::string out = Break(text, 5);
      for (std::string::size_type p; (p = out.find(extra)) != std::string::npos;) {
        out.replace(p, extra.size(), "....");
      } std::fputs(out.c_str(), stderr));
}

}  // namespace
