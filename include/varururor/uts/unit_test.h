// A test class: derive from uts_UnitTest, register the test functions in the constructor
// with UTS_ADD_TEST and check with the macros of assertions.h. runTests runs the
// functions in the order added, each between testSetUp and testTearDown, and returns
// the number of failures; an exception never leaves it.
//
// With the environment variable UnitTestVerbose set, the monitor is the verbose one and
// the verbose level is the variable's value as a decimal integer (a non-number is 0);
// otherwise the monitor is the plain one and the level is 0.
#ifndef VARURUROR_UTS_UNIT_TEST_H
#define VARURUROR_UTS_UNIT_TEST_H

#include "varururor/frame/export.h"

class uts_Functor;
class uts_UnitTestMonitor;

class VR_API uts_UnitTest {
 public:
  // No tests, not stopping on failure, no arguments.
  uts_UnitTest();
  // Releases the functors (without destroying them) and deletes the monitor.
  virtual ~uts_UnitTest();

  // Around each test function; by default nothing. An exception from either ends the run.
  virtual void testSetUp();
  virtual void testTearDown();
  // Runs every test; the number of failures in all tests. Counters accumulate over calls.
  virtual int runTests();

  // Takes ownership of test, which must come from the functor's own operator new.
  void addTest(uts_Functor* test);
  int getVerbose() const;
  // After a test with a failure, the run stops (after its tear-down).
  void setStopOnFailure();
  void unsetStopOnFailure();
  // The test's own arguments (argv[0] is the program); not owned.
  void setArgs(int argc, char** argv);

  uts_UnitTest(uts_UnitTest const&) = delete;
  uts_UnitTest& operator=(uts_UnitTest const&) = delete;

 protected:
  // For the test functions and the assertion macros.
  uts_UnitTestMonitor* getMonitor() const { return monitor_; }
  int getArgc() const { return argc_; }
  char** getArgv() const { return argv_; }

 private:
  int test_count_;
  int verbose_;
  bool stop_on_failure_;
  uts_Functor** tests_;
  uts_UnitTestMonitor* monitor_;
  int argc_;
  char** argv_;
};
static_assert(sizeof(uts_UnitTest) == 32,
              "virtual table, count, verbose level, flag, tests, monitor, argc, argv");

#endif
