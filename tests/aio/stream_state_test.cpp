// Failure without a file, failure of the file itself, and who closes the file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "scratch_directory.h"
#include "varururor/aio/ifstream.h"
#include "varururor/aio/manipulators.h"
#include "varururor/aio/ofstream.h"

namespace {

TEST(StreamState, EveryInputWithoutAFileFailsAndDoesNothingElse) {
  aio_ifstream in;
  char buf[8] = "keep";
  using Step = void (*)(aio_ifstream&, char*);
  Step const steps[] = {
      [](aio_ifstream& s, char* b) { s.scan_string(b); },
      [](aio_ifstream& s, char*) { EXPECT_EQ(s.scan_char(), 0); },
      [](aio_ifstream& s, char*) { EXPECT_EQ(s.scan_int(), 0); },
      [](aio_ifstream& s, char*) { EXPECT_EQ(s.scan_u_int(), 0u); },
      [](aio_ifstream& s, char*) { EXPECT_EQ(s.scan_int64(), 0); },
      [](aio_ifstream& s, char*) { EXPECT_EQ(s.scan_u_int64(), 0u); },
      [](aio_ifstream& s, char*) { EXPECT_EQ(s.scan_double(), 0.0); },
      [](aio_ifstream& s, char*) { EXPECT_EQ(s.scan_float(), 0.0f); },
      [](aio_ifstream& s, char* b) { s.getline(b, 8); },
      [](aio_ifstream& s, char*) { EXPECT_EQ(s.get(), -1); },
      [](aio_ifstream& s, char*) { EXPECT_EQ(s.peek(), -1); },
      [](aio_ifstream& s, char*) { s.putback('x'); },
      [](aio_ifstream& s, char* b) { EXPECT_EQ(s.read(b, 8), 0); },
      [](aio_ifstream& s, char*) { s.ignore(5, '\n'); },
      [](aio_ifstream& s, char*) { s.seekg(0, aio_ios::beg); },
  };
  for (Step step : steps) {
    in.clear();
    step(in, buf);
    EXPECT_EQ(in.rdstate(), aio_ios::failbit);
  }
  EXPECT_STREQ(buf, "keep");
  EXPECT_EQ(in.tellg(), -1);
  EXPECT_EQ(in.fd(), -1);
  EXPECT_FALSE(in.close());
}

TEST(StreamState, EveryOutputWithoutAFileFailsAndDoesNothingElse) {
  aio_ofstream out;
  aio_ifstream in;
  using Step = void (*)(aio_ofstream&, aio_ifstream&);
  Step const steps[] = {
      [](aio_ofstream& s, aio_ifstream&) { s.print("x"); },
      [](aio_ofstream& s, aio_ifstream&) { s << "x"; },
      [](aio_ofstream& s, aio_ifstream&) { s.print_address(&s); },
      [](aio_ofstream& s, aio_ifstream&) { s.print_int(1); },
      [](aio_ofstream& s, aio_ifstream&) { s.print_u_int(1); },
      [](aio_ofstream& s, aio_ifstream&) { s.print_int64(1); },
      [](aio_ofstream& s, aio_ifstream&) { s.print_u_int64(1); },
      [](aio_ofstream& s, aio_ifstream&) { s.print_double(1); },
      [](aio_ofstream& s, aio_ifstream&) { s.put('x'); },
      [](aio_ofstream& s, aio_ifstream&) { s.write("x", 1); },
      [](aio_ofstream& s, aio_ifstream&) { s.flush(); },
      [](aio_ofstream& s, aio_ifstream&) { aio_endl(s); },
      [](aio_ofstream& s, aio_ifstream& i) { s.copy(i); },
      [](aio_ofstream& s, aio_ifstream&) { s.seekp(0, aio_ios::end); },
  };
  for (Step step : steps) {
    out.clear();
    step(out, in);
    EXPECT_EQ(out.rdstate(), aio_ios::failbit);
  }
  EXPECT_EQ(out.tellp(), -1);
}

TEST(StreamState, BadArgumentsFailWithoutTouchingTheFile) {
  ScratchDirectory dir;
  std::string path = dir.File("f");
  WriteFile(path, "abc");
  aio_ifstream in;
  in.open(path.c_str());
  char buf[4];
  in.getline(buf, 0);
  EXPECT_EQ(in.rdstate(), aio_ios::failbit);
  in.clear();
  EXPECT_EQ(in.read(buf, -1), 0);
  EXPECT_EQ(in.rdstate(), aio_ios::failbit);
  in.clear();
  in.scan_string(nullptr);
  EXPECT_EQ(in.rdstate(), aio_ios::failbit);
  EXPECT_EQ(in.get(), 'a');

  aio_ofstream out;
  out.open(dir.File("g").c_str(), true);
  out.write(nullptr, 3).write("x", -1);
  EXPECT_EQ(out.rdstate(), aio_ios::failbit);
  out.close();
  EXPECT_EQ(ReadFile(dir.File("g")), "");
}

TEST(StreamState, OutputToAFileOpenForReadingFailsAsBad) {
  ScratchDirectory dir;
  std::string path = dir.File("read_only_use");
  WriteFile(path, "");
  FILE* f = std::fopen(path.c_str(), "r");
  ASSERT_NE(f, nullptr);
  aio_ostream out;
  out.attach(f, true);
  out.print("text").flush();
  EXPECT_EQ(out.rdstate(), aio_ios::failbit | aio_ios::badbit);
  EXPECT_TRUE(out.bad());
  out.close();
  EXPECT_EQ(out.rdstate(), 0u);
}

TEST(StreamState, InputFromAFileOpenForWritingFailsAsBad) {
  ScratchDirectory dir;
  FILE* f = std::fopen(dir.File("write_only").c_str(), "w");
  ASSERT_NE(f, nullptr);
  aio_istream in;
  in.attach(f, true);
  EXPECT_EQ(in.get(), -1);
  EXPECT_EQ(in.rdstate(), aio_ios::failbit | aio_ios::badbit);
}

TEST(StreamState, AnOwnedFileIsClosedByTheStreamAndAnotherOneIsNot) {
  ScratchDirectory dir;
  std::string owned_path = dir.File("owned");
  std::string kept_path = dir.File("kept");
  FILE* kept = std::fopen(kept_path.c_str(), "w");
  {
    aio_ostream owned;
    owned.attach(std::fopen(owned_path.c_str(), "w"), true);
    owned.print("owned");
    aio_ostream borrowed;
    borrowed.attach(kept, false);
    borrowed.print("kept");
  }
  // The owned file was closed, and so flushed; the other still holds its output.
  EXPECT_EQ(ReadFile(owned_path), "owned");
  EXPECT_EQ(ReadFile(kept_path), "");
  EXPECT_EQ(std::fclose(kept), 0);
  EXPECT_EQ(ReadFile(kept_path), "kept");
}

TEST(StreamState, AFullDeviceFailsAtTheFlushAndAtTheClose) {
  // /dev/full takes no data: buffered output fails when it is flushed.
  aio_ofstream out;
  out.attach(std::fopen("/dev/full", "w"), true);
  ASSERT_NE(out.fptr(), nullptr);
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
}

}  // namespace
