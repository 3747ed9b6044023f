// Input from real files: scanning, lines, bytes, and the state bits each leaves.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "scratch_directory.h"
#include "varururor/aio/ifstream.h"

namespace {

class Istream : public ::testing::Test {
 protected:
  // Opens a file holding text.
  aio_ifstream& Open(std::string const& text) {
    std::string path = dir_.File("in.txt");
    WriteFile(path, text);
    in_.open(path.c_str());
    EXPECT_EQ(in_.rdstate(), 0u);
    return in_;
  }

  ScratchDirectory dir_;
  aio_ifstream in_;
};

TEST_F(Istream, ScansWordsNumbersAndCharacters) {
  aio_ifstream& in = Open("  hello 42 -7 ff 17 3.5 2.25e1 x");
  char word[16];
  in.scan_string(word);
  EXPECT_STREQ(word, "hello");
  EXPECT_EQ(in.scan_int(), 42);
  EXPECT_EQ(in.scan_int(), -7);
  in.setf(aio_ios::hex, aio_ios::basefield);
  EXPECT_EQ(in.scan_int(), 255);
  in.setf(aio_ios::oct, aio_ios::basefield);
  EXPECT_EQ(in.scan_u_int(), 15u);
  EXPECT_EQ(in.scan_double(), 3.5);
  EXPECT_EQ(in.scan_float(), 22.5f);
  EXPECT_EQ(in.scan_char(), ' ');
  EXPECT_EQ(in.scan_char(), 'x');
  EXPECT_EQ(in.rdstate(), 0u);
  EXPECT_EQ(in.scan_char(), 0);
  EXPECT_EQ(in.rdstate(), aio_ios::failbit | aio_ios::eofbit);
}

TEST_F(Istream, ScansSixtyFourBitIntegers) {
  aio_ifstream& in = Open(
      "9223372036854775807 -9223372036854775808 18446744073709551615 "
      "ffffffffffffffff 1777777777777777777777");
  EXPECT_EQ(in.scan_int64(), 9223372036854775807LL);
  EXPECT_EQ(in.scan_int64(), -9223372036854775807LL - 1);
  EXPECT_EQ(in.scan_u_int64(), 18446744073709551615ULL);
  in.setf(aio_ios::hex, aio_ios::basefield);
  EXPECT_EQ(in.scan_int64(), -1);
  in.setf(aio_ios::oct, aio_ios::basefield);
  EXPECT_EQ(in.scan_u_int64(), 18446744073709551615ULL);
  EXPECT_EQ(in.rdstate(), 0u);
}

TEST_F(Istream, ANumberThatIsNotThereFailsWithoutEndOfFile) {
  aio_ifstream& in = Open("abc");
  EXPECT_EQ(in.scan_int(), 0);
  EXPECT_EQ(in.rdstate(), aio_ios::failbit);
  EXPECT_TRUE(in.fail());
  EXPECT_FALSE(in.eof());
  in.clear();
  char word[8];
  in.scan_string(word);
  EXPECT_STREQ(word, "abc");
  in.scan_string(word);
  EXPECT_STREQ(word, "");
  EXPECT_EQ(in.rdstate(), aio_ios::failbit | aio_ios::eofbit);
}

TEST_F(Istream, GetlineRemovesTheLineFeed) {
  aio_ifstream& in = Open("abc\n\nlast");
  char line[16];
  in.getline(line, sizeof line);
  EXPECT_STREQ(line, "abc");
  EXPECT_EQ(in.rdstate(), 0u);
  in.getline(line, sizeof line);
  EXPECT_STREQ(line, "");
  EXPECT_EQ(in.rdstate(), 0u);
  std::memset(line, 0, sizeof line);
  in.getline(line, sizeof line);
  EXPECT_STREQ(line, "last");
  EXPECT_EQ(in.rdstate(), aio_ios::failbit | aio_ios::eofbit);
  in.clear();
  std::strcpy(line, "kept");
  in.getline(line, sizeof line);
  EXPECT_STREQ(line, "kept");
  EXPECT_EQ(in.rdstate(), aio_ios::failbit | aio_ios::eofbit);
}

TEST_F(Istream, GetlineEndsTheReadingAtALineLongerThanTheBuffer) {
  aio_ifstream& in = Open("abcdef\n");
  char line[4];
  in.getline(line, sizeof line);
  EXPECT_STREQ(line, "abc");
  EXPECT_EQ(in.rdstate(), aio_ios::failbit | aio_ios::eofbit);
}

TEST_F(Istream, GetlineNeverLooksAtWhatTheBufferHeld) {
  // A last line without a line feed ends the reading, whatever the rest of the buffer held.
  aio_ifstream& in = Open("abc");
  char line[8];
  std::memset(line, '\n', sizeof line);
  in.getline(line, sizeof line);
  EXPECT_STREQ(line, "abc");
  EXPECT_EQ(in.rdstate(), aio_ios::failbit | aio_ios::eofbit);
}

TEST_F(Istream, GetlineReadsALineThatFillsTheBufferExactly) {
  aio_ifstream& in = Open("abc\nde\n");
  char line[4];
  in.getline(line, sizeof line);
  EXPECT_STREQ(line, "abc");
  EXPECT_EQ(in.rdstate(), 0u);
  in.getline(line, sizeof line);
  EXPECT_STREQ(line, "de");
  EXPECT_EQ(in.rdstate(), 0u);
}

TEST_F(Istream, BytesOneByOne) {
  aio_ifstream& in = Open("a\xff");
  EXPECT_EQ(in.peek(), 'a');
  EXPECT_EQ(in.get(), 'a');
  in.putback('Z');
  EXPECT_EQ(in.get(), 'Z');
  EXPECT_EQ(in.get(), 0xff);
  EXPECT_EQ(in.rdstate(), 0u);
  EXPECT_EQ(in.peek(), -1);
  EXPECT_EQ(in.rdstate(), aio_ios::failbit | aio_ios::eofbit);
  in.clear();
  EXPECT_EQ(in.get(), -1);
  EXPECT_EQ(in.rdstate(), aio_ios::failbit | aio_ios::eofbit);
}

TEST_F(Istream, ReadReturnsTheCountAndTerminatesAShortRead) {
  aio_ifstream& in = Open("hello");
  char buf[10];
  EXPECT_EQ(in.read(buf, 3), 3);
  EXPECT_EQ(std::string(buf, 3), "hel");
  EXPECT_EQ(in.rdstate(), 0u);
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(in.read(buf, 10), 2);
  EXPECT_STREQ(buf, "lo");
  EXPECT_EQ(in.rdstate(), aio_ios::failbit | aio_ios::eofbit);
}

TEST_F(Istream, IgnoreSkipsThroughTheDelimiter) {
  aio_ifstream& in = Open("ab\ncd\xff\xffx\nyz");
  in.ignore(10, '\n');
  EXPECT_EQ(in.get(), 'c');
  in.ignore(0, '\n');
  EXPECT_EQ(in.get(), 'd');
  in.ignore(10, '\n');  // 0xff is skipped like any other byte
  EXPECT_EQ(in.get(), 'y');
  in.ignore(10, '\n');
  EXPECT_EQ(in.rdstate(), aio_ios::eofbit);
}

TEST(IfstreamOpen, AMissingFileFailsAndAReadableOneOpens) {
  ScratchDirectory dir;
  aio_ifstream in;
  in.open(dir.File("missing").c_str());
  EXPECT_EQ(in.rdstate(), aio_ios::failbit);
  EXPECT_EQ(in.fptr(), nullptr);
  in.open(nullptr);
  EXPECT_EQ(in.rdstate(), aio_ios::failbit);
  WriteFile(dir.File("present"), "1 2");
  in.open(dir.File("present").c_str());
  EXPECT_EQ(in.rdstate(), 0u);
  EXPECT_GE(in.fd(), 0);
  EXPECT_EQ(in.scan_int() + in.scan_int(), 3);
  in.seekg(-1, aio_ios::end);
  EXPECT_EQ(in.tellg(), 2);
  EXPECT_EQ(in.get(), '2');
  in.seekg(1LL << 40, aio_ios::beg);  // beyond what fseek can take
  EXPECT_EQ(in.rdstate(), aio_ios::failbit);
}

}  // namespace
