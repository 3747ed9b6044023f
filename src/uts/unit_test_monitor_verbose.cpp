// The verbose monitor: a statistics table of running totals, one row per test.
#include "varururor/uts/unit_test_monitor_verbose.h"

#include <cstdio>

namespace {

constexpr char kIndent[] = "    ";
constexpr int kOpeningRuleWidth = 102;
constexpr int kClosingRuleWidth = 101;
constexpr char kRowFormat[] = "%20d%34d%37d\n";

// kIndent, then width copies of c, then end (which holds the line's end).
void PrintRule(char c, int width, char const* end) {
  std::fputs(kIndent, stdout);
  for (int i = 0; i < width; ++i) std::putchar(c);
  std::fputs(end, stdout);
}

}  // namespace

uts_UnitTestMonitorVerbose::uts_UnitTestMonitorVerbose() = default;

uts_UnitTestMonitorVerbose::~uts_UnitTestMonitorVerbose() = default;

void uts_UnitTestMonitorVerbose::beginTesting() {
  std::fputs("\n\n", stdout);
  PrintRule('=', kOpeningRuleWidth, "\n");
  std::printf("\t%38sTest Statistics%50s\n", "", "");
  PrintRule('-', kOpeningRuleWidth, "\n");
  std::fputs(
      "         Test Function Number        Number of Checks Within Test Function         "
      "Number of Failures     \n",
      stdout);
}

void uts_UnitTestMonitorVerbose::reportEachTest() {
  uts_UnitTestMonitor::reportEachTest();
  std::printf(kRowFormat, tests_run_, checks_, failures_);
}

void uts_UnitTestMonitorVerbose::endTesting() {
  std::fputs("\n", stdout);
  PrintRule('-', kClosingRuleWidth, "\n");
  std::printf(kRowFormat, tests_run_, checks_, failures_);
  // The closing rule's own line end and one blank line.
  PrintRule('=', kClosingRuleWidth, "\n\n");
  std::fputs(failures_ == 0 ? " Test Status: PASSED \n\n" : " Test Status: FAILED \n\n", stdout);
}

void uts_UnitTestMonitorVerbose::errorPrint(char const* file, int line, char const* text) {
  std::fputs("\n", stdout);
  // The macros count a failure before printing it, so the first one finds 1 here; a
  // caller that prints without counting finds 0 and gets the heading each time.
  if (failures_in_test_ <= 1) std::printf("Failures in Test %d\n", tests_run_);
  std::printf("%s (%d) : assertion failed : %s\n", file, line, text);
}

void uts_UnitTestMonitorVerbose::expressionPrint(char const* file, int line, char const* text) {
  std::printf("\n%s (%d) : UTS_ASSERT expression evaluated is: %s\n", file, line, text);
}
