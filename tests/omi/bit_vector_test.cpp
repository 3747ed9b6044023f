// The bit vector's edge cases the random sequences leave out: the top of the number range,
// the layout of bits in their words, traversal after its end and over a grown directory,
// and the exact text of the list dump.
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

// The random sequences stay below 2^24: the top of the number range is checked here.
TEST(BitVector, TheTopOfTheNumberRange) {
  omi_BlkBitVect v;
  EXPECT_FALSE(v.TestBit(0xFFFFFFFFu)) << "beyond the directory";
  for (unsigned bit : {5u, 9000u, 0x80000000u, 0xFFFFFFFFu}) v.SetBit(bit);
  EXPECT_EQ(Bits(&v, true), (std::vector<unsigned>{5, 9000, 0x80000000u, 0xFFFFFFFFu}));
  EXPECT_EQ(Bits(&v, false), (std::vector<unsigned>{0xFFFFFFFFu, 0x80000000u, 9000, 5}));
  omi_BlkBitVect w;
  w.SetFromTo(0xFFFFFFFFu - 40, 0xFFFFFFFFu);  // a range ending at the last number ends
  EXPECT_EQ(w.Count(), 41u);
  EXPECT_EQ(Bits(&w, false).front(), 0xFFFFFFFFu);
}

TEST(BitVector, BitsLieInTheirWordsFromTheLowEnd) {
  omi_BlkBitVect v;
  v.SetFromTo(3, 70);
  EXPECT_EQ(*v.CellPointer(1), 0xFFFFFFFFu);
  EXPECT_EQ(*v.CellPointer(2), 0x7Fu);
}

TEST(BitVectorTraversal, AfterAFailedStepEveryStepFailsUntilARestart) {
  omi_BlkBitVect v;
  v.SetBit(3);
  omi_BlkBitVectTrav trav(&v);
  unsigned bit = 9;
  EXPECT_FALSE(trav.Next(bit)) << "not started";
  EXPECT_TRUE(trav.First(bit));
  EXPECT_FALSE(trav.Next(bit));
  EXPECT_FALSE(trav.Prev(bit));
  EXPECT_EQ(bit, 0u);
  EXPECT_TRUE(trav.Last(bit));
  EXPECT_EQ(bit, 3u);
  EXPECT_TRUE(Bits(nullptr, true).empty()) << "a null vector is empty";
}

TEST(BitVectorTraversal, SetBitTraverseDataFollowsAGrownDirectory) {
  omi_BlkBitVect v;
  v.SetBit(1);
  omi_BlkBitVectTrav trav(&v);
  v.SetBit(5000000);
  SetBitTraverseData(&v, &trav);
  unsigned bit = 0;
  EXPECT_TRUE(trav.Last(bit));
  EXPECT_EQ(bit, 5000000u);
  omi_BlkBitVectTrav copy(trav);
  EXPECT_TRUE(copy.Prev(bit));
  EXPECT_EQ(bit, 1u);
}

TEST(BitVectorDump, ExactText) {
  omi_BlkBitVect v;
  EXPECT_EQ(DumpListText(v), "Empty List\n");
  v.SetFromTo(1, 3);
  EXPECT_EQ(DumpListText(v), "ListCount=3\n       1       2       3\n");
  v.SetFromTo(4, 8);
  EXPECT_EQ(DumpListText(v),
            "ListCount=8\n       1       2       3       4       5       6       7       8\n\n")
      << "a full last line is followed by an empty one";
  v.SetBit(123456789);
  v.SetBit(0x80000000u);
  EXPECT_EQ(DumpListText(v),
            "ListCount=10\n       1       2       3       4       5       6       7       8\n"
            "123456789-2147483648\n");
}

TEST(BitVectorDump, PrintsInDecimalWhateverTheStreamWasSetToAndRestoresIt) {
  omi_BlkBitVect v;
  v.SetBit(255);
  unsigned saved = aio_cerr.flags();
  aio_cerr.setf(aio_ios::hex | aio_ios::left, aio_ios::basefield | aio_ios::left);
  unsigned flags = aio_cerr.flags();
  EXPECT_EQ(DumpListText(v), "ListCount=1\n     255\n");
  EXPECT_EQ(aio_cerr.flags(), flags);
  aio_cerr.setf(static_cast<int>(saved), -1);
}

}  // namespace
