// Random sequences of operations on a few bit vectors, each checked after every step
// against a model: the members as a std::set<unsigned>, with the blocks that writes have
// created and the directory length beside it, since equality and Compare are of
// representation. Members spread over several blocks and past the first directory, so the
// set algebra meets absent blocks on either side and directories of unequal length.
// Traversals run both ways, from random places, after their end, from copies, made before
// the vector changed, and while it changes between their steps (forbidden, but to be
// survived: every step ends the walk or stands on a set bit).
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "long_tests.h"
#include "varururor/omi/bit_vector.h"
#include "varururor/omi/bit_vector_traversal.h"

namespace {

constexpr unsigned kLog2BitsPerBlock = 13;
constexpr unsigned kWordsPerBlock = 256;
constexpr unsigned kDirectoryStep = 128;

struct Model {
  std::set<unsigned> bits;
  std::set<unsigned> blocks;
  unsigned length = kDirectoryStep;

  void Write(unsigned bit) {
    unsigned slot = bit >> kLog2BitsPerBlock;
    blocks.insert(slot);
    if (slot >= length) length = (slot / kDirectoryStep + 1) * kDirectoryStep;
  }
  // After a set operation exactly the blocks holding members are left.
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

// The comparison as described for vectors, worked out on models.
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
      CheckPair(target, other);
      CheckTraversal(target);
      if (step % 100 == 0) StaleWalk(target);
    }
  }

 private:
  static constexpr int kVectors = 4;

  unsigned Pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random_); }

  // Mostly in the first blocks, some either side of block edges, some past the first
  // directory (1048576 bits), a few far out (directories of 2048 slots).
  unsigned RandomBit() {
    switch (Pick(8)) {
      case 0:
      case 1:
        return Pick(3 * 8192);
      case 2:
      case 3:
        return (1 + Pick(12)) * 8192 + Pick(4) - 2;
      case 4:
      case 5:
        return Pick(1u << 18);
      case 6:
        return 1048576 + Pick(3 * 1048576);
      default:
        return (1u << 24) - 1 - Pick(20000);
    }
  }

  // in_place keeps the vector object (a traversal may be walking it).
  std::string Step(int t, int o, bool in_place = false) {
    omi_BlkBitVect& v = *vectors_[t];
    Model& m = models_[t];
    omi_BlkBitVect const& w = *vectors_[o];
    Model const other = models_[o];
    switch (Pick(24)) {
      case 0:
        v &= w;
        m.bits = Intersection(m.bits, other.bits);
        m.Recount();
        return "&=";
      case 1:
        v |= w;
        m.bits.insert(other.bits.begin(), other.bits.end());
        m.length = std::max(m.length, other.length);
        m.Recount();
        return "|=";
      case 2:
        v -= w;
        for (unsigned bit : other.bits) m.bits.erase(bit);
        m.Recount();
        return "-=";
      case 3: {
        v ^= w;
        std::set<unsigned> result;
        std::set_symmetric_difference(m.bits.begin(), m.bits.end(), other.bits.begin(),
                                      other.bits.end(), std::inserter(result, result.end()));
        m.bits = result;
        m.length = std::max(m.length, other.length);
        m.Recount();
        return "^=";
      }
      case 4:
        v = w;
        m = other;
        return "=";
      case 5:
        if (in_place) return "no copy";
        vectors_[t].reset(new omi_BlkBitVect(w));
        m = other;
        return "copy";
      case 6:
        if (Pick(4) != 0) return "no clear";
        v.Clear();
        m.bits.clear();
        m.blocks.clear();
        return "clear";
      case 7:
      case 8: {
        unsigned from = RandomBit();
        unsigned span = Pick(5) == 0 ? Pick(20000) : Pick(100);
        unsigned to = Pick(8) == 0 ? from - std::min(Pick(50), from) : from + span;
        v.SetFromTo(from, to);
        if (to < from) to = from;
        for (unsigned bit = from;; ++bit) {
          m.bits.insert(bit);
          m.Write(bit);
          if (bit == to) break;
        }
        return "SetFromTo " + std::to_string(from) + " " + std::to_string(to);
      }
      case 9:
      case 10:
      case 11:
      case 12:
      case 13:
      case 14: {
        unsigned bit = RandomBit();
        v.SetBit(bit);
        if (m.bits.insert(bit).second) m.Write(bit);
        return "SetBit " + std::to_string(bit);
      }
      default: {
        // Mostly a member, so that removals happen.
        unsigned bit = RandomBit();
        if (!m.bits.empty() && Pick(3) != 0) {
          auto it = m.bits.lower_bound(bit);
          bit = it == m.bits.end() ? *m.bits.begin() : *it;
        }
        v.UnsetBit(bit);
        m.bits.erase(bit);
        return "UnsetBit " + std::to_string(bit);
      }
    }
  }

  static std::set<unsigned> Intersection(std::set<unsigned> const& a, std::set<unsigned> const& b) {
    std::set<unsigned> result;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(),
                          std::inserter(result, result.end()));
    return result;
  }

  void CheckVector(int i) {
    omi_BlkBitVect const& v = *vectors_[i];
    Model const& m = models_[i];
    SCOPED_TRACE("vector " + std::to_string(i));
    ASSERT_EQ(v.Count(), m.bits.size());
    ASSERT_EQ(v.DirectoryLength(), m.length);
    unsigned present = 0;
    for (unsigned slot = 0; slot < v.DirectoryLength(); ++slot) {
      bool has = v.CellPointer(slot * kWordsPerBlock) != nullptr;
      present += has;
      if (has) {
        ASSERT_EQ(m.blocks.count(slot), 1u) << "unexpected block " << slot;
      }
    }
    ASSERT_EQ(present, m.blocks.size());
    for (unsigned bit : m.bits) ASSERT_TRUE(v.TestBit(bit)) << bit;
    for (int probe = 0; probe < 16; ++probe) {
      unsigned bit = RandomBit();
      ASSERT_EQ(v.TestBit(bit), m.bits.count(bit) != 0) << bit;
    }
  }

  void CheckPair(int a, int b) {
    omi_BlkBitVect const& v = *vectors_[a];
    omi_BlkBitVect const& w = *vectors_[b];
    Model const& m = models_[a];
    Model const& n = models_[b];
    bool equal = m.bits == n.bits && m.blocks == n.blocks && m.length == n.length;
    ASSERT_EQ(v == w, equal);
    ASSERT_EQ(v.Compare(w), ModelCompare(m, n));
    ASSERT_EQ(w.Compare(v), ModelCompare(n, m));
    ASSERT_EQ(v.Contains(w),
              std::includes(m.bits.begin(), m.bits.end(), n.bits.begin(), n.bits.end()));
  }

  void CheckTraversal(int i) {
    omi_BlkBitVect const& v = *vectors_[i];
    std::set<unsigned> const& bits = models_[i].bits;
    omi_BlkBitVectTrav trav(&v);
    unsigned bit = 1;
    std::vector<unsigned> seen;
    for (bool found = trav.First(bit); found; found = trav.Next(bit)) seen.push_back(bit);
    ASSERT_EQ(bit, 0u);
    ASSERT_TRUE(std::equal(seen.begin(), seen.end(), bits.begin(), bits.end())) << "forward";
    bit = 1;
    ASSERT_FALSE(trav.Prev(bit) || trav.Next(bit)) << "after a failed step every step fails";
    ASSERT_EQ(bit, 0u);
    seen.clear();
    for (bool found = trav.Last(bit); found; found = trav.Prev(bit)) seen.push_back(bit);
    ASSERT_TRUE(std::equal(seen.begin(), seen.end(), bits.rbegin(), bits.rend())) << "backward";
    // SetCurrent both ways from random places, then a few steps on from there.
    for (int probe = 0; probe < 6; ++probe) {
      unsigned start = RandomBit();
      if (!bits.empty() && Pick(2) == 0) {
        // Next to a member: on it, or one below or above (0 - 1 is past the directory).
        auto near = bits.lower_bound(start);
        start = (near == bits.end() ? *bits.begin() : *near) + Pick(3) - 1;
      }
      bool forward = Pick(2) == 0;
      auto expected = bits.end();
      if (forward) {
        expected = bits.lower_bound(start);
      } else {
        auto after = bits.upper_bound(start);
        if (after != bits.begin()) expected = std::prev(after);
      }
      bit = start;
      bool found = trav.SetCurrent(bit, forward);
      ASSERT_EQ(found, expected != bits.end()) << "SetCurrent " << start << " " << forward;
      if (!found) {
        ASSERT_EQ(bit, 0u);
        continue;
      }
      ASSERT_EQ(bit, *expected) << "SetCurrent " << start << " " << forward;
      omi_BlkBitVectTrav copy(trav);  // goes on from where the traversal stands
      for (int s = 0; s < 3; ++s) {
        if (forward) {
          ++expected;
          found = copy.Next(bit);
        } else {
          found = copy.Prev(bit);
          expected = expected == bits.begin() ? bits.end() : std::prev(expected);
        }
        ASSERT_EQ(found, expected != bits.end());
        if (!found) break;
        ASSERT_EQ(bit, *expected);
      }
    }
  }

  // A traversal made before a step (perhaps growing the directory) starts on the vector as
  // it is, told of the change or not; then the vector changes between the walk's steps.
  void StaleWalk(int t) {
    omi_BlkBitVectTrav told(vectors_[t].get());
    omi_BlkBitVectTrav trav(vectors_[t].get());
    Step(t, static_cast<int>(Pick(kVectors)), true);
    SetBitTraverseData(vectors_[t].get(), &told);
    unsigned bit = 0;
    unsigned told_bit = 0;
    bool on = trav.First(bit);
    ASSERT_EQ(told.First(told_bit), on);
    ASSERT_EQ(on, !models_[t].bits.empty());
    if (on) {
      ASSERT_EQ(bit, *models_[t].bits.begin());
      ASSERT_EQ(told_bit, bit);
    }
    for (int s = 0; on && s < 200; ++s) {
      ASSERT_EQ(models_[t].bits.count(bit), 1u) << "stale step " << s;
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
  int const seeds = vr_TestLength(2, 6);
  for (unsigned seed = 1; seed <= static_cast<unsigned>(seeds); ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    BitVectorModel(seed).Run(1200);
  }
}

}  // namespace
