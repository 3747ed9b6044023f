// Output: a table of formatted texts, and random writes and positionings against a
// byte-exact shadow of the file, through files by name and the string stream.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>

#include "long_tests.h"
#include "scratch_directory.h"
#include "varururor/aio/ifstream.h"
#include "varururor/aio/manipulators.h"
#include "varururor/aio/ostrstream.h"
#include "varururor/mem/allocation.h"

namespace {

void* Refuse(unsigned int) { return nullptr; }

// Everything the string stream holds, NUL bytes included (the text ends where the stream
// is left positioned); the buffer goes back to the heap.
std::string Contents(aio_ostrstream& s) {
  char* text = s.adoptString(mem_Malloc);
  if (text == nullptr) return "(null)";
  std::string result(text, static_cast<size_t>(s.tellp()));
  EXPECT_EQ(text[result.size()], '\0');
  mem_Free(text);
  return result;
}

struct FormatCase {
  unsigned int flags;
  int precision;
  int width;
  void (*print)(aio_ostream&);
  std::string expected;
};

// Each case, then "|": the width applies to the next output only, except a line feed's.
TEST(OstreamFormat, WritesTheTextTheFlagsWidthAndPrecisionAskFor) {
  unsigned int const left = aio_ios::left;
  unsigned int const hex = aio_ios::hex;
  unsigned int const oct = aio_ios::oct;
  unsigned int const point = aio_ios::showpoint;
  FormatCase const cases[] = {
      {0, 6, 5, [](aio_ostream& s) { s.print_int(42); }, "   42"},
      {left, 6, 5, [](aio_ostream& s) { s.print_int(42); }, "42   "},
      {left | aio_ios::right, 6, 5, [](aio_ostream& s) { s.print_int(42); }, "   42"},
      {oct, 6, 0, [](aio_ostream& s) { s.print_u_int64(1ull << 40); }, "20000000000000"},
      {oct | hex, 6, 0, [](aio_ostream& s) { s.print_u_int(UINT_MAX); }, "4294967295"},
      {0, 6, 0, [](aio_ostream& s) { s.print_int64(LLONG_MIN); }, "-9223372036854775808"},
      {0, 6, 0, [](aio_ostream& s) { s.print_u_int64(ULLONG_MAX); }, "18446744073709551615"},
      {hex, 6, 12, [](aio_ostream& s) { s.print_u_int64(0xABCDEF012ull); }, "   abcdef012"},
      {aio_ios::fixed | point, 0, 0, [](aio_ostream& s) { s.print_double(0.4); }, "0."},
      {aio_ios::scientific, 6, 0, [](aio_ostream& s) { s.print_double(1234.5); }, "1.234500e+03"},
      {aio_ios::scientific, 6, 0,
       [](aio_ostream& s) { aio_resetiosflags(s, aio_ios::scientific).print_double(1234.5); },
       "1234.5"},
      {point, 2, 0, [](aio_ostream& s) { s.print_double(1.0); }, "1"},
      {point, 2, 8, [](aio_ostream& s) { s.print_double(2.5); }, "     2.5"},
      {point | left, 2, 6, [](aio_ostream& s) { s.print_double(-0.125); }, "-0.12 "},
      {0, 6, 6, [](aio_ostream& s) { s.print("abc"); }, "   abc"},
      {0, 6, 0, [](aio_ostream& s) { s.print(nullptr) << "<>"; }, "<>"},
      {0, 6, 3, [](aio_ostream& s) { s.put('x'); }, "  x"},
      {0, 6, 3, [](aio_ostream& s) { s.put('\n'); }, "\n  "},
      {0, 6, 8, [](aio_ostream& s) { s.print_address(reinterpret_cast<void*>(0xbeef)); },
       "  0xbeef"},
      {0, 6, 0, [](aio_ostream& s) { s.print_address(nullptr); }, "0"},
  };
  for (FormatCase const& c : cases) {
    aio_ostrstream s;
    aio_setiosflags(aio_setprecision(s, c.precision), c.flags);
    if (c.width != 0) aio_setwidth(s, c.width);
    c.print(s);
    s.print("|");
    EXPECT_EQ(s.rdstate(), 0u) << c.expected;
    EXPECT_EQ(Contents(s), c.expected + "|");
  }
}

std::string RandomBytes(std::mt19937& random, size_t size, bool with_nul) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(with_nul ? random() % 256 : 1 + random() % 255);
  return bytes;
}

