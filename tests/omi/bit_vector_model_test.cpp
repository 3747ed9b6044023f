// Bit vectors against std::set models that also keep blocks and directory length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "long_tests.h"
#include "varururor/aio/ios.h"
#include "varururor/aio/standard_streams.h"
#include "varururor/omi/bit_vector.h"
#include "varururor/omi/bit_vector_traversal.h"

namespace {

constexpr unsigned kLog2BitsPerBlock = 13;
constexpr unsigned kWordsPerBlock = 256;
constexpr unsigned kDirectoryStep = 128;

struct Model {
  std::set<unsigned> bits, blocks;
  unsigned length = kDirectoryStep;

  void Set(unsigned bit) {
    bits.insert(bit);
    unsigned slot = bit >> kLog2BitsPerBlock;
    blocks.insert(slot);
    if (slot >= length) length = (slot / kDirectoryStep + 1) * kDirectoryStep;
  }
  void Recount() {
    blocks.clear();
    for (unsigned bit : bits) blocks.insert(bit >> kLog2BitsPerBlock);
  }
  unsigned Word(unsigned slot, unsigned w) const {
    unsigned first = (slot << kLog2BitsPerBlock) + w * 32;
    unsigned word = 0;
    for (auto it = bits.lower_bound(first); it != bits.end() && *it - first < 32; ++it) {
      word |= 1u << (*it - first);
    }
    return word;
  }
};

int ModelCompare(Model const& a, Model const& b) {
  if (a.bits.size() != b.bits.size()) {
    return static_cast<int>(a.bits.size()) - static_cast<int>(b.bits.size());
  }
  for (unsigned slot = 0; slot < b.length; ++slot) {
    bool mine = slot < a.length && a.blocks.count(slot) != 0;
    bool theirs = b.blocks.count(slot) != 0;
    int remaining = static_cast<int>(b.length - slot);
    if (!mine && theirs) return -remaining;
    if (mine && !theirs) return remaining;
    if (!mine) continue;
    for (unsigned w = 0; w < kWordsPerBlock; ++w) {
      unsigned x = a.Word(slot, w);
      unsigned y = b.Word(slot, w);
      if (x != y) return x > y ? 1 : -1;
    }
  }
  return 0;
}

std::vector<unsigned> Bits(omi_BlkBitVectTrav& trav, bool forward) {
  std::vector<unsigned> bits;
  unsigned bit = 1;
  for (bool found = forward ? trav.First(bit) : trav.Last(bit); found;
       found = forward ? trav.Next(bit) : trav.Prev(bit)) {
    bits.push_back(bit);
  }
  EXPECT_EQ(bit, 0u) << "a failed step gives 0";
  return bits;
}

class BitVectorModel {
 public:
  explicit BitVectorModel(unsigned seed) : random_(seed) {
    for (auto& v : vectors_) v.reset(new omi_BlkBitVect);
  }

  void Run(int steps) {
    for (int step = 0; step < steps && !testing::Test::HasFailure(); ++step) {
      int target = static_cast<int>(Pick(kVectors));
      int other = static_cast<int>(Pick(kVectors));
      std::string what = Step(target, other);
      SCOPED_TRACE("step " + std::to_string(step) + ": " + what);
      for (int i = 0; i < kVectors; ++i) CheckVector(i);
      CheckPair(*vectors_[target], *vectors_[other], models_[target], models_[other]);
      CheckTraversal(target);
      if (step % 100 == 0) StaleWalk(target);
    }
  }

 private:
  static constexpr int kVectors = 4;

