// The harness as a client's test program uses it: a suite of test classes that pass, fail,
// throw and print what they receive, run with chosen command lines and UnitTestVerbose
// settings (read by each test class as it is made), its standard output compared whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "varururor/frame/startup.h"
#include "varururor/mem/allocation.h"
#include "varururor/uts/assertions.h"
#include "varururor/uts/unit_test_suite.h"

namespace {

void Nothing() {}
void ThrowLogic() { throw std::logic_error("wrong"); }

class Checks : public uts_UnitTest {
 public:
  Checks() {
    UTS_ADD_TEST(Checks, testPasses);
    UTS_ADD_TEST(Checks, testFails);
    UTS_ADD_TEST(Checks, testThrows);
    UTS_ADD_TEST(Checks, testEarlyReturn);
  }
  void testPasses() {
    char text[] = "abc";
    bool all = UTS_ASSERT(1 + 1 == 2) && UTS_ASSERT_EQUAL(6 * 7, 42) &&
               UTS_ASSERT_NEAR(1.0, 1.1, 0.2) && UTS_ASSERT_THROWS(ThrowLogic(), std::exception) &&
               UTS_ASSERT_NO_THROW(Nothing()) && UTS_ASSERT_STRING_EQUAL(text, "abc") &&
               UTS_ASSERT_STRING_EQUAL(static_cast<char const*>(nullptr), nullptr);
    std::printf("passes %s\n", all ? "true" : "false");
  }
  void testFails() {
    UTS_ASSERT(2 < 1);
    int seven = 7;
    UTS_ASSERT_EQUAL(seven, 8);
    UTS_ASSERT_NEAR(1.0, 1.5, 0.25);
    UTS_ASSERT_THROWS(Nothing(), std::runtime_error);
    UTS_ASSERT_THROWS(ThrowLogic(), std::runtime_error);
    UTS_ASSERT_NO_THROW(ThrowLogic());
    UTS_ASSERT_STRING_EQUAL("abc", nullptr);
    UTS_FAIL("failed on purpose");
  }
  void testThrows() {
    UTS_ASSERT(true);
    throw std::runtime_error("boom");
  }
  // Runs after an exception in the test before it.
  void testEarlyReturn() {
    if (!UTS_ASSERT(sizeof(int) == 2)) return;
    UTS_FAIL("after the return");
  }
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
    if (set_ups_ == tear_down_throws_at_) throw std::runtime_error("tear-down");
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
};

struct Case {
  char const* verbose;  // null: UnitTestVerbose unset
  std::vector<char const*> arguments;
  std::string out;  // source positions read "F (L)"
  int result;
};

// Runs every class of the program, as its main would, on the case's command line.
std::string RunSuite(Case const& c, int* result) {
  if (c.verbose != nullptr) {
    setenv("UnitTestVerbose", c.verbose, 1);
  } else {
    unsetenv("UnitTestVerbose");
  }
  std::vector<char*> argv{const_cast<char*>("probe")};
  for (char const* argument : c.arguments) argv.push_back(const_cast<char*>(argument));
  argv.push_back(nullptr);
  testing::internal::CaptureStdout();
  {
    uts_UnitTestSuite suite;
    suite.addTestClass("Checks", new Checks);
    suite.addTestClass("Arguments", new Arguments);
    suite.addTestClass("Twin", new Arguments);
    suite.addTestClass("Twin", new Arguments);
    suite.addTestClass("SetUpThrows", new Fixture(2, 0, false));
    suite.addTestClass("TearDownThrows", new Fixture(0, 2, false));
    suite.addTestClass("Stop", new Fixture(0, 0, true));
    *result = suite.runTests(static_cast<int>(argv.size()) - 1, argv.data());
  }
  return std::regex_replace(testing::internal::GetCapturedStdout(),
                            std::regex("\\S*harness_test\\.cpp \\(\\d+\\)"), "F (L)");
}

std::string Rule(char c, int width) { return "    " + std::string(width, c) + "\n"; }

std::string Row(int tests, int checks, int failures) {
  char row[128];
  std::snprintf(row, sizeof row, "%20d%34d%37d\n", tests, checks, failures);
  return row;
}

std::string const kTableHead =
    "\n\n" + Rule('=', 102) + "\t" + std::string(38, ' ') + "Test Statistics" +
    std::string(50, ' ') + "\n" + Rule('-', 102) +
    "         Test Function Number        Number of Checks Within Test Function         "
    "Number of Failures     \n";

std::string TableFoot(int tests, int checks, int failures) {
  return "\n" + Rule('-', 101) + Row(tests, checks, failures) + Rule('=', 101) + "\n" +
         (failures == 0 ? " Test Status: PASSED \n\n" : " Test Status: FAILED \n\n");
}

std::string const kFixtureOneTwo =
    "up\none\ndown\nup\ntwo\nF (L) : assertion failed : set_ups_ == 0\ndown\n";
std::string const kOnePassed = Row(1, 1, 0) + TableFoot(1, 1, 0);

Case const kCases[] = {
    // Level 1: no bracketed name; rows of running totals; failures under their test number.
    {"1",
     {"Checks"},
     kTableHead + "passes true\n" + Row(1, 7, 0) +
         "\nFailures in Test 2\nF (L) : assertion failed : 2 < 1\n"
         "\nF (L) : assertion failed : seven == 8 [values: 7, 8]\n"
         "\nF (L) : assertion failed : 1.0 == 1.5 within 0.25 [values: 1, 1.5, difference 0.5]\n"
         "\nF (L) : assertion failed : Nothing() throws std::runtime_error [nothing was thrown]\n"
         "\nF (L) : assertion failed : ThrowLogic() throws std::runtime_error "
         "[another exception was thrown]\n"
         "\nF (L) : assertion failed : ThrowLogic() throws nothing [an exception was thrown]\n"
         "\nF (L) : assertion failed : \"abc\" == nullptr [values: \"abc\", null]\n"
         "\nF (L) : assertion failed : failed on purpose\n" +
         Row(2, 15, 8) + "unexpected exception in Checks::testThrows\n" + Row(3, 16, 9) +
         "\nFailures in Test 4\nF (L) : assertion failed : sizeof(int) == 2\n" + Row(4, 17, 10) +
         TableFoot(4, 17, 10),
     10},
    // A level that reads as 0 keeps the bracketed name; PASSED when nothing failed.
    {"0",
     {"Arguments", "-start_args"},
     "[Arguments]\n" + kTableHead + "args: probe\n" + kOnePassed,
     0},
    // Level 2 traces every check as evaluated.
    {"2",
     {"Arguments", "-start_args"},
     kTableHead + "args: probe\n\nF (L) : UTS_ASSERT expression evaluated is: " +
         "getArgv()[getArgc()] == nullptr\n" + kOnePassed,
     0},
    // Every class of a name is selected; the first takes the arguments, the later ones
    // replacing the earlier. The last arguments run to the end.
    {nullptr,
     {"Stop", "Z", "Twin", "-start_args", "x", "-end_args", "Twin", "-start_args", "y", "z",
      "-end_args", "Arguments", "-start_args"},
     "Error: \"Z\" test not found.\n[Arguments]\nargs: probe\n1 tests run, 1 tests passed\n"
     "[Twin]\nargs: probe y z\n1 tests run, 1 tests passed\n"
     "[Twin]\nargs: (none)\n1 tests run, 1 tests passed\n[Stop]\n" +
         kFixtureOneTwo +
         "---Stop Testing Prematurely Due to stopOnFailure Flag Set\n2 tests run, 1 tests passed\n",
     1},
    // Exceptions in set-up and tear-down end the class.
    {nullptr,
     {"SetUpThrows", "TearDownThrows"},
     "[SetUpThrows]\nup\none\ndown\nunexpected exception in Fixture::testSetUp\n"
     "1 tests run, 1 tests passed\n[TearDownThrows]\n" +
         kFixtureOneTwo + "unexpected exception in Fixture::testTearDown\n" +
         "2 tests run, 1 tests passed\n",
     1},
};

// Without names every class runs, in the order added; the result has every class's failures.
TEST(Harness, OutputAndResultForEachCommandLineAndVerboseLevel) {
  int result = -1;
  for (Case const& c : kCases) {
    EXPECT_EQ(RunSuite(c, &result), c.out) << c.arguments[0];
    EXPECT_EQ(result, c.result) << c.arguments[0];
  }
  std::string const out = RunSuite({nullptr, {}, "", 0}, &result);
  std::string names;
  std::regex const name("\\[(\\w+)\\]");
  for (std::sregex_iterator it(out.begin(), out.end(), name), end; it != end; ++it) {
    names += (*it)[1].str() + " ";
  }
  EXPECT_EQ(names, "Checks Arguments Twin Twin SetUpThrows TearDownThrows Stop ");
  EXPECT_EQ(result, 11);
}

// A suite and its classes give back every block they took, also argument vectors replaced
// by a class named twice with arguments. In a child: the library heap, whose bytes in use
// are counted, serves only a process that starts the library before it allocates.
TEST(Harness, NothingLeaks) {
  auto leaked = [] {
    int started = 0;
    int result = -1;
    UTI_VaruRuror_initialize(started);
    RunSuite(kCases[3], &result);  // the heap's own set-up done
    unsigned in_use = mem_DLMallinfo().uordblks;
    RunSuite(kCases[3], &result);
    return mem_UseDL() != 1 || mem_DLMallinfo().uordblks != in_use;
  };
  EXPECT_EXIT(std::exit(leaked() ? 1 : 0), testing::ExitedWithCode(0), "");
}

}  // namespace