// Random prints, writes, puts, copies and seeks on a new file, an appended file and the
// string stream; after each step the position and the whole contents equal the shadow's
// (the string stream hands out the text up to its position, an empty one included). An
// appending stream writes at the end wherever it was positioned.
TEST(OutputModel, EveryWriteLandsWhereTheShadowSays) {
  std::mt19937 random(2024);
  for (int round = vr_TestLength(30, 900); round > 0; --round) {
    ScratchDirectory dir;
    std::string path = dir.File("out.bin");
    bool const append = round % 3 == 1;
    bool const string_stream = round % 3 == 2;
    std::string shadow = RandomBytes(random, append ? random() % 100 : 0, true);
    if (append) WriteFile(path, shadow);
    aio_ostrstream text;
    aio_ofstream file;
    aio_ofstream& out = string_stream ? text : file;
    if (!string_stream) out.open(path.c_str(), !append);
    ASSERT_EQ(out.rdstate(), 0u);
    size_t position = shadow.size();
    for (int step = 0; step < 60; ++step) {
      std::string data;
      int op = static_cast<int>(random() % 5);
      if (op == 0) {
        data = RandomBytes(random, random() % 300, false);
        out.print(data.c_str());
      } else if (op == 1) {
        data = RandomBytes(random, random() % 300, true);
        out.write(data.data(), static_cast<int>(data.size()));
      } else if (op == 2) {
        data = RandomBytes(random, 1, true);
        out.put(data[0]);
      } else if (op == 3 && random() % 8 == 0) {
        // More than three of copy's 16384-byte chunks, less the first few bytes read.
        std::string source = RandomBytes(random, random() % 70000, true);
        WriteFile(dir.File("source"), source);
        aio_ifstream in;
        in.open(dir.File("source").c_str());
        char first[8];
        size_t skip = std::min<size_t>(source.size(), random() % sizeof first);
        in.read(first, static_cast<int>(skip));
        out.copy(in);
        ASSERT_EQ(in.rdstate(), aio_ios::failbit | aio_ios::eofbit);
        data = source.substr(skip);
      } else if (op == 4) {
        position = random() % (shadow.size() + 1);
        long long const from[] = {0, out.tellp(), static_cast<long long>(shadow.size())};
        aio_ios::seek_dir seek = static_cast<aio_ios::seek_dir>(random() % 3);
        out.seekp(static_cast<long long>(position) - from[seek], seek);
      }
      if (!data.empty()) {
        if (append) position = shadow.size();
        shadow.replace(position, std::min(data.size(), shadow.size() - position), data);
        position += data.size();
      }
      ASSERT_EQ(out.rdstate(), 0u) << "round " << round << " step " << step << " op " << op;
      ASSERT_EQ(out.tellp(), static_cast<long long>(position)) << "step " << step;
      if (string_stream) {
        // A refused buffer gives null and fails the stream, which keeps its text.
        ASSERT_EQ(text.adoptString(step % 2 ? nullptr : Refuse), nullptr);
        ASSERT_EQ(text.rdstate(), aio_ios::failbit);
        text.clear();
        ASSERT_EQ(Contents(text), shadow.substr(0, position)) << "step " << step;
      } else {
        out.flush();
        ASSERT_EQ(ReadFile(path), shadow) << "step " << step;
      }
    }
    EXPECT_FALSE(out.close());
  }
}

}  // namespace