  unsigned Pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random_); }

  // Mostly in the first blocks or at block edges, some past the first directory, a few far.
  unsigned RandomBit() {
    unsigned kind = Pick(8);
    if (kind < 2) return Pick(3 * 8192);
    if (kind < 4) return (1 + Pick(12)) * 8192 + Pick(4) - 2;
    if (kind < 6) return Pick(1u << 18);
    return kind == 6 ? 1048576 + Pick(3 * 1048576) : (1u << 24) - 1 - Pick(20000);
  }

  // in_place keeps the vector object (a traversal may be walking it).
  std::string Step(int t, int o, bool in_place = false) {
    omi_BlkBitVect& v = *vectors_[t];
    Model& m = models_[t];
    omi_BlkBitVect const& w = *vectors_[o];
    Model const other = models_[o];
    unsigned action = Pick(24);
    if (action < 4) {
      // The blocks holding members are left; | and ^ take the longer directory.
      if (action == 0) v &= w;
      if (action == 1) v |= w;
      if (action == 2) v -= w;
      if (action == 3) v ^= w;
      std::set<unsigned> const mine = m.bits;
      m.bits.insert(other.bits.begin(), other.bits.end());
      for (auto it = m.bits.begin(); it != m.bits.end();) {
        bool x = mine.count(*it) != 0, y = other.bits.count(*it) != 0;
        bool kept = action == 0 ? x && y : action == 1 ? true : action == 2 ? x && !y : x != y;
        it = kept ? std::next(it) : m.bits.erase(it);
      }
      if (action % 2 == 1) m.length = std::max(m.length, other.length);
      m.Recount();
      return "set operation " + std::to_string(action);
    }
    if (action == 4 || action == 5) {
      bool copy = action == 5 && !in_place;
      if (copy) vectors_[t].reset(new omi_BlkBitVect(w));
      if (!copy) v = w;
      m = other;
      return copy ? "copy" : "=";
    }
    if (action == 6 && Pick(4) == 0) {
      v.Clear();
      m.bits.clear();
      m.blocks.clear();
      return "clear";
    }
    unsigned bit = RandomBit();
    if (action < 15) {
      // Mostly one bit (SetFromTo sets the ends of its range bit by bit), some long ranges.
      unsigned span = Pick(4) != 0 ? 0 : Pick(5) == 0 ? Pick(20000) : Pick(100);
      unsigned to = Pick(8) == 0 ? bit - std::min(Pick(50), bit) : bit + span;
      v.SetFromTo(bit, to);
      for (unsigned b = bit; b <= std::max(bit, to); ++b) m.Set(b);
      return "SetFromTo " + std::to_string(bit) + " " + std::to_string(to);
    }
    // Mostly a member, so that removals happen.
    if (!m.bits.empty() && Pick(3) != 0) {
      auto it = m.bits.lower_bound(bit);
      bit = it == m.bits.end() ? *m.bits.begin() : *it;
    }
    v.UnsetBit(bit);
    m.bits.erase(bit);
    return "UnsetBit " + std::to_string(bit);
  }

  void CheckVector(int i) {
    omi_BlkBitVect const& v = *vectors_[i];
    Model const& m = models_[i];
    SCOPED_TRACE("vector " + std::to_string(i));
    ASSERT_EQ(v.Count(), m.bits.size());
    ASSERT_EQ(v.DirectoryLength(), m.length);
    std::set<unsigned> blocks;
    for (unsigned slot = 0; slot < v.DirectoryLength(); ++slot) {
      if (v.CellPointer(slot * kWordsPerBlock) != nullptr) blocks.insert(slot);
    }
    ASSERT_EQ(blocks, m.blocks);
    for (unsigned bit : m.bits) ASSERT_TRUE(v.TestBit(bit)) << bit;
    for (int probe = 0; probe < 16; ++probe) {
      unsigned bit = RandomBit();
      ASSERT_EQ(v.TestBit(bit), m.bits.count(bit) != 0) << bit;
    }
  }

  static void CheckPair(omi_BlkBitVect const& v, omi_BlkBitVect const& w, Model const& m,
                        Model const& n) {
    ASSERT_EQ(v == w, m.bits == n.bits && m.blocks == n.blocks && m.length == n.length);
    ASSERT_EQ(v.Compare(w), ModelCompare(m, n));
    ASSERT_EQ(v.Contains(w),
              std::includes(m.bits.begin(), m.bits.end(), n.bits.begin(), n.bits.end()));
  }

  void CheckTraversal(int i) {
    std::set<unsigned> const& bits = models_[i].bits;
    omi_BlkBitVectTrav trav(vectors_[i].get());
    unsigned bit = 1;
    ASSERT_FALSE(trav.Next(bit)) << "not started";
    ASSERT_EQ(Bits(trav, true), std::vector<unsigned>(bits.begin(), bits.end()));
    bit = 1;
    ASSERT_FALSE(trav.Prev(bit) || trav.Next(bit)) << "after a failed step every step fails";
    ASSERT_EQ(bit, 0u);
    ASSERT_EQ(Bits(trav, false), std::vector<unsigned>(bits.rbegin(), bits.rend()));
    // SetCurrent both ways from random places, then a few steps on from there by a copy.
    for (int probe = 0; probe < 6; ++probe) {
      unsigned start = RandomBit();
      if (!bits.empty() && Pick(2) == 0) {
        // Next to a member: on it, or one below or above (0 - 1 is past the directory).
        auto near = bits.lower_bound(start);
        start = (near == bits.end() ? *bits.begin() : *near) + Pick(3) - 1;
      }
      bool forward = Pick(2) == 0;
      std::vector<unsigned> ahead;  // the members the walk is to meet first
      auto on = bits.lower_bound(start);
      auto back = std::make_reverse_iterator(bits.upper_bound(start));
      for (; forward && on != bits.end() && ahead.size() < 4; ++on) ahead.push_back(*on);
      for (; !forward && back != bits.rend() && ahead.size() < 4; ++back) ahead.push_back(*back);
      bit = start;
      bool found = trav.SetCurrent(bit, forward);
      omi_BlkBitVectTrav copy(trav);
      SCOPED_TRACE("SetCurrent " + std::to_string(start) + (forward ? " on" : " back"));
      for (std::size_t k = 0; k < 4; ++k) {
        ASSERT_EQ(found, k < ahead.size()) << k;
        ASSERT_EQ(bit, found ? ahead[k] : 0u) << k;
        if (!found) break;
        found = forward ? copy.Next(bit) : copy.Prev(bit);
      }
    }
  }

  // Made before a step, told of it or not, a traversal starts afresh; then walks on changes.
  void StaleWalk(int t) {
    omi_BlkBitVectTrav told(vectors_[t].get());
    omi_BlkBitVectTrav trav(vectors_[t].get());
    Step(t, static_cast<int>(Pick(kVectors)), true);
    SetBitTraverseData(vectors_[t].get(), &told);
    std::set<unsigned> const& bits = models_[t].bits;
    unsigned bit = 0, told_bit = 0;
    bool on = trav.First(bit);
    ASSERT_EQ(told.First(told_bit), on);
    ASSERT_EQ(on, !bits.empty());
    ASSERT_TRUE(!on || (bit == *bits.begin() && told_bit == bit)) << bit << " " << told_bit;
    for (int s = 0; on && s < 200; ++s) {
      ASSERT_EQ(bits.count(bit), 1u) << "stale step " << s;
      if (Pick(4) == 0) {
        vectors_[t]->UnsetBit(bit);
        models_[t].bits.erase(bit);
      } else {
        Step(t, static_cast<int>(Pick(kVectors)), true);
      }
      on = trav.Next(bit);
    }
  }

  std::mt19937 random_;
  std::unique_ptr<omi_BlkBitVect> vectors_[kVectors];
  Model models_[kVectors];
};

