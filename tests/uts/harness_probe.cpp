// A test program built on the harness, run by harness_test.cpp, which checks its output.
// Its classes pass, fail, throw and print what they receive; main prints the suite's
// result last.
#include <cstdio>
#include <stdexcept>

#include "varururor/uts/assertions.h"
#include "varururor/varururor.h"

namespace {

void Nothing() {}
void ThrowLogic() { throw std::logic_error("wrong"); }

class Counting : public uts_UnitTest {
 public:
  Counting() {
    UTS_ADD_TEST(Counting, testPasses);
    UTS_ADD_TEST(Counting, testFails);
    UTS_ADD_TEST(Counting, testThrows);
    UTS_ADD_TEST(Counting, testLast);
  }
  void testPasses() {
    UTS_ASSERT(1 + 1 == 2);
    UTS_ASSERT_EQUAL(6 * 7, 42);
  }
  void testFails() {
    UTS_ASSERT(2 < 1);
    int seven = 7;
    UTS_ASSERT_EQUAL(seven, 8);
  }
  void testThrows() {
    UTS_ASSERT(true);
    throw std::runtime_error("boom");
  }
  void testLast() { UTS_ASSERT(true); }
};

class Macros : public uts_UnitTest {
 public:
  Macros() {
    UTS_ADD_TEST(Macros, testPasses);
    UTS_ADD_TEST(Macros, testFailures);
    UTS_ADD_TEST(Macros, testEarlyReturn);
  }
  void testPasses() {
    char text[] = "abc";
    bool all = UTS_ASSERT_NEAR(1.0, 1.1, 0.2) && UTS_ASSERT_THROWS(ThrowLogic(), std::exception) &&
               UTS_ASSERT_NO_THROW(Nothing()) && UTS_ASSERT_STRING_EQUAL(text, "abc") &&
               UTS_ASSERT_STRING_EQUAL(static_cast<char const*>(nullptr), nullptr);
    std::printf("passes %s\n", all ? "true" : "false");
  }
  void testFailures() {
    UTS_ASSERT_NEAR(1.0, 1.5, 0.25);
    UTS_ASSERT_THROWS(Nothing(), std::runtime_error);
    UTS_ASSERT_THROWS(ThrowLogic(), std::runtime_error);
    UTS_ASSERT_NO_THROW(ThrowLogic());
    UTS_ASSERT_STRING_EQUAL("abc", nullptr);
    UTS_FAIL("not to be reached");
  }
  void testEarlyReturn() {
    if (!UTS_ASSERT(sizeof(int) == 2)) return;
    UTS_FAIL("after the return");
  }
};

class Passing : public uts_UnitTest {
 public:
  Passing() { UTS_ADD_TEST(Passing, testOnly); }
  void testOnly() { UTS_ASSERT(1 < 2); }
};

// Prints its arguments, "(none)" without them, and checks the vector's null end.
class Arguments : public uts_UnitTest {
 public:
  Arguments() { UTS_ADD_TEST(Arguments, testPrint); }
  void testPrint() {
    std::printf("args:");
    if (getArgv() == nullptr) std::printf(" (none)");
    for (int i = 0; i < getArgc(); ++i) std::printf(" %s", getArgv()[i]);
    std::printf("\n");
    if (getArgv() != nullptr) UTS_ASSERT(getArgv()[getArgc()] == nullptr);
  }
};

// Three tests, the second failing; set-up and tear-down print and can throw at a call.
class Fixture : public uts_UnitTest {
 public:
  Fixture(int set_up_throws_at, int tear_down_throws_at, bool stop)
      : set_up_throws_at_(set_up_throws_at), tear_down_throws_at_(tear_down_throws_at) {
    UTS_ADD_TEST(Fixture, testOne);
    UTS_ADD_TEST(Fixture, testTwo);
    UTS_ADD_TEST(Fixture, testThree);
    if (stop) setStopOnFailure();
  }
  void testSetUp() override {
    if (++set_ups_ == set_up_throws_at_) throw 1;
    std::printf("up\n");
  }
  void testTearDown() override {
    std::printf("down\n");
    if (++tear_downs_ == tear_down_throws_at_) throw std::runtime_error("tear-down");
  }
  void testOne() { std::printf("one\n"); }
  void testTwo() {
    std::printf("two\n");
    UTS_ASSERT(set_ups_ == 0);
  }
  void testThree() { std::printf("three\n"); }

 private:
  int set_up_throws_at_;
  int tear_down_throws_at_;
  int set_ups_ = 0;
  int tear_downs_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  int started = 0;
  UTI_VaruRuror_initialize(started);
  int result;
  {
    uts_UnitTestSuite suite;
    suite.addTestClass("Counting", new Counting);
    suite.addTestClass("Macros", new Macros);
    suite.addTestClass("Passing", new Passing);
    suite.addTestClass("Arguments", new Arguments);
    suite.addTestClass("Twin", new Arguments);
    suite.addTestClass("Twin", new Arguments);
    suite.addTestClass("SetUpThrows", new Fixture(2, 0, false));
    suite.addTestClass("TearDownThrows", new Fixture(0, 2, false));
    suite.addTestClass("Stop", new Fixture(0, 0, true));
    result = suite.runTests(argc, argv);
  }
  UTI_VaruRuror_finalize(started);
  std::printf("result %d\n", result);
  return result == 0 ? 0 : 1;
}
