// A test class: its functors, its monitor and the run over its test functions.
#include "varururor/uts/unit_test.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "varururor/mem/allocation.h"
#include "varururor/mem/operators.h"
#include "varururor/uts/functor.h"
#include "varururor/uts/unit_test_monitor.h"
#include "varururor/uts/unit_test_monitor_verbose.h"

namespace {
constexpr char kVerboseVariable[] = "UnitTestVerbose";
}  // namespace

uts_UnitTest::uts_UnitTest()
    : test_count_(0),
      verbose_(0),
      stop_on_failure_(false),
      tests_(nullptr),
      monitor_(nullptr),
      argc_(0),
      argv_(nullptr) {
  char const* verbose = std::getenv(kVerboseVariable);
  if (verbose != nullptr) {
    monitor_ = new uts_UnitTestMonitorVerbose;
    verbose_ = std::atoi(verbose);
  } else {
    monitor_ = new uts_UnitTestMonitor;
  }
}

uts_UnitTest::~uts_UnitTest() {
  for (int i = 0; i < test_count_; ++i) mem_Free(tests_[i]);
  mem_Free(tests_);
  delete monitor_;
}

void uts_UnitTest::testSetUp() {}

void uts_UnitTest::testTearDown() {}

void uts_UnitTest::addTest(uts_Functor* test) {
  // One element more per call: test classes hold tens of functions, added once.
  uts_Functor** grown = static_cast<uts_Functor**>(
      mem_OperatorNewThrowBuiltin((test_count_ + 1) * sizeof(uts_Functor*)));
  if (test_count_ > 0) std::memcpy(grown, tests_, test_count_ * sizeof(uts_Functor*));
  grown[test_count_] = test;
  mem_Free(tests_);
  tests_ = grown;
  ++test_count_;
}

int uts_UnitTest::getVerbose() const { return verbose_; }

void uts_UnitTest::setStopOnFailure() { stop_on_failure_ = true; }

void uts_UnitTest::unsetStopOnFailure() { stop_on_failure_ = false; }

void uts_UnitTest::setArgs(int argc, char** argv) {
  argc_ = argc;
  argv_ = argv;
}

int uts_UnitTest::runTests() {
  uts_UnitTestMonitor& monitor = *monitor_;
  monitor.beginTesting();
  for (int i = 0; i < test_count_; ++i) {
    uts_Functor& test = *tests_[i];
    try {
      testSetUp();
    } catch (...) {
      monitor.exceptionPrint(test.className, "testSetUp");
      break;
    }
    ++monitor.tests_run_;
    monitor.checks_in_test_ = 0;
    monitor.failures_in_test_ = 0;
    try {
      test();
    } catch (...) {
      monitor.incrementUnitAssertFailureCount();
      monitor.exceptionPrint(test.className, test.functionName);
    }
    monitor.reportEachTest();
    try {
      testTearDown();
    } catch (...) {
      monitor.exceptionPrint(test.className, "testTearDown");
      break;
    }
    if (monitor.failures_in_test_ != 0 && stop_on_failure_) {
      std::fputs("---Stop Testing Prematurely Due to stopOnFailure Flag Set\n", stdout);
      break;
    }
  }
  monitor.endTesting();
  return monitor.failures_;
}
