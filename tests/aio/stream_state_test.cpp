// Failure without a file, with bad arguments and of the file itself; who closes the file;
// opening files by name and taking over descriptors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "scratch_directory.h"
#include "varururor/aio/ifstream.h"
#include "varururor/aio/manipulators.h"
#include "varururor/aio/ofstream.h"

namespace {

// Every call without a file, and every bad argument or refused opening with files open,
// fails and does nothing else.
TEST(StreamState, EveryCallWithoutAFileOrWithBadArgumentsFailsAndDoesNothingElse) {
  static char buf[8] = "keep";
  static std::string existing;
  using Step = void (*)(aio_ifstream&, aio_ofstream&);
  Step const without_files[] = {
      [](aio_ifstream& s, aio_ofstream&) { s.scan_string(buf); },
      [](aio_ifstream& s, aio_ofstream&) { EXPECT_EQ(s.scan_char(), 0); },
      [](aio_ifstream& s, aio_ofstream&) { EXPECT_EQ(s.scan_int(), 0); },
      [](aio_ifstream& s, aio_ofstream&) { EXPECT_EQ(s.scan_u_int(), 0u); },
      [](aio_ifstream& s, aio_ofstream&) { EXPECT_EQ(s.scan_int64(), 0); },
      [](aio_ifstream& s, aio_ofstream&) { EXPECT_EQ(s.scan_u_int64(), 0u); },
      [](aio_ifstream& s, aio_ofstream&) { EXPECT_EQ(s.scan_double(), 0.0); },
      [](aio_ifstream& s, aio_ofstream&) { EXPECT_EQ(s.scan_float(), 0.0f); },
      [](aio_ifstream& s, aio_ofstream&) { s.getline(buf, 8); },
      [](aio_ifstream& s, aio_ofstream&) { EXPECT_EQ(s.get(), -1); },
      [](aio_ifstream& s, aio_ofstream&) { EXPECT_EQ(s.peek(), -1); },
      [](aio_ifstream& s, aio_ofstream&) { s.putback('x'); },
      [](aio_ifstream& s, aio_ofstream&) { EXPECT_EQ(s.read(buf, 8), 0); },
      [](aio_ifstream& s, aio_ofstream&) { s.ignore(5, '\n'); },
      [](aio_ifstream& s, aio_ofstream&) { s.seekg(0, aio_ios::beg); },
      [](aio_ifstream&, aio_ofstream& s) { s << "x"; },
      [](aio_ifstream&, aio_ofstream& s) { s.print_address(&s); },
      [](aio_ifstream&, aio_ofstream& s) { s.print_int(1); },
      [](aio_ifstream&, aio_ofstream& s) { s.print_u_int(1); },
      [](aio_ifstream&, aio_ofstream& s) { s.print_int64(1); },
      [](aio_ifstream&, aio_ofstream& s) { s.print_u_int64(1); },
      [](aio_ifstream&, aio_ofstream& s) { s.print_double(1); },
      [](aio_ifstream&, aio_ofstream& s) { s.put('x'); },
      [](aio_ifstream&, aio_ofstream& s) { s.write("x", 1); },
      [](aio_ifstream&, aio_ofstream& s) { aio_endl(s); },
      [](aio_ifstream& i, aio_ofstream& s) { s.copy(i); },
      [](aio_ifstream&, aio_ofstream& s) { s.seekp(0, aio_ios::end); },
  };
  Step const with_files[] = {
      [](aio_ifstream& s, aio_ofstream&) { EXPECT_EQ(s.read(buf, -1), 0); },
      [](aio_ifstream& s, aio_ofstream&) { s.scan_string(nullptr); },
      [](aio_ifstream& s, aio_ofstream&) { s.seekg(1LL << 40, aio_ios::beg); },  // past fseek
      [](aio_ifstream& s, aio_ofstream&) { s.open(nullptr); },
      [](aio_ifstream& s, aio_ofstream&) { s.open("/nonexistent-vr-file"); },
      [](aio_ifstream&, aio_ofstream& s) { s.write(nullptr, 3).write("x", -1); },
      [](aio_ifstream&, aio_ofstream& s) { s.open(nullptr, false); },
      [](aio_ifstream&, aio_ofstream& s) { s.open(existing.c_str(), true); },
  };
  aio_ifstream in;
  aio_ofstream out;
  auto each_fails_alone = [&](auto const& steps) {
    for (Step step : steps) {
      in.clear();
      out.clear();
      step(in, out);
      EXPECT_EQ(in.rdstate() | out.rdstate(), aio_ios::failbit);
    }
  };
  each_fails_alone(without_files);
  EXPECT_STREQ(buf, "keep");
  EXPECT_EQ(in.tellg(), -1);
  EXPECT_EQ(out.tellp(), -1);
  EXPECT_EQ(in.fd(), -1);
  EXPECT_FALSE(in.close());
  ScratchDirectory dir;
  existing = dir.File("existing");
  WriteFile(existing, "abc");
  in.open(existing.c_str());
  out.open(dir.File("log").c_str(), false);  // appending creates a missing file
  each_fails_alone(with_files);
  EXPECT_EQ(in.get(), 'a');
  out.print("one").close();
  EXPECT_EQ(ReadFile(dir.File("log")), "one");
  EXPECT_EQ(ReadFile(existing), "abc");
  out.open(dir.File("no/such/dir").c_str(), true);
  EXPECT_EQ(out.rdstate(), aio_ios::failbit);
}

// A file's error sets the bad bit: /dev/full takes no data, so buffered output fails at
// the flush, and a file open for writing gives no input. Then who closes a file.
TEST(StreamState, AFailingFileSetsTheBadBitAndOwnedFilesCloseWithTheStream) {
  aio_ofstream out;
  out.attach(std::fopen("/dev/full", "w"), true);
  out.print("data");
  EXPECT_EQ(out.rdstate(), 0u);
  aio_endl(out);
  EXPECT_EQ(out.rdstate(), aio_ios::failbit | aio_ios::badbit);
  // A close that must flush reports the failure, and leaves a good, empty stream.
  out.attach(std::fopen("/dev/full", "w"), true);
  out.print("more");
  EXPECT_TRUE(out.close());
  EXPECT_EQ(out.rdstate(), 0u);
  EXPECT_EQ(out.fptr(), nullptr);
  // A copy stops at the first failed write: what it could not take stays unread.
  ScratchDirectory dir;
  WriteFile(dir.File("source"), std::string(100000, 'x'));
  aio_ifstream in;
  in.open(dir.File("source").c_str());
  out.attach(std::fopen("/dev/full", "w"), true);
  out.copy(in);
  EXPECT_EQ(out.rdstate(), aio_ios::failbit | aio_ios::badbit);
  EXPECT_EQ(in.rdstate(), 0u);
  EXPECT_LT(in.tellg(), 100000);
  in.attach(std::fopen(dir.File("source").c_str(), "w"), true);
  EXPECT_EQ(in.get(), -1);
  EXPECT_EQ(in.rdstate(), aio_ios::failbit | aio_ios::badbit);
  // An owned file closes with its stream, a borrowed one does not; adopted descriptors are
  // owned.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  in.adopt(ends[0]);
  {
    aio_ostream writer;
    writer.adopt(ends[1]);
    {
      aio_ostream borrowed;
      borrowed.attach(writer.fptr(), false);
      borrowed.print("123");
    }
    EXPECT_NE(fcntl(ends[1], F_GETFD), -1);
    writer.print("45");
  }
  EXPECT_EQ(fcntl(ends[1], F_GETFD), -1);
  EXPECT_EQ(in.scan_int(), 12345);
  EXPECT_FALSE(in.close());
  EXPECT_EQ(fcntl(ends[0], F_GETFD), -1);
  in.adopt(-1);
  out.adopt(-1);
  EXPECT_EQ(in.rdstate() | out.rdstate(), aio_ios::failbit);
  EXPECT_EQ(in.fptr(), nullptr);
}

}  // namespace
