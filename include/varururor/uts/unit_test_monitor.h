// Counts the checks, failures and tests of one test class and reports them on standard
// output. The plain monitor prints failures, unexpected exceptions and a closing summary
// line; uts_UnitTestMonitorVerbose prints a statistics table as well.
//
// The assertion macros (assertions.h) call incrementUnitAssertCount for every check and,
// for a failed one, incrementUnitAssertFailureCount and then errorPrint.
#ifndef VARURUROR_UTS_UNIT_TEST_MONITOR_H
#define VARURUROR_UTS_UNIT_TEST_MONITOR_H

#include "varururor/frame/export.h"
#include "varururor/mem/operators.h"

class VR_API uts_UnitTestMonitor : public mem_AllocationOperatorsTiny {
 public:
  // All counters 0.
  uts_UnitTestMonitor();
  virtual ~uts_UnitTestMonitor();

  // Before the first test: nothing.
  virtual void beginTesting();
  // After each test: one more passed test when the test had no failure.
  virtual void reportEachTest();
  // After the last test: "<run> tests run, <passed> tests passed".
  virtual void endTesting();
  // "<file> (<line>) : assertion failed : <text>".
  virtual void errorPrint(char const* file, int line, char const* text);
  // A check's text as evaluated, for tracing: nothing here.
  virtual void expressionPrint(char const* file, int line, char const* text);
  // "unexpected exception in <className>::<functionName>".
  virtual void exceptionPrint(char const* className, char const* functionName);

  // One more check (failure) in the current test and in all tests.
  void incrementUnitAssertCount();
  void incrementUnitAssertFailureCount();

  uts_UnitTestMonitor(uts_UnitTestMonitor const&) = delete;
  uts_UnitTestMonitor& operator=(uts_UnitTestMonitor const&) = delete;

 protected:
  int tests_run_;
  int tests_passed_;
  int checks_in_test_;
  int checks_;
  int failures_in_test_;
  int failures_;

 private:
  // The test class starts each test (counts it, clears the current test's counters) and
  // reads the failures of all tests at the end.
  friend class uts_UnitTest;
};
static_assert(sizeof(uts_UnitTestMonitor) == 28, "a virtual table and six 32-bit counters");

#endif
