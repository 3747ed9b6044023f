// The plain monitor: counters, failure lines and the closing summary.
#include "varururor/uts/unit_test_monitor.h"

#include <cstdio>

uts_UnitTestMonitor::uts_UnitTestMonitor()
    : tests_run_(0),
      tests_passed_(0),
      checks_in_test_(0),
      checks_(0),
      failures_in_test_(0),
      failures_(0) {}

uts_UnitTestMonitor::~uts_UnitTestMonitor() = default;

void uts_UnitTestMonitor::beginTesting() {}

void uts_UnitTestMonitor::reportEachTest() {
  if (failures_in_test_ == 0) ++tests_passed_;
}

void uts_UnitTestMonitor::endTesting() {
  std::printf("%d tests run, %d tests passed\n", tests_run_, tests_passed_);
}

void uts_UnitTestMonitor::errorPrint(char const* file, int line, char const* text) {
  std::printf("%s (%d) : assertion failed : %s\n", file, line, text);
}

void uts_UnitTestMonitor::expressionPrint(char const*, int, char const*) {}

void uts_UnitTestMonitor::exceptionPrint(char const* className, char const* functionName) {
  std::printf("unexpected exception in %s::%s\n", className, functionName);
}

void uts_UnitTestMonitor::incrementUnitAssertCount() {
  ++checks_in_test_;
  ++checks_;
}

void uts_UnitTestMonitor::incrementUnitAssertFailureCount() {
  ++failures_in_test_;
  ++failures_;
}
