// Formatted output: the exact texts written to a real file and read back.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "scratch_directory.h"
#include "varururor/aio/manipulators.h"
#include "varururor/aio/ofstream.h"

namespace {

// What write puts into a new file through an aio_ofstream; the stream must stay good.
std::string Output(std::function<void(aio_ostream&)> const& write) {
  ScratchDirectory dir;
  std::string path = dir.File("out.txt");
  aio_ofstream out;
  out.open(path.c_str(), true);
  EXPECT_EQ(out.rdstate(), 0u);
  write(out);
  EXPECT_EQ(out.rdstate(), 0u);
  EXPECT_FALSE(out.close());
  return ReadFile(path);
}

TEST(OstreamFormat, AWidthSetByTheManipulatorAppliesToTheNextOutputOnly) {
  EXPECT_EQ(Output([](aio_ostream& s) {
              aio_setwidth(s, 5).print_int(42);
              s.print_int(42);
              EXPECT_EQ(s.width(), 0);
              EXPECT_EQ(s.flags() & aio_ios::widthonce, 0u);
            }),
            "   4242");
}

TEST(OstreamFormat, LeftJustifiesOnlyWithoutTheRightFlag) {
  EXPECT_EQ(Output([](aio_ostream& s) {
              s.setf(aio_ios::left, 0);
              aio_setwidth(s, 5).print_int(42);
              s.print("|");
              s.setf(aio_ios::right, 0);
              aio_setwidth(s, 5).print_int(42);
            }),
            "42   |   42");
}

TEST(OstreamFormat, IntegersFollowTheBaseField) {
  EXPECT_EQ(Output([](aio_ostream& s) {
              s.setf(aio_ios::hex, aio_ios::basefield);
              s.print_int(255).print(" ").print_int(-1).print(" ");
              s.setf(aio_ios::oct, aio_ios::basefield);
              s.print_u_int64(1ull << 40).print(" ").print_u_int(8).print(" ");
              s.setf(aio_ios::oct | aio_ios::hex, aio_ios::basefield);
              s.print_int(-12);
            }),
            "ff ffffffff 20000000000000 10 -12");
}

TEST(OstreamFormat, SixtyFourBitIntegersPrintWhole) {
  EXPECT_EQ(Output([](aio_ostream& s) {
              s.print_int64(LLONG_MIN).print(" ").print_u_int64(ULLONG_MAX).print(" ");
              s.setf(aio_ios::hex, aio_ios::basefield);
              s.print_int64(-2).print(" ");
              aio_setwidth(s, 12).print_u_int64(0xABCDEF012ull);
            }),
            "-9223372036854775808 18446744073709551615 fffffffffffffffe    abcdef012");
}

TEST(OstreamFormat, FloatingPointFollowsNotationAndPrecision) {
  EXPECT_EQ(Output([](aio_ostream& s) { s.print_double(1.0 / 3); }), "0.333333");
  EXPECT_EQ(Output([](aio_ostream& s) {
              aio_setiosflags(aio_setprecision(s, 3), aio_ios::fixed).print_double(1.0 / 3);
            }),
            "0.333");
  EXPECT_EQ(Output([](aio_ostream& s) {
              aio_setprecision(s, 0);
              aio_setiosflags(s, aio_ios::fixed | aio_ios::showpoint).print_double(0.4);
            }),
            "0.");
  EXPECT_EQ(Output([](aio_ostream& s) {
              aio_setiosflags(s, aio_ios::scientific).print_double(1234.5);
              aio_resetiosflags(s, aio_ios::scientific).print(" ").print_double(1234.5);
            }),
            "1.234500e+03 1234.5");
  EXPECT_EQ(Output([](aio_ostream& s) {
              aio_setprecision(s, 2);
              aio_setiosflags(s, aio_ios::showpoint).print_double(1.0);
              aio_setwidth(s, 8).print_double(2.5);
              aio_setiosflags(s, aio_ios::left);
              aio_setwidth(s, 6).print_double(-0.125);
              s.print("|");
            }),
            "1     2.5-0.12 |");
}

TEST(OstreamFormat, TextCharactersAndAddresses) {
  EXPECT_EQ(Output([](aio_ostream& s) {
              aio_setwidth(s, 6).print("abc");
              s.print("def");
              s.print(nullptr);
              s << "<"
                << ">";
              aio_setwidth(s, 3).put('x');
              s.put('y');
              s.setf(aio_ios::left, 0);
              aio_setwidth(s, 3).put('z');
              s.print("|");
            }),
            "   abcdef<>  xyz  |");
  EXPECT_EQ(Output([](aio_ostream& s) {
              s.print_address(reinterpret_cast<void const*>(0x1234)).print(" ");
              aio_setwidth(s, 8).print_address(reinterpret_cast<void const*>(0xbeef)).print(" ");
              s.print_address(nullptr);
            }),
            "0x1234   0xbeef 0");
}

TEST(OstreamFormat, ALineFeedIgnoresAPendingWidthAndLeavesItPending) {
  EXPECT_EQ(Output([](aio_ostream& s) {
              aio_setwidth(s, 3).put('\n');
              EXPECT_EQ(s.width(), 3);
              s.print_int(7);
            }),
            "\n  7");
}

TEST(OstreamFormat, WriteCopiesBytesAsTheyAre) {
  EXPECT_EQ(Output([](aio_ostream& s) {
              s.write("a\0b", 3);
              s.write("ignored", 0);
            }),
            std::string("a\0b", 3));
}

TEST(OstreamFormat, TheLineEndWritesALineFeedAndFlushes) {
  ScratchDirectory dir;
  std::string path = dir.File("flushed.txt");
  aio_ofstream out;
  out.open(path.c_str(), true);
  out.print_int(1);
  EXPECT_EQ(ReadFile(path), "");  // still in the file's buffer
  aio_endl(out);
  EXPECT_EQ(ReadFile(path), "1\n");
}

TEST(OstreamFormat, SetfAndUnsetfReturnTheOldFlags) {
  aio_ofstream s;
  EXPECT_EQ(s.setf(aio_ios::hex | aio_ios::left, 0), 0u);
  EXPECT_EQ(s.setf(aio_ios::oct, aio_ios::basefield), aio_ios::hex | aio_ios::left);
  EXPECT_EQ(s.flags(), aio_ios::oct | aio_ios::left);
  EXPECT_EQ(s.unsetf(aio_ios::left), aio_ios::oct | aio_ios::left);
  EXPECT_EQ(s.flags(), aio_ios::oct);
  EXPECT_EQ(s.precision(), 6);
}

}  // namespace
