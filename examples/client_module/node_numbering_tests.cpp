// The node-numbering component's test program, built on the library's test harness.
//
//   vr_node_numbering_tests                       every class
//   vr_node_numbering_tests Sorting Model -start_args 5000 7 -end_args
//                                                 two classes; Model with 5000 operations
//                                                 from seed 7
// Set UnitTestVerbose=1 for the statistics table. The exit status is 0 when every check passed.
#include <climits>
#include <cstdlib>
#include <map>
#include <random>

#include "node_numbering.h"
#include "varururor/uts/assertions.h"
#include "varururor/varururor.h"

namespace {

// Each test starts from an empty numbering.
class NumberingFixture : public uts_UnitTest {
 protected:
  void testSetUp() override { numbering_ = new NodeNumbering; }
  void testTearDown() override {
    delete numbering_;
    numbering_ = nullptr;
  }
  NodeNumbering* numbering_ = nullptr;
};

class NumberingTest : public NumberingFixture {
 public:
  NumberingTest() {
    UTS_ADD_TEST(NumberingTest, testNumbersAreDenseInOrderOfArrival);
    UTS_ADD_TEST(NumberingTest, testUnknownIdsAndNumbers);
    UTS_ADD_TEST(NumberingTest, testExtremeIds);
  }
  void testNumbersAreDenseInOrderOfArrival() {
    UTS_ASSERT_EQUAL(numbering_->Number(1200), 0);
    UTS_ASSERT_EQUAL(numbering_->Number(5), 1);
    UTS_ASSERT_EQUAL(numbering_->Number(1200), 0);
    UTS_ASSERT_EQUAL(numbering_->Count(), 2);
    int external = 0;
    UTS_ASSERT(numbering_->ExternalOf(1, external));
    UTS_ASSERT_EQUAL(external, 5);
  }
  void testUnknownIdsAndNumbers() {
    numbering_->Number(3);
    int external = 0;
    UTS_ASSERT_EQUAL(numbering_->Find(4), -1);
    UTS_ASSERT(!numbering_->ExternalOf(1, external));
    UTS_ASSERT(!numbering_->ExternalOf(-1, external));
  }
  void testExtremeIds() {
    int const ids[] = {INT_MIN, -1, 0, INT_MAX};
    for (int id : ids) numbering_->Number(id);
    for (int i = 0; i < 4; ++i) {
      int external = 0;
      UTS_ASSERT(numbering_->ExternalOf(i, external) && external == ids[i]);
      UTS_ASSERT_EQUAL(numbering_->Find(ids[i]), i);
    }
  }
};

class SortingTest : public NumberingFixture {
 public:
  SortingTest() { UTS_ADD_TEST(SortingTest, testSortFollowsExternalOrder); }
  void testSortFollowsExternalOrder() {
    int const arrival[] = {40, -7, 3000, 12, 0};
    int const sorted[] = {-7, 0, 12, 40, 3000};
    for (int id : arrival) numbering_->Number(id);
    numbering_->SortByExternal();
    UTS_ASSERT_EQUAL(numbering_->Count(), 5);
    for (int i = 0; i < 5; ++i) {
      int external = 0;
      UTS_ASSERT(numbering_->ExternalOf(i, external));
      UTS_ASSERT_EQUAL(external, sorted[i]);
      UTS_ASSERT_EQUAL(numbering_->Find(sorted[i]), i);
    }
    // New ids continue after the sorted ones.
    UTS_ASSERT_EQUAL(numbering_->Number(1), 5);
  }
};

class MessagesTest : public NumberingFixture {
 public:
  MessagesTest() { UTS_ADD_TEST(MessagesTest, testDescribe); }
  void testDescribe() {
    numbering_->Number(17);
    UTS_ASSERT_STRING_EQUAL(numbering_->Describe(17).CStr(), "node 17 is number 0");
    UTS_ASSERT_STRING_EQUAL(numbering_->Describe(-3).CStr(), "node -3 has no number");
  }
};

// Random numbering and sorting against a std::map. Arguments: operations, seed.
class ModelTest : public NumberingFixture {
 public:
  ModelTest() { UTS_ADD_TEST(ModelTest, testAgainstMap); }
  void testAgainstMap() {
    int const operations = getArgc() > 1 ? std::atoi(getArgv()[1]) : 1000;
    unsigned const seed = getArgc() > 2 ? static_cast<unsigned>(std::atoi(getArgv()[2])) : 1u;
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> ids(-operations, 4 * operations);
    std::map<int, int> model;
    for (int i = 0; i < operations; ++i) {
      int const id = ids(random);
      auto const placed = model.emplace(id, static_cast<int>(model.size()));
      if (!UTS_ASSERT_EQUAL(numbering_->Number(id), placed.first->second)) return;
    }
    numbering_->SortByExternal();
    int internal = 0;
    bool all = true;
    for (auto const& entry : model) {
      int external = 0;
      all = all && numbering_->ExternalOf(internal, external) && external == entry.first &&
            numbering_->Find(entry.first) == internal;
      ++internal;
    }
    UTS_ASSERT(all);
    UTS_ASSERT_EQUAL(numbering_->Count(), static_cast<int>(model.size()));
  }
};

}  // namespace

int main(int argc, char** argv) {
  int started = 0;
  UTI_VaruRuror_initialize(started);
  int failures;
  {
    uts_UnitTestSuite suite;
    suite.addTestClass("Numbering", new NumberingTest);
    suite.addTestClass("Sorting", new SortingTest);
    suite.addTestClass("Messages", new MessagesTest);
    suite.addTestClass("Model", new ModelTest);
    failures = suite.runTests(argc, argv);
  }
  UTI_VaruRuror_finalize(started);
  return failures == 0 ? 0 : 1;
}
