// The monitor chosen when the environment variable UnitTestVerbose exists: a statistics
// table with one row per test (running totals of tests, checks and failures), a total
// row and a PASSED/FAILED verdict; failures are grouped under the number of their test,
// and checks traced by the assertion macros are printed as evaluated.
#ifndef VARURUROR_UTS_UNIT_TEST_MONITOR_VERBOSE_H
#define VARURUROR_UTS_UNIT_TEST_MONITOR_VERBOSE_H

#include "varururor/frame/export.h"
#include "varururor/uts/unit_test_monitor.h"

class VR_API uts_UnitTestMonitorVerbose : public uts_UnitTestMonitor {
 public:
  uts_UnitTestMonitorVerbose();
  ~uts_UnitTestMonitorVerbose() override;

  void beginTesting() override;
  void reportEachTest() override;
  void endTesting() override;
  void errorPrint(char const* file, int line, char const* text) override;
  void expressionPrint(char const* file, int line, char const* text) override;
};
static_assert(sizeof(uts_UnitTestMonitorVerbose) == 28, "the plain monitor's fields only");

#endif
