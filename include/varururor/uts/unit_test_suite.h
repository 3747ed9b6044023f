// The test classes of one test program, run from its command line.
//
// runTests(argc, argv) with no arguments runs every class; otherwise it runs the classes
// named, in the order they were added. A name may be followed by its own arguments:
//   prog A -start_args x y -end_args B
// runs A with the arguments (prog, x, y) and B with none. A name that matches no class
// prints "Error: "<name>" test not found." and is skipped. Unless its verbose level is
// above 0, each class is announced by a line "[<name>]". The result is the bitwise OR of
// the classes' failure counts: 0 when everything run passed.
#ifndef VARURUROR_UTS_UNIT_TEST_SUITE_H
#define VARURUROR_UTS_UNIT_TEST_SUITE_H

#include "varururor/frame/export.h"
#include "varururor/uts/unit_test.h"

class VR_API uts_UnitTestSuite {
 public:
  uts_UnitTestSuite();
  // Deletes every test class and the argument vectors.
  ~uts_UnitTestSuite();

  // name is kept, not copied; the suite takes ownership of test (made with new).
  void addTestClass(char const* name, uts_UnitTest* test);
  int runTests(int argc, char** argv);

  uts_UnitTestSuite(uts_UnitTestSuite const&) = delete;
  uts_UnitTestSuite& operator=(uts_UnitTestSuite const&) = delete;

  struct Entry {
    char const* name;
    uts_UnitTest* test;
    char** argv;  // null until the command line gives the class arguments
    bool selected;
  };

 private:
  VR_HIDDEN void Select(int argc, char** argv);
  VR_HIDDEN int GiveArguments(Entry& entry, int argc, char** argv, int first);

  Entry* entries_;
  int count_;
};
static_assert(sizeof(uts_UnitTestSuite) == 8, "the entries and their count");
static_assert(sizeof(uts_UnitTestSuite::Entry) == 16, "name, test, arguments, selected");

#endif
