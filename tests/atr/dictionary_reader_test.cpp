// The dictionary reader's parts: escapes, taking entry lines apart, reading lines in
// pieces with their numbers, and what the second pass tells its listener.
#include "atr/dictionary_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Resolved(std::string text) {
  text.push_back('\0');
  int n = atr::ResolveEscapes(&text[0], static_cast<int>(text.size()) - 1);
  EXPECT_EQ(text[n], '\0');
  return text.substr(0, n);
}

TEST(DictionaryEscapes, EachEscapeOfTheTable) {
  EXPECT_EQ(Resolved("\\\"\\'\\\\\\a\\b\\f\\n\\r\\t\\v"), "\"'\\\a\b\f\n\r\t\v");
  EXPECT_EQ(Resolved("\\101\\7\\08"), std::string("A\a\0"
                                                  "8",
                                                  4));
  EXPECT_EQ(Resolved("\\777\\1234"),
            "\xFF\x53"
            "4");
  EXPECT_EQ(Resolved("\\x41\\x4a\\x4Ag"), "AJJg");
  EXPECT_EQ(Resolved("\\x1234567890abcdef41"), "A");
  EXPECT_EQ(Resolved("\\xg\\q\\8\\\xC3\xA9"), "\\xg\\q\\8\\\xC3\xA9");
  EXPECT_EQ(Resolved("end\\"), "end\\");
  EXPECT_EQ(Resolved("\\\\n"), "\\n");
}

struct Split {
  atr::LineKind kind;
  std::string key;
  std::string value;
};

Split SplitLine(std::string line) {
  atr::EntryLine entry{};
  Split result{atr::SplitEntryLine(&line[0], &entry), "", ""};
  if (result.kind == atr::LineKind::kEntry) {
    result.key.assign(entry.key, entry.key_length);
    result.value.assign(entry.value, entry.value_length);
  }
  return result;
}

TEST(DictionaryLines, EntriesAndOtherLines) {
  Split open = SplitLine("m['Open'] = r'Ouvrir'\n");
  EXPECT_EQ(open.kind, atr::LineKind::kEntry);
  EXPECT_EQ(open.key, "Open");
  EXPECT_EQ(open.value, "Ouvrir");
  Split quoted = SplitLine("tr['It's'] = r'C'est'\r\n");
  EXPECT_EQ(quoted.key, "It's");
  EXPECT_EQ(quoted.value, "C'est");
  EXPECT_EQ(SplitLine("x['a'] = r''").kind, atr::LineKind::kEntry);
  EXPECT_EQ(SplitLine("tr['a'] = r'b'] = r'c'\n").value, "b'] = r'c");
  EXPECT_EQ(SplitLine("# tr = {}\n").kind, atr::LineKind::kOther);
  EXPECT_EQ(SplitLine("tr['a']=r'b'\n").kind, atr::LineKind::kOther);
  EXPECT_EQ(SplitLine("'] = r'x'\n").kind, atr::LineKind::kNoKey);
  EXPECT_EQ(SplitLine("tr['a'] = r'b\n").kind, atr::LineKind::kNoClosingQuote);
  EXPECT_EQ(SplitLine("tr['a'] = r'b' \n").kind, atr::LineKind::kNoClosingQuote);
}

// A file of the given bytes, deleted when closed.
class File {
 public:
  explicit File(std::string const& bytes) : file_(std::tmpfile()) {
    std::fwrite(bytes.data(), 1, bytes.size(), file_);
    std::rewind(file_);
  }
  ~File() { std::fclose(file_); }
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

struct PieceSeen {
  int line;
  int length;
  bool ends_line;
  std::string text;
};

std::vector<PieceSeen> Pieces(std::string const& bytes) {
  File file(bytes);
  atr::DictionaryLines lines(file.get());
  std::vector<PieceSeen> seen;
  while (lines.Next()) {
    seen.push_back({lines.line_number(), lines.length(), lines.ends_line(), lines.text()});
  }
  return seen;
}

TEST(DictionaryLines, LongLinesAreReadInPiecesOfOneBufferLess) {
  std::string bytes = std::string(20000, 'a') + "\nshort\n" + std::string(8191, 'b') + "\n" + "end";
  std::vector<PieceSeen> pieces = Pieces(bytes);
  ASSERT_EQ(pieces.size(), 7u);
  int const lines[] = {1, 1, 1, 2, 3, 3, 4};
  int const lengths[] = {8191, 8191, 3619, 6, 8191, 1, 3};
  bool const ends[] = {false, false, true, true, false, true, true};
  for (size_t i = 0; i < pieces.size(); ++i) {
    EXPECT_EQ(pieces[i].line, lines[i]) << i;
    EXPECT_EQ(pieces[i].length, lengths[i]) << i;
    EXPECT_EQ(pieces[i].ends_line, ends[i]) << i;
  }
  EXPECT_EQ(pieces[6].text, "end");
}

// Records what the second pass tells, as "kind:line:key[=value/length]".
class Recorder : public atr::DictionaryListener {
 public:
  explicit Recorder(bool representable) : representable_(representable) {}
  void InvalidUtf8(char const* key, int line) override { Add("invalid", line, key); }
  void Identity(char const* key, int line) override { Add("identity", line, key); }
  bool ChecksRepresentable() const override { return representable_; }
  void NotRepresentable(char const* key, int line) override { Add("unrepresentable", line, key); }
  void Entry(char const* key, int key_length, char const* value, int, int converted,
             int line) override {
    Add("entry", line,
        std::string(key, key_length) + "=" + value + "/" + std::to_string(converted));
  }
  std::vector<std::string> seen;

 private:
  void Add(char const* kind, int line, std::string const& text) {
    seen.push_back(std::string(kind) + ":" + std::to_string(line) + ":" + text);
  }
  bool representable_;
};

TEST(DictionaryPasses, TheSecondPassTellsEachEntryWithItsLine) {
  File file(
      "tr = {}\n"
      "tr['Open'] = r'Ouvrir'\n"
      "tr['OK'] = r'OK'\n"
      "tr['Bad'] = r'\xC3('\n"
      "tr['Esc\\n'] = r'a\\tb'\n"
      "tr['Hex'] = r'\\xC3'\n"
      "tr['Caf'] = r'Caf\xC3\xA9'\n");
  atr::DictionaryLines lines(file.get());
  EXPECT_EQ(atr::CountEntries(lines), 5);
  lines.Rewind();
  Recorder recorder(true);
  atr::ReadEntries(lines, recorder);
  // Under the C locale "é" has no form: it counts as one replacement byte.
  std::vector<std::string> expected = {
      "entry:2:Open=Ouvrir/6",    "identity:3:OK", "invalid:4:Bad",
      "entry:5:Esc\n=a\tb/3",     "invalid:6:Hex", "unrepresentable:7:Caf",
      "entry:7:Caf=Caf\xC3\xA9/4"};
  EXPECT_EQ(recorder.seen, expected);
}

}  // namespace
