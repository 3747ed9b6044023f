// Output files by name: creating, appending, positioning; and descriptors taken over.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "scratch_directory.h"
#include "varururor/aio/ifstream.h"
#include "varururor/aio/ofstream.h"

namespace {

TEST(OfstreamOpen, CreatingLeavesAnExistingFileUntouched) {
  ScratchDirectory dir;
  std::string path = dir.File("existing");
  WriteFile(path, "precious");
  aio_ofstream out;
  out.open(path.c_str(), true);
  EXPECT_EQ(out.rdstate(), aio_ios::failbit);
  EXPECT_EQ(out.fptr(), nullptr);
  out.print("lost");
  EXPECT_EQ(ReadFile(path), "precious");
}

TEST(OfstreamOpen, AppendingCreatesAMissingFileAndAddsToAnExistingOne) {
  ScratchDirectory dir;
  std::string path = dir.File("log");
  {
    aio_ofstream out;
    out.open(path.c_str(), false);
    EXPECT_EQ(out.rdstate(), 0u);
    out.print("one\n");
  }
  {
    aio_ofstream out;
    out.open(path.c_str(), false);
    out.seekp(0, aio_ios::beg);
    out.print("two\n");
  }
  EXPECT_EQ(ReadFile(path), "one\ntwo\n");
}

TEST(OfstreamOpen, AFileThatCannotBeMadeFailsAndAGoodOpenStartsGood) {
  ScratchDirectory dir;
  aio_ofstream out;
  out.open(dir.File("no/such/dir").c_str(), true);
  EXPECT_EQ(out.rdstate(), aio_ios::failbit);
  out.open(nullptr, false);
  EXPECT_EQ(out.rdstate(), aio_ios::failbit);
  out.open(dir.File("fresh").c_str(), true);
  EXPECT_EQ(out.rdstate(), 0u);
}

TEST(Ofstream, SeeksAndTellsAndOverwrites) {
  ScratchDirectory dir;
  std::string path = dir.File("positions");
  aio_ofstream out;
  out.open(path.c_str(), true);
  out.print("0123456789");
  EXPECT_EQ(out.tellp(), 10);
  out.seekp(3, aio_ios::beg).print("abc");
  EXPECT_EQ(out.tellp(), 6);
  out.seekp(-1, aio_ios::end).print("Z");
  out.seekp(-100, aio_ios::cur);
  EXPECT_EQ(out.rdstate(), aio_ios::failbit);
  out.close();
  EXPECT_EQ(ReadFile(path), "012abc678Z");
}

TEST(Adopt, AStreamTakesOverADescriptor) {
  ScratchDirectory dir;
  std::string path = dir.File("adopted");
  // The descriptor of a file opened here; once the stream owns and closes it, the
  // FILE opened here is closed without its descriptor (that close fails harmlessly).
  FILE* writer = std::fopen(path.c_str(), "w");
  aio_ostream out;
  out.adopt(fileno(writer));
  EXPECT_EQ(out.fd(), fileno(writer));
  out.print_int(12345);
  EXPECT_FALSE(out.close());
  std::fclose(writer);
  EXPECT_EQ(ReadFile(path), "12345");

  FILE* reader = std::fopen(path.c_str(), "r");
  aio_istream in;
  in.adopt(fileno(reader));
  EXPECT_EQ(in.scan_int(), 12345);
  EXPECT_FALSE(in.close());
  std::fclose(reader);

  in.adopt(-1);
  EXPECT_EQ(in.rdstate(), aio_ios::failbit);
  EXPECT_EQ(in.fptr(), nullptr);
  out.adopt(-1);
  EXPECT_EQ(out.rdstate(), aio_ios::failbit);
}

TEST(Copy, CopiesEverythingThatIsLeftAndFlushes) {
  ScratchDirectory dir;
  std::string source = dir.File("source");
  std::string text;
  for (int i = 0; i < 8000; ++i) text += "line " + std::to_string(i) + "\n";
  ASSERT_GT(text.size(), 3u * 16384u);
  WriteFile(source, text);
  aio_ifstream in;
  in.open(source.c_str());
  char first[6];
  in.read(first, 5);
  aio_ofstream out;
  out.open(dir.File("target").c_str(), true);
  out.copy(in);
  EXPECT_EQ(out.rdstate(), 0u);
  EXPECT_EQ(in.rdstate(), aio_ios::failbit | aio_ios::eofbit);
  EXPECT_EQ(ReadFile(dir.File("target")), text.substr(5));
}

TEST(Copy, StopsAtAFailedWrite) {
  ScratchDirectory dir;
  std::string source = dir.File("source");
  WriteFile(source, std::string(100000, 'x'));
  aio_ifstream in;
  in.open(source.c_str());
  aio_ofstream out;
  out.attach(std::fopen("/dev/full", "w"), true);
  ASSERT_NE(out.fptr(), nullptr);
  out.copy(in);
  EXPECT_EQ(out.rdstate(), aio_ios::failbit | aio_ios::badbit);
  EXPECT_EQ(in.rdstate(), 0u);
  EXPECT_LT(in.tellg(), 100000);
}

TEST(Pipes, ReadAndWriteThroughPipes) {
  ScratchDirectory dir;
  std::string path = dir.File("piped");
  FILE* writer = popen(("cat > '" + path + "'").c_str(), "w");
  ASSERT_NE(writer, nullptr);
  {
    aio_ostream out;
    out.attach(writer, false);
    out.print_int(12).put(' ').print_double(0.5).put('\n').print("second line\n").flush();
    EXPECT_EQ(out.rdstate(), 0u);
  }
  EXPECT_EQ(pclose(writer), 0);

  FILE* reader = popen(("cat '" + path + "'").c_str(), "r");
  ASSERT_NE(reader, nullptr);
  aio_istream in;
  in.attach(reader, false);
  EXPECT_EQ(in.scan_int(), 12);
  EXPECT_EQ(in.scan_double(), 0.5);
  in.ignore(1, '\n');
  char line[32];
  in.getline(line, sizeof line);
  EXPECT_STREQ(line, "second line");
  EXPECT_EQ(in.rdstate(), 0u);
  in.getline(line, sizeof line);
  EXPECT_EQ(in.rdstate(), aio_ios::failbit | aio_ios::eofbit);
  EXPECT_EQ(pclose(reader), 0);
}

TEST(Pipes, CopyFromAPipe) {
  ScratchDirectory dir;
  FILE* reader = popen("seq 1 20000", "r");
  ASSERT_NE(reader, nullptr);
  aio_istream in;
  in.attach(reader, false);
  aio_ofstream out;
  out.open(dir.File("numbers").c_str(), true);
  out.copy(in);
  EXPECT_EQ(pclose(reader), 0);
  out.close();
  std::string expected;
  for (int i = 1; i <= 20000; ++i) expected += std::to_string(i) + "\n";
  EXPECT_EQ(ReadFile(dir.File("numbers")), expected);
}

}  // namespace
