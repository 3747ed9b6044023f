// The bit vector's edge cases: where blocks and directory slots come into being, ranges,
// comparisons of representation, traversal at the ends of the number range and after its
// end, and the exact text of the list dump.
#include "varururor/omi/bit_vector.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "varururor/aio/ios.h"
#include "varururor/aio/standard_streams.h"
#include "varururor/omi/bit_vector_traversal.h"

namespace {

bool HasBlock(omi_BlkBitVect const& v, unsigned slot) {
  return v.CellPointer(slot * 256) != nullptr;
}

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

TEST(BitVector, BlocksAndDirectorySlotsComeWithTheirFirstBit) {
  omi_BlkBitVect v;
  v.UnsetBit(5);
  EXPECT_FALSE(HasBlock(v, 0)) << "nothing allocated for a clear bit";
  v.SetBit(8192);
  EXPECT_TRUE(HasBlock(v, 1));
  EXPECT_FALSE(HasBlock(v, 0));
  EXPECT_EQ(v.DirectoryLength(), 128u);
  v.SetBit(1048576);
  EXPECT_EQ(v.DirectoryLength(), 256u);
  EXPECT_FALSE(v.TestBit(0xFFFFFFFFu)) << "beyond the directory";
  v.UnsetBit(8192);
  EXPECT_TRUE(HasBlock(v, 1)) << "UnsetBit never frees a block";
  EXPECT_EQ(v.Count(), 1u);
}

TEST(BitVector, SetFromTo) {
  omi_BlkBitVect v;
  v.SetFromTo(3, 70);
  EXPECT_EQ(v.Count(), 68u);
  EXPECT_EQ(*v.CellPointer(1), 0xFFFFFFFFu);
  EXPECT_EQ(*v.CellPointer(2), 0x7Fu);
  EXPECT_FALSE(v.TestBit(2));
  v.SetFromTo(0, 95);
  EXPECT_EQ(v.Count(), 96u) << "bits already set are not counted twice";
  omi_BlkBitVect w;
  w.SetFromTo(10, 5);
  w.SetFromTo(100, 5);
  EXPECT_EQ(Bits(&w, true), (std::vector<unsigned>{10, 100})) << "from above to: from only";
  w.SetFromTo(0xFFFFFFFFu - 40, 0xFFFFFFFFu);
  EXPECT_EQ(w.Count(), 43u);
  EXPECT_EQ(Bits(&w, false).front(), 0xFFFFFFFFu);
}

TEST(BitVector, EqualityAndCompareAreOfRepresentation) {
  omi_BlkBitVect a;
  omi_BlkBitVect b;
  a.SetBit(7);
  b.SetBit(7);
  b.SetBit(9000);
  b.UnsetBit(9000);
  EXPECT_FALSE(a == b) << "b keeps an all-zero block";
  b &= b;
  EXPECT_TRUE(a == b) << "a set operation frees all-zero blocks";
  omi_BlkBitVect three;
  omi_BlkBitVect five;
  three.SetFromTo(0, 2);
  five.SetFromTo(100, 104);
  EXPECT_EQ(three.Compare(five), -2);
  omi_BlkBitVect emptied;
  emptied.SetBit(50000);
  emptied.UnsetBit(50000);
  EXPECT_TRUE(five.Contains(emptied)) << "an all-zero block holds nothing to contain";
}

TEST(BitVectorTraversal, VisitsBitsAcrossBlocksBothWays) {
  omi_BlkBitVect v;
  for (unsigned bit : {5u, 9000u, 70000u}) v.SetBit(bit);
  EXPECT_EQ(Bits(&v, true), (std::vector<unsigned>{5, 9000, 70000}));
  EXPECT_EQ(Bits(&v, false), (std::vector<unsigned>{70000, 9000, 5}));
  omi_BlkBitVectTrav trav(&v);
  unsigned bit = 100;
  EXPECT_TRUE(trav.SetCurrent(bit, true));
  EXPECT_EQ(bit, 9000u);
  bit = 100;
  EXPECT_TRUE(trav.SetCurrent(bit, false));
  EXPECT_EQ(bit, 5u);
  v.SetBit(0xFFFFFFFFu);
  v.SetBit(0x80000000u);
  EXPECT_EQ(Bits(&v, false), (std::vector<unsigned>{0xFFFFFFFFu, 0x80000000u, 70000, 9000, 5}));
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