TEST(BitVectorModel, RandomSetAlgebraComparisonsAndTraversal) {
  for (unsigned seed = 1; seed <= static_cast<unsigned>(vr_TestLength(2, 6)); ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    BitVectorModel(seed).Run(1200);
  }
}

// The random sequences stay below 2^24: the top of the number range is checked here.
TEST(BitVector, TheTopOfTheNumberRangeAndTheBitsInTheirWords) {
  omi_BlkBitVect v;
  EXPECT_FALSE(v.TestBit(0xFFFFFFFFu)) << "beyond the directory";
  for (unsigned bit : {5u, 9000u, 0x80000000u, 0xFFFFFFFFu}) v.SetBit(bit);
  omi_BlkBitVectTrav trav(&v);
  EXPECT_EQ(Bits(trav, true), (std::vector<unsigned>{5, 9000, 0x80000000u, 0xFFFFFFFFu}));
  EXPECT_EQ(Bits(trav, false), (std::vector<unsigned>{0xFFFFFFFFu, 0x80000000u, 9000, 5}));
  omi_BlkBitVect w;
  w.SetFromTo(0xFFFFFFFFu - 40, 0xFFFFFFFFu);  // a range ending at the last number ends
  EXPECT_EQ(w.Count(), 41u);
  w.SetFromTo(3, 70);
  EXPECT_EQ(*w.CellPointer(1), 0xFFFFFFFFu);
  EXPECT_EQ(*w.CellPointer(2), 0x7Fu) << "bit n is bit n % 32 of word n / 32";
  omi_BlkBitVectTrav none(nullptr);
  EXPECT_TRUE(Bits(none, true).empty()) << "a null vector is empty";
}

TEST(BitVectorDump, ExactTextInDecimalWhateverTheStreamWasSetTo) {
  omi_BlkBitVect v;
  v.SetFromTo(1, 8);
  v.SetBit(123456789);
  v.SetBit(0x80000000u);
  unsigned saved_flags = aio_cerr.flags();
  aio_cerr.setf(aio_ios::hex | aio_ios::left, aio_ios::basefield | aio_ios::left);
  unsigned flags = aio_cerr.flags();
  FILE* stream = aio_cerr.fptr();  // none unless the library was started
  aio_cerr.attach(stderr, false);
  testing::internal::CaptureStderr();
  v.DumpList();
  aio_cerr.attach(stream, false);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ListCount=10\n       1       2       3       4       5       6       7       8\n"
            "123456789-2147483648\n");
  EXPECT_EQ(aio_cerr.flags(), flags) << "restored";
  aio_cerr.setf(static_cast<int>(saved_flags), -1);
}

}  // namespace
