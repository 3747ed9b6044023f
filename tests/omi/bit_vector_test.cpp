// The bit vector's edge cases the random sequences leave out: the top of the number range,
// the layout of bits in their words, a traversal of no vector, and the exact text of the
// list dump.
#include "varururor/omi/bit_vector.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "varururor/aio/ios.h"
#include "varururor/aio/standard_streams.h"
#include "varururor/omi/bit_vector_traversal.h"

namespace {

std::vector<unsigned> Bits(omi_BlkBitVect const* v, bool forward) {
  std::vector<unsigned> bits;
  omi_BlkBitVectTrav trav(v);
  unsigned bit = 0;
  for (bool found = forward ? trav.First(bit) : trav.Last(bit); found;
       found = forward ? trav.Next(bit) : trav.Prev(bit)) {
    bits.push_back(bit);
  }
  return bits;
}

// The random sequences stay below 2^24: the top of the number range is checked here.
TEST(BitVector, TheTopOfTheNumberRangeAndTheBitsInTheirWords) {
  omi_BlkBitVect v;
  EXPECT_FALSE(v.TestBit(0xFFFFFFFFu)) << "beyond the directory";
  for (unsigned bit : {5u, 9000u, 0x80000000u, 0xFFFFFFFFu}) v.SetBit(bit);
  EXPECT_EQ(Bits(&v, true), (std::vector<unsigned>{5, 9000, 0x80000000u, 0xFFFFFFFFu}));
  EXPECT_EQ(Bits(&v, false), (std::vector<unsigned>{0xFFFFFFFFu, 0x80000000u, 9000, 5}));
  omi_BlkBitVect w;
  w.SetFromTo(0xFFFFFFFFu - 40, 0xFFFFFFFFu);  // a range ending at the last number ends
  EXPECT_EQ(w.Count(), 41u);
  EXPECT_EQ(Bits(&w, false).front(), 0xFFFFFFFFu);
  w.SetFromTo(3, 70);
  EXPECT_EQ(*w.CellPointer(1), 0xFFFFFFFFu);
  EXPECT_EQ(*w.CellPointer(2), 0x7Fu) << "bit n is bit n % 32 of word n / 32";
  EXPECT_TRUE(Bits(nullptr, true).empty()) << "a null vector is empty";
}

// What DumpList writes on aio_cerr, caught in a scratch file.
std::string DumpListText(omi_BlkBitVect const& v) {
  FILE* saved = aio_cerr.fptr();
  FILE* scratch = std::tmpfile();
  aio_cerr.attach(scratch, false);
  v.DumpList();
  aio_cerr.attach(saved, false);
  std::rewind(scratch);
  std::string text;
  for (int c = std::fgetc(scratch); c != EOF; c = std::fgetc(scratch)) text += static_cast<char>(c);
  std::fclose(scratch);
  return text;
}

TEST(BitVectorDump, ExactTextInDecimalWhateverTheStreamWasSetTo) {
  omi_BlkBitVect v;
  EXPECT_EQ(DumpListText(v), "Empty List\n");
  v.SetFromTo(1, 8);
  EXPECT_EQ(DumpListText(v),
            "ListCount=8\n       1       2       3       4       5       6       7       8\n\n")
      << "a full last line is followed by an empty one";
  v.SetBit(123456789);
  v.SetBit(0x80000000u);
  unsigned saved = aio_cerr.flags();
  aio_cerr.setf(aio_ios::hex | aio_ios::left, aio_ios::basefield | aio_ios::left);
  unsigned flags = aio_cerr.flags();
  EXPECT_EQ(DumpListText(v),
            "ListCount=10\n       1       2       3       4       5       6       7       8\n"
            "123456789-2147483648\n");
  EXPECT_EQ(aio_cerr.flags(), flags) << "restored";
  aio_cerr.setf(static_cast<int>(saved), -1);
}

}  // namespace
