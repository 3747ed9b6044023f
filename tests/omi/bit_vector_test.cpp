// The bit vector's single cases: where blocks and directory slots come into being, ranges,
// comparisons of representation, traversal at the edges of the number range, and the
// exact text of the list dump.
#include "varururor/omi/bit_vector.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "varururor/aio/ios.h"
#include "varururor/aio/standard_streams.h"
#include "varururor/omi/bit_vector_traversal.h"

namespace {

constexpr unsigned kBitsPerBlock = 8192;

bool HasBlock(omi_BlkBitVect const& v, unsigned slot) {
  return v.CellPointer(slot * (kBitsPerBlock / 32)) != nullptr;
}

std::vector<unsigned> Forward(omi_BlkBitVect const& v) {
  std::vector<unsigned> bits;
  omi_BlkBitVectTrav trav(&v);
  unsigned bit = 0;
  for (bool found = trav.First(bit); found; found = trav.Next(bit)) bits.push_back(bit);
  return bits;
}

std::vector<unsigned> Backward(omi_BlkBitVect const& v) {
  std::vector<unsigned> bits;
  omi_BlkBitVectTrav trav(&v);
  unsigned bit = 0;
  for (bool found = trav.Last(bit); found; found = trav.Prev(bit)) bits.push_back(bit);
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

TEST(BitVector, SettingABitAllocatesItsBlockOnly) {
  omi_BlkBitVect v;
  EXPECT_EQ(v.DirectoryLength(), 128u);
  v.SetBit(8192);
  EXPECT_TRUE(HasBlock(v, 1));
  EXPECT_FALSE(HasBlock(v, 0));
  EXPECT_EQ(v.Count(), 1u);
  EXPECT_TRUE(v.TestBit(8192));
  EXPECT_FALSE(v.TestBit(8191));
  EXPECT_FALSE(v.TestBit(8193));
}

TEST(BitVector, ABitPastTheDirectoryGrowsItBy128Slots) {
  omi_BlkBitVect v;
  v.SetBit(1048576);
  EXPECT_EQ(v.DirectoryLength(), 256u);
  EXPECT_TRUE(HasBlock(v, 128));
  EXPECT_FALSE(v.TestBit(0xFFFFFFFFu)) << "beyond the directory";
}

TEST(BitVector, SettingASetBitOrUnsettingAClearOneChangesNothing) {
  omi_BlkBitVect v;
  v.UnsetBit(5);
  EXPECT_FALSE(HasBlock(v, 0)) << "nothing allocated for a clear bit";
  v.SetBit(5);
  v.SetBit(5);
  EXPECT_EQ(v.Count(), 1u);
  v.UnsetBit(5);
  v.UnsetBit(5);
  EXPECT_EQ(v.Count(), 0u);
  EXPECT_TRUE(HasBlock(v, 0)) << "UnsetBit never frees a block";
}

TEST(BitVector, SetFromToSetsWholeWordsBetweenItsEnds) {
  omi_BlkBitVect v;
  v.SetFromTo(3, 70);
  EXPECT_EQ(v.Count(), 68u);
  EXPECT_FALSE(v.TestBit(2));
  EXPECT_TRUE(v.TestBit(3));
  EXPECT_TRUE(v.TestBit(70));
  EXPECT_FALSE(v.TestBit(71));
  EXPECT_EQ(*v.CellPointer(1), 0xFFFFFFFFu);
  EXPECT_EQ(*v.CellPointer(2), 0x7Fu);
  v.SetFromTo(0, 95);
  EXPECT_EQ(v.Count(), 96u) << "bits already set are not counted twice";
}

TEST(BitVector, SetFromToWithFromAboveToSetsFromOnly) {
  omi_BlkBitVect v;
  v.SetFromTo(10, 5);
  EXPECT_EQ(Forward(v), std::vector<unsigned>{10});
  v.SetFromTo(100, 5);
  EXPECT_EQ(Forward(v), (std::vector<unsigned>{10, 100}));
}

TEST(BitVector, SetFromToReachesTheLastBit) {
  omi_BlkBitVect v;
  v.SetFromTo(0xFFFFFFFFu - 40, 0xFFFFFFFFu);
  EXPECT_EQ(v.Count(), 41u);
  EXPECT_TRUE(v.TestBit(0xFFFFFFFFu));
  std::vector<unsigned> back = Backward(v);
  ASSERT_EQ(back.size(), 41u);
  EXPECT_EQ(back.front(), 0xFFFFFFFFu);
  EXPECT_EQ(back.back(), 0xFFFFFFFFu - 40);
  v.SetFromTo(0xFFFFFFFFu, 0xFFFFFFFFu);
  EXPECT_EQ(v.Count(), 41u);
}

TEST(BitVector, EqualityIsOfRepresentation) {
  omi_BlkBitVect a;
  omi_BlkBitVect b;
  a.SetBit(7);
  b.SetBit(7);
  EXPECT_TRUE(a == b);
  b.SetBit(9000);
  b.UnsetBit(9000);
  EXPECT_FALSE(a == b) << "b keeps an all-zero block";
  b &= b;
  EXPECT_TRUE(a == b) << "a set operation frees all-zero blocks";
  omi_BlkBitVect c;
  c.SetBit(2000000);
  c.UnsetBit(2000000);
  c.SetBit(7);
  c &= c;
  EXPECT_EQ(c.DirectoryLength(), 256u);
  EXPECT_FALSE(a == c) << "the directory lengths differ";
}

TEST(BitVector, CompareOrdersByCountFirst) {
  omi_BlkBitVect three;
  omi_BlkBitVect five;
  three.SetFromTo(0, 2);
  five.SetFromTo(100, 104);
  EXPECT_EQ(three.Compare(five), -2);
  EXPECT_EQ(five.Compare(three), 2);
  EXPECT_EQ(three.Compare(three), 0);
}

TEST(BitVector, CompareOfEqualCountsLooksAtBlocksThenWords) {
  omi_BlkBitVect low;
  omi_BlkBitVect high;
  low.SetBit(1);
  high.SetBit(8192 * 3);
  // Slot 0: low has a block, high none; 128 slots from there to the end.
  EXPECT_EQ(low.Compare(high), 128);
  EXPECT_EQ(high.Compare(low), -128);
  omi_BlkBitVect word_greater;
  word_greater.SetBit(2);
  EXPECT_EQ(word_greater.Compare(low), 1);
  EXPECT_EQ(low.Compare(word_greater), -1);
}

TEST(BitVector, ContainsIsTheSubsetRelation) {
  omi_BlkBitVect empty;
  omi_BlkBitVect some;
  some.SetFromTo(10, 20);
  EXPECT_TRUE(some.Contains(empty));
  EXPECT_TRUE(empty.Contains(empty));
  EXPECT_FALSE(empty.Contains(some));
  omi_BlkBitVect emptied;
  emptied.SetBit(50000);
  emptied.UnsetBit(50000);
  EXPECT_TRUE(some.Contains(emptied)) << "an all-zero block holds nothing to contain";
  omi_BlkBitVect part;
  part.SetBit(15);
  EXPECT_TRUE(some.Contains(part));
  part.SetBit(21);
  EXPECT_FALSE(some.Contains(part));
}

TEST(BitVector, AssignmentAndCopyCarryTheCount) {
  omi_BlkBitVect a;
  a.SetFromTo(5, 5000);
  omi_BlkBitVect b(a);
  EXPECT_TRUE(a == b);
  omi_BlkBitVect c;
  c.SetBit(3000000);
  c = a;
  EXPECT_TRUE(a == c);
  EXPECT_EQ(c.Count(), 4996u);
  c = c;
  EXPECT_EQ(c.Count(), 4996u);
  c.Clear();
  EXPECT_EQ(c.Count(), 0u);
  EXPECT_EQ(a.Count(), 4996u);
}

TEST(BitVectorTraversal, VisitsBitsAcrossBlocksBothWays) {
  omi_BlkBitVect v;
  v.SetBit(5);
  v.SetBit(9000);
  v.SetBit(70000);
  EXPECT_EQ(Forward(v), (std::vector<unsigned>{5, 9000, 70000}));
  EXPECT_EQ(Backward(v), (std::vector<unsigned>{70000, 9000, 5}));
  omi_BlkBitVectTrav trav(&v);
  unsigned bit = 100;
  EXPECT_TRUE(trav.SetCurrent(bit, true));
  EXPECT_EQ(bit, 9000u);
  bit = 100;
  EXPECT_TRUE(trav.SetCurrent(bit, false));
  EXPECT_EQ(bit, 5u);
  EXPECT_FALSE(trav.Prev(bit));
  EXPECT_EQ(bit, 0u);
}

TEST(BitVectorTraversal, SetCurrentOnASetBitKeepsIt) {
  omi_BlkBitVect v;
  v.SetBit(9000);
  v.SetBit(9001);
  omi_BlkBitVectTrav trav(&v);
  unsigned bit = 9000;
  EXPECT_TRUE(trav.SetCurrent(bit, false));
  EXPECT_EQ(bit, 9000u);
  EXPECT_TRUE(trav.Next(bit));
  EXPECT_EQ(bit, 9001u);
}

TEST(BitVectorTraversal, SetCurrentBeyondTheDirectory) {
  omi_BlkBitVect v;
  v.SetBit(40);
  omi_BlkBitVectTrav trav(&v);
  unsigned bit = 0xF0000000u;
  EXPECT_FALSE(trav.SetCurrent(bit, true));
  EXPECT_EQ(bit, 0u);
  bit = 0xF0000000u;
  EXPECT_TRUE(trav.SetCurrent(bit, false));
  EXPECT_EQ(bit, 40u);
}

TEST(BitVectorTraversal, TheHighestBitsOfTheRange) {
  omi_BlkBitVect v;
  v.SetBit(0xFFFFFFFFu);
  v.SetBit(0x80000000u);
  v.SetBit(31);
  v.SetBit(32);
  EXPECT_EQ(Forward(v), (std::vector<unsigned>{31, 32, 0x80000000u, 0xFFFFFFFFu}));
  EXPECT_EQ(Backward(v), (std::vector<unsigned>{0xFFFFFFFFu, 0x80000000u, 32, 31}));
}

TEST(BitVectorTraversal, StepsAfterTheEndKeepFailing) {
  omi_BlkBitVect v;
  v.SetBit(3);
  omi_BlkBitVectTrav trav(&v);
  unsigned bit = 0;
  EXPECT_FALSE(trav.Next(bit)) << "not started";
  EXPECT_TRUE(trav.First(bit));
  EXPECT_FALSE(trav.Next(bit));
  EXPECT_FALSE(trav.Next(bit));
  EXPECT_FALSE(trav.Prev(bit));
  EXPECT_EQ(bit, 0u);
  EXPECT_TRUE(trav.Last(bit));
  EXPECT_EQ(bit, 3u);
}

TEST(BitVectorTraversal, EmptyAndNullVectorsFindNothing) {
  omi_BlkBitVect v;
  v.SetBit(77);
  v.UnsetBit(77);
  omi_BlkBitVect const* vectors[] = {&v, nullptr};
  for (omi_BlkBitVect const* vector : vectors) {
    omi_BlkBitVectTrav trav(vector);
    unsigned bit = 9;
    EXPECT_FALSE(trav.First(bit));
    EXPECT_EQ(bit, 0u);
    EXPECT_FALSE(trav.Last(bit));
    bit = 77;
    EXPECT_FALSE(trav.SetCurrent(bit, true));
    bit = 77;
    EXPECT_FALSE(trav.SetCurrent(bit, false));
  }
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
  copy = trav;
  EXPECT_FALSE(copy.Next(bit)) << "the copy stands where trav stands, on the last bit";
  EXPECT_TRUE(trav.Prev(bit));
  EXPECT_EQ(bit, 1u) << "and moves on its own";
}

TEST(BitVectorDump, EmptyList) {
  omi_BlkBitVect v;
  EXPECT_EQ(DumpListText(v), "Empty List\n");
}

TEST(BitVectorDump, ThreeMembersOnOneLine) {
  omi_BlkBitVect v;
  v.SetFromTo(1, 3);
  EXPECT_EQ(DumpListText(v), "ListCount=3\n       1       2       3\n");
}

TEST(BitVectorDump, EightMembersALineAndAnEmptyLineAfterAFullOne) {
  omi_BlkBitVect v;
  v.SetFromTo(0, 15);
  v.SetBit(123456789);
  EXPECT_EQ(DumpListText(v),
            "ListCount=17\n"
            "       0       1       2       3       4       5       6       7\n"
            "       8       9      10      11      12      13      14      15\n"
            "123456789\n");
  omi_BlkBitVect eight;
  eight.SetFromTo(100, 107);
  EXPECT_EQ(DumpListText(eight),
            "ListCount=8\n     100     101     102     103     104     105     106     107\n\n");
}

TEST(BitVectorDump, PrintsInDecimalWhateverTheStreamWasSetTo) {
  omi_BlkBitVect v;
  v.SetBit(255);
  v.SetBit(0x80000000u);
  unsigned saved = aio_cerr.flags();
  aio_cerr.setf(aio_ios::hex | aio_ios::left, aio_ios::basefield | aio_ios::left);
  unsigned flags = aio_cerr.flags();
  EXPECT_EQ(DumpListText(v), "ListCount=2\n     255-2147483648\n");
  EXPECT_EQ(aio_cerr.flags(), flags) << "restored afterwards";
  aio_cerr.setf(static_cast<int>(saved), -1);
}

}  // namespace
