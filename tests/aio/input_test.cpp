// Input from files: random calls against a model of what is left to read, and a table of
// scans with the values and state bits each leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "long_tests.h"
#include "scratch_directory.h"
#include "varururor/aio/ifstream.h"

namespace {

constexpr int kLargestBuffer = 9;
constexpr unsigned int kEnded = aio_ios::failbit | aio_ios::eofbit;

// getline's model: takes what the call reads from rest into line (without its line feed)
// and returns the state the call leaves. A line feed within n - 1 bytes, or right after a
// line of exactly n - 1 bytes, ends the line and is read with it.
unsigned int TakeLine(std::string& rest, int n, std::string& line) {
  size_t const most = static_cast<size_t>(n - 1);
  size_t const feed = rest.find('\n');
  if (feed < most || (feed == most && most > 0)) {
    line = rest.substr(0, feed);
    rest.erase(0, feed + 1);
    return 0;
  }
  // The last line without a line feed, or a longer line, ends the reading.
  line = rest.substr(0, most);
  rest.erase(0, most);
  return kEnded;
}

// Random get, peek, putback, read, getline, ignore and seekg on random files, each checked
// against the rest of the file still to be read (a byte put back stands in front of it).
// Buffers hold random bytes before each call: no result may depend on them.
TEST(InputModel, EveryCallReadsWhatTheModelSays) {
  ScratchDirectory dir;
  std::string path = dir.File("in.bin");
  std::mt19937 random(1977);
  for (int file = vr_TestLength(400, 40000); file > 0; --file) {
    // Bytes 0..255 with many line feeds, and lines of every length near the buffers.
    std::string bytes;
    for (int n = random() % 40; n > 0; --n) {
      bytes += random() % 4 == 0 ? '\n' : static_cast<char>(random() % 256);
    }
    WriteFile(path, bytes);
    aio_ifstream in;
    in.open(path.c_str());
    std::string rest = bytes;
    bool put_back = false;  // since the last seek
    for (int call = 0; call < 50; ++call) {
      char buffer[kLargestBuffer + 1];
      for (char& c : buffer) c = static_cast<char>(random() % 256);
      std::string before(buffer, sizeof buffer);
      int n = static_cast<int>(random() % (kLargestBuffer + 1));
      int op = static_cast<int>(random() % 7);
      std::string where = std::to_string(file) + ":" + std::to_string(call);
      int next = rest.empty() ? -1 : static_cast<unsigned char>(rest[0]);
      unsigned int state = 0;
      in.clear();
      if (op <= 1) {
        ASSERT_EQ(op == 0 ? in.get() : in.peek(), next) << where;
        state = rest.empty() ? kEnded : 0;
        if (op == 0) rest.erase(0, 1);
      } else if (op == 2) {
        if (put_back || rest.size() == bytes.size()) continue;
        char c = static_cast<char>(random() % 256);
        in.putback(c);
        rest.insert(rest.begin(), c);
        put_back = true;
      } else if (op == 3) {
        size_t count = std::min(static_cast<size_t>(n), rest.size());
        ASSERT_EQ(in.read(buffer, n), static_cast<int>(count)) << where;
        ASSERT_EQ(std::string(buffer, count), rest.substr(0, count)) << where;
        if (count < static_cast<size_t>(n)) {
          ASSERT_EQ(buffer[count], '\0') << where;
          state = kEnded;
        }
        rest.erase(0, count);
      } else if (op == 4) {
        std::string line;
        state = n == 0 ? aio_ios::failbit : TakeLine(rest, n, line);
        in.getline(buffer, n);
        if (n == 0 || next == -1) {
          ASSERT_EQ(std::string(buffer, sizeof buffer), before) << where;
        } else {
          ASSERT_EQ(std::string(buffer, line.size() + 1), line + '\0') << where;
        }
      } else if (op == 5) {
        // The delimiter as a char (sign-extended from 0x80 up) or as its byte value.
        unsigned char delimiter = static_cast<unsigned char>(random() % 256);
        int count = n - 1;
        in.ignore(count, random() % 2 ? static_cast<char>(delimiter) : delimiter);
        size_t skipped = 0;
        bool found = false;
        while (static_cast<int>(skipped) < count && skipped < rest.size() && !found) {
          found = static_cast<unsigned char>(rest[skipped++]) == delimiter;
        }
        if (!found && static_cast<int>(skipped) < count) state = aio_ios::eofbit;
        rest.erase(0, skipped);
      } else if (op == 6) {
        long long const size = static_cast<long long>(bytes.size());
        long long const target = static_cast<long long>(random() % (size + 1));
        long long const from[] = {0, in.tellg(), size};
        // After a put-back byte, until the next read of the file itself, the C library
        // reckons a relative seek wrongly.
        aio_ios::seek_dir dir = static_cast<aio_ios::seek_dir>(random() % 3);
        if (put_back && dir == aio_ios::cur) dir = aio_ios::end;
        in.seekg(target - from[dir], dir);
        rest = bytes.substr(static_cast<size_t>(target));
        put_back = false;
      }
      ASSERT_EQ(in.rdstate(), state) << where;
      ASSERT_EQ(in.tellg(), static_cast<long long>(bytes.size() - rest.size())) << where;
    }
  }
}

struct ScanCase {
  char const* text;
  unsigned int base;
  std::string (*scan)(aio_istream&);
  char const* expected;
  unsigned int state;
};

std::string String(aio_istream& in) {
  char word[16] = "kept";
  in.scan_string(word);
  return word;
}
// One of the scans of a number or a character, as text.
template <auto scan>
std::string Read(aio_istream& in) {
  return std::to_string((in.*scan)());
}

TEST(Scan, ReadsByTheBaseFieldAndFailsWhereNothingIsRead) {
  ScanCase const cases[] = {
      {"  hello world", 0, String, "hello", 0},
      {"  ", 0, String, "", kEnded},
      {" x", 0, Read<&aio_istream::scan_char>, "32", 0},
      {"", 0, Read<&aio_istream::scan_char>, "0", kEnded},
      {" -7 ", 0, Read<&aio_istream::scan_int>, "-7", 0},
      {"ffffffff", aio_ios::hex, Read<&aio_istream::scan_int>, "-1", 0},
      {"19", aio_ios::oct | aio_ios::hex, Read<&aio_istream::scan_int>, "19", 0},
      {"abc", 0, Read<&aio_istream::scan_int>, "0", aio_ios::failbit},
      {"4294967295", 0, Read<&aio_istream::scan_u_int>, "4294967295", 0},
      {"-9223372036854775808", 0, Read<&aio_istream::scan_int64>, "-9223372036854775808", 0},
      {"1777777777777777777777", aio_ios::oct, Read<&aio_istream::scan_u_int64>,
       "18446744073709551615", 0},
      {"3.5", 0, Read<&aio_istream::scan_double>, "3.500000", 0},
      {"2.25e1", 0, Read<&aio_istream::scan_float>, "22.500000", 0},
      {"", 0, Read<&aio_istream::scan_float>, "0.000000", kEnded},
  };
  ScratchDirectory dir;
  std::string path = dir.File("scanned");
  for (ScanCase const& c : cases) {
    WriteFile(path, c.text);
    aio_ifstream in;
    in.open(path.c_str());
    in.setf(static_cast<int>(c.base), aio_ios::basefield);
    EXPECT_EQ(c.scan(in), c.expected) << '"' << c.text << '"';
    EXPECT_EQ(in.rdstate(), c.state) << '"' << c.text << '"';
  }
}

}  // namespace
