// getline and ignore on random files of every byte value, against a model of what each
// call reads, leaves in the buffer and sets in the state. The caller's buffer holds random
// bytes before each call: the result must not depend on them.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "scratch_directory.h"
#include "varururor/aio/ifstream.h"

namespace {

constexpr int kFiles = 300;
constexpr int kLargestBuffer = 9;
constexpr unsigned int kEnded = aio_ios::failbit | aio_ios::eofbit;

// A file of bytes 0..255 with many line feeds, and lines of every length near the buffers.
std::string RandomFile(std::mt19937& random) {
  std::string bytes;
  for (int n = random() % 40; n > 0; --n) {
    bytes += random() % 4 == 0 ? '\n' : static_cast<char>(random() % 256);
  }
  return bytes;
}

class LineAndSkipModel : public ::testing::Test {
 protected:
  aio_ifstream& Open(std::string const& bytes) {
    std::string path = dir_.File("in.bin");
    WriteFile(path, bytes);
    in_.close();
    in_.open(path.c_str());
    EXPECT_EQ(in_.rdstate(), 0u);
    return in_;
  }

  ScratchDirectory dir_;
  aio_ifstream in_;
  std::mt19937 random_{1977};
};

// Reading on after each failure (clear) must walk the file line by line: a line that
// fits with its line feed, or one of exactly n - 1 bytes followed by its line feed, reads
// as a line (state 0, line feed consumed); the last line without a line feed and a longer
// line end the reading (fail and end of file) with the bytes read in the buffer.
TEST_F(LineAndSkipModel, GetlineReadsEachLineWhateverTheBufferHeld) {
  for (int file = 0; file < kFiles; ++file) {
    std::string bytes = RandomFile(random_);
    int n = 1 + static_cast<int>(random_() % kLargestBuffer);
    aio_ifstream& in = Open(bytes);
    size_t pos = 0;
    for (int call = 0; call < 60; ++call) {
      char buffer[kLargestBuffer + 1];
      for (char& c : buffer) c = static_cast<char>(random_() % 256);
      std::string before(buffer, sizeof buffer);
      in.clear();
      in.getline(buffer, n);
      std::string where = "file " + std::to_string(file) + " n " + std::to_string(n) + " call " +
                          std::to_string(call);
      if (pos == bytes.size()) {
        ASSERT_EQ(in.rdstate(), kEnded) << where;
        ASSERT_EQ(std::string(buffer, sizeof buffer), before) << where;
        break;
      }
      size_t take = 0;
      while (take < static_cast<size_t>(n - 1) && pos + take < bytes.size()) {
        if (bytes[pos + take++] == '\n') break;
      }
      std::string line = bytes.substr(pos, take);
      pos += take;
      unsigned int state = kEnded;
      if (!line.empty() && line.back() == '\n') {
        line.pop_back();
        state = 0;
      } else if (take > 0 && take == static_cast<size_t>(n - 1) && pos < bytes.size() &&
                 bytes[pos] == '\n') {
        ++pos;
        state = 0;
      }
      ASSERT_EQ(in.rdstate(), state) << where;
      ASSERT_EQ(std::string(buffer, line.size() + 1), line + '\0') << where;
    }
  }
}

// ignore(n, delim) stops after the first byte equal to delim, for every byte value,
// whether delim comes as a char (sign-extended from 0x80 up) or as its byte value.
TEST_F(LineAndSkipModel, IgnoreStopsAtAnyByteValue) {
  for (int file = 0; file < kFiles; ++file) {
    std::string bytes = RandomFile(random_);
    unsigned char delimiter = static_cast<unsigned char>(random_() % 256);
    bool as_char = random_() % 2 == 0;
    int count = static_cast<int>(random_() % 45);
    aio_ifstream& in = Open(bytes);
    in.ignore(count, as_char ? static_cast<char>(delimiter) : delimiter);
    size_t pos = 0;
    bool found = false;
    while (pos < static_cast<size_t>(count) && pos < bytes.size() && !found) {
      found = static_cast<unsigned char>(bytes[pos++]) == delimiter;
    }
    std::string where = "file " + std::to_string(file) + " delimiter " + std::to_string(delimiter) +
                        " count " + std::to_string(count);
    bool ended = !found && pos < static_cast<size_t>(count);
    ASSERT_EQ(in.rdstate(), ended ? aio_ios::eofbit : 0u) << where;
    in.clear();
    int next = pos < bytes.size() ? static_cast<unsigned char>(bytes[pos]) : -1;
    ASSERT_EQ(in.get(), next) << where;
  }
}

}  // namespace
