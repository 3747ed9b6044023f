// The harness as a test program sees it: harness_probe run with chosen command lines and
// UnitTestVerbose settings, its standard output compared whole. Source positions print as
// "probe.cpp (L)" and the program's path as "probe" so the texts survive edits.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

namespace {

struct ProbeRun {
  int status;  // exit status, -1 when the probe did not exit
  std::string out;
};

std::string ProbePath() {
  char const* dir = std::getenv("VR_TEST_HELPER_DIR");
  return std::string(dir != nullptr ? dir : ".") + "/uts/uts_harness_probe";
}

// verbose: null leaves UnitTestVerbose unset.
ProbeRun Probe(char const* verbose, std::string const& arguments) {
  std::string const probe = ProbePath();
  std::string const command =
      (verbose != nullptr ? "env UnitTestVerbose='" + std::string(verbose) + "' "
                          : std::string("env -u UnitTestVerbose ")) +
      probe + " " + arguments;
  ProbeRun run{-1, ""};
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  int const status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = std::regex_replace(run.out, std::regex("\\S*harness_probe\\.cpp \\(\\d+\\)"),
                               "probe.cpp (L)");
  size_t at;
  while ((at = run.out.find(probe)) != std::string::npos) run.out.replace(at, probe.size(), "probe");
  return run;
}

std::string Rule(char c, int width) { return "    " + std::string(width, c) + "\n"; }

std::string Row(int tests, int checks, int failures) {
  char row[128];
  std::snprintf(row, sizeof row, "%20d%34d%37d\n", tests, checks, failures);
  return row;
}

std::string TableHead() {
  return "\n\n" + Rule('=', 102) + "\t" + std::string(38, ' ') + "Test Statistics" +
         std::string(50, ' ') + "\n" + Rule('-', 102) +
         "         Test Function Number        Number of Checks Within Test Function         "
         "Number of Failures     \n";
}

std::string TableFoot(int tests, int checks, int failures) {
  return "\n" + Rule('-', 101) + Row(tests, checks, failures) + Rule('=', 101) + "\n" +
         (failures == 0 ? " Test Status: PASSED \n\n" : " Test Status: FAILED \n\n");
}

std::string const kCountingFailures =
    "probe.cpp (L) : assertion failed : 2 < 1\n"
    "probe.cpp (L) : assertion failed : seven == 8 [values: 7, 8]\n";

TEST(Harness, PlainOutputCountsChecksFailuresAndExceptions) {
  ProbeRun run = Probe(nullptr, "Counting");
  EXPECT_EQ(run.out, "[Counting]\n" + kCountingFailures +
                         "unexpected exception in Counting::testThrows\n"
                         "4 tests run, 2 tests passed\n"
                         "result 3\n");
  EXPECT_EQ(run.status, 1);

  run = Probe(nullptr, "Macros");
  EXPECT_EQ(run.out,
            "[Macros]\n"
            "passes true\n"
            "probe.cpp (L) : assertion failed : 1.0 == 1.5 within 0.25 "
            "[values: 1, 1.5, difference 0.5]\n"
            "probe.cpp (L) : assertion failed : Nothing() throws std::runtime_error "
            "[nothing was thrown]\n"
            "probe.cpp (L) : assertion failed : ThrowLogic() throws std::runtime_error "
            "[another exception was thrown]\n"
            "probe.cpp (L) : assertion failed : ThrowLogic() throws nothing "
            "[an exception was thrown]\n"
            "probe.cpp (L) : assertion failed : \"abc\" == nullptr [values: \"abc\", null]\n"
            "probe.cpp (L) : assertion failed : not to be reached\n"
            "probe.cpp (L) : assertion failed : sizeof(int) == 2\n"
            "3 tests run, 1 tests passed\n"
            "result 7\n");
}

TEST(Harness, VerboseTableKeepsRunningTotals) {
  // Level 1: no bracketed name; rows of running totals; failures under their test number.
  ProbeRun run = Probe("1", "Counting");
  EXPECT_EQ(run.out, TableHead() + Row(1, 2, 0) +
                         "\nFailures in Test 2\nprobe.cpp (L) : assertion failed : 2 < 1\n"
                         "\nprobe.cpp (L) : assertion failed : seven == 8 [values: 7, 8]\n" +
                         Row(2, 4, 2) + "unexpected exception in Counting::testThrows\n" +
                         Row(3, 5, 3) + Row(4, 6, 3) + TableFoot(4, 6, 3) + "result 3\n");

  // A level that reads as 0 keeps the bracketed name; PASSED when nothing failed.
  for (char const* zero : {"0", "abc"}) {
    run = Probe(zero, "Passing");
    EXPECT_EQ(run.out, "[Passing]\n" + TableHead() + Row(1, 1, 0) + TableFoot(1, 1, 0) +
                           "result 0\n")
        << zero;
    EXPECT_EQ(run.status, 0);
  }

  // Level 2 traces every check as evaluated.
  run = Probe("2", "Passing");
  EXPECT_EQ(run.out, TableHead() + "\nprobe.cpp (L) : UTS_ASSERT expression evaluated is: 1 < 2\n" +
                         Row(1, 1, 0) + TableFoot(1, 1, 0) + "result 0\n");
}

TEST(Harness, CommandLineSelectsClassesAndHandsOutArguments) {
  ProbeRun run = Probe(nullptr, "Stop Z Arguments -start_args x y -end_args Passing");
  EXPECT_EQ(run.out,
            "Error: \"Z\" test not found.\n"
            "[Passing]\n1 tests run, 1 tests passed\n"
            "[Arguments]\nargs: probe x y\n1 tests run, 1 tests passed\n"
            "[Stop]\nup\none\ndown\nup\ntwo\nprobe.cpp (L) : assertion failed : set_ups_ == 0\n"
            "down\n---Stop Testing Prematurely Due to stopOnFailure Flag Set\n"
            "2 tests run, 1 tests passed\n"
            "result 1\n");

  // Every class of a name is selected; the first takes the arguments, here to the end.
  run = Probe(nullptr, "Twin -start_args a -end_args Arguments -start_args");
  EXPECT_EQ(run.out,
            "[Arguments]\nargs: probe\n1 tests run, 1 tests passed\n"
            "[Twin]\nargs: probe a\n1 tests run, 1 tests passed\n"
            "[Twin]\nargs: (none)\n1 tests run, 1 tests passed\n"
            "result 0\n");

  run = Probe(nullptr, "Z");
  EXPECT_EQ(run.out, "Error: \"Z\" test not found.\nresult 0\n");
  EXPECT_EQ(run.status, 0);

  // Without names every class runs, in the order added.
  run = Probe(nullptr, "");
  std::string names;
  std::smatch match;
  for (std::string rest = run.out; std::regex_search(rest, match, std::regex("\\[(\\w+)\\]"));
       rest = match.suffix()) {
    names += match[1].str() + " ";
  }
  EXPECT_EQ(names, "Counting Macros Passing Arguments Twin Twin SetUpThrows TearDownThrows Stop ");
  EXPECT_NE(run.out.find("result 7\n"), std::string::npos);
}

TEST(Harness, ExceptionsInSetUpAndTearDownEndTheClass) {
  ProbeRun run = Probe(nullptr, "SetUpThrows TearDownThrows");
  EXPECT_EQ(run.out,
            "[SetUpThrows]\nup\none\ndown\n"
            "unexpected exception in Fixture::testSetUp\n"
            "1 tests run, 1 tests passed\n"
            "[TearDownThrows]\nup\none\ndown\nup\ntwo\n"
            "probe.cpp (L) : assertion failed : set_ups_ == 0\ndown\n"
            "unexpected exception in Fixture::testTearDown\n"
            "2 tests run, 1 tests passed\n"
            "result 1\n");
}

}  // namespace
