// The integer set and its iterator: a random sequence of insertions, removals, unions and
// intersections (with empty sets too) checked against std::set<int>, including the extreme
// members and the visiting order (negative members by increasing magnitude, then the others).
#include "varururor/omi/int_set.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <set>
#include <vector>

#include "varururor/omi/int_set_iterator.h"

namespace {

std::vector<int> Visit(omi_Set const& set) {
  std::vector<int> members;
  omi_SetIT it(set);
  for (it.First(); !it.IsDone(); it.Next()) members.push_back(it.CurrentItem());
  return members;
}

// The order the iterator promises.
std::vector<int> Expected(std::set<int> const& model) {
  std::vector<int> members;
  for (auto it = model.lower_bound(0); it != model.begin();) members.push_back(*--it);
  members.insert(members.end(), model.lower_bound(0), model.end());
  return members;
}

int RandomMember(std::mt19937& random) {
  static constexpr int kSpecial[] = {INT_MIN, INT_MIN + 1, INT_MAX, INT_MAX - 1, -1, 0, 1};
  switch (random() % 4) {
    case 0:
      return kSpecial[random() % (sizeof kSpecial / sizeof kSpecial[0])];
    case 1:
      return static_cast<int>(random());
    default:
      return static_cast<int>(random() % 20001) - 10000;  // dense, across 0 and block edges
  }
}

TEST(IntSet, RandomSequenceAgainstStdSet) {
  std::mt19937 random(7);
  omi_Set set;
  std::set<int> model;
  for (int step = 0; step < 20000 && !HasFailure(); ++step) {
    int member = RandomMember(random);
    unsigned action = random() % 1000;
    if (action < 600) {
      set.Insert(member);
      model.insert(member);
    } else if (action < 975) {
      // Mostly a member, so that the set also shrinks.
      if (!model.empty() && random() % 2 == 0) {
        auto it = model.lower_bound(member);
        member = it == model.end() ? *model.begin() : *it;
      }
      set.Remove(member);
      model.erase(member);
    } else if (action < 999) {
      // A vector that reaches the far end of the range has a directory of 2^18 slots, which
      // a set operation and the destructor walk: the other set is mostly dense.
      omi_Set other;
      std::set<int> other_model;
      bool wide = action % 8 == 0;
      int members = action % 5 == 0 ? 0 : 50;  // sometimes an empty operand
      for (int i = 0; i < members; ++i) {
        int m =
            wide && i % 2 == 0 ? RandomMember(random) : static_cast<int>(random() % 2001) - 1000;
        other.Insert(m);
        other_model.insert(m);
      }
      if (action % 2 == 0) {
        set += other;
        model.insert(other_model.begin(), other_model.end());
      } else {
        set &= other;
        std::set<int> both;
        for (int m : model) {
          if (other_model.count(m) != 0) both.insert(m);
        }
        model.swap(both);
      }
    } else {
      set.Clear();
      model.clear();
    }
    ASSERT_EQ(set.Size(), static_cast<int>(model.size())) << "step " << step;
    EXPECT_EQ(set.IsMember(member), model.count(member) != 0) << member;
    if (step % 200 == 0 || set.Size() == 0) {
      ASSERT_EQ(Visit(set), Expected(model)) << "step " << step;
    }
  }
  EXPECT_EQ(Visit(set), Expected(model));
}

}  // namespace
