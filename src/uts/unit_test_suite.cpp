// The suite: test classes selected by name from the command line, with their arguments.
#include "varururor/uts/unit_test_suite.h"

#include <cstdio>
#include <cstring>

#include "varururor/mem/allocation.h"
#include "varururor/mem/operators.h"

namespace {
constexpr char kStartArguments[] = "-start_args";
constexpr char kEndArguments[] = "-end_args";
}  // namespace

uts_UnitTestSuite::uts_UnitTestSuite() : entries_(nullptr), count_(0) {}

uts_UnitTestSuite::~uts_UnitTestSuite() {
  for (int i = 0; i < count_; ++i) {
    delete entries_[i].test;
    mem_Free(entries_[i].argv);
  }
  mem_Free(entries_);
  count_ = 0;
}

void uts_UnitTestSuite::addTestClass(char const* name, uts_UnitTest* test) {
  Entry* grown = static_cast<Entry*>(mem_OperatorNewTinyThrow((count_ + 1) * sizeof(Entry)));
  if (count_ > 0) std::memcpy(grown, entries_, count_ * sizeof(Entry));
  grown[count_] = Entry{name, test, nullptr, false};
  mem_Free(entries_);
  entries_ = grown;
  ++count_;
}

int uts_UnitTestSuite::GiveArguments(Entry& entry, int argc, char** argv, int first) {
  int end = first;
  while (end < argc && std::strcmp(argv[end], kEndArguments) != 0) ++end;
  int const count = end - first;
  // argv[0], the arguments, a null element.
  char** vector =
      static_cast<char**>(mem_OperatorNewThrowBuiltin((count + 2) * sizeof(char*)));
  vector[0] = argv[0];
  for (int k = 0; k < count; ++k) vector[k + 1] = argv[first + k];
  vector[count + 1] = nullptr;
  // A class named twice with arguments keeps the later ones.
  mem_Free(entry.argv);
  entry.argv = vector;
  entry.test->setArgs(count + 1, vector);
  return end < argc ? end + 1 : argc;
}

void uts_UnitTestSuite::Select(int argc, char** argv) {
  if (argc <= 1) {
    for (int k = 0; k < count_; ++k) entries_[k].selected = true;
    return;
  }
  int i = 1;
  while (i < argc) {
    bool const arguments_follow = i + 1 < argc && std::strcmp(argv[i + 1], kStartArguments) == 0;
    bool found = false;
    int next = i + 1;
    for (int k = 0; k < count_; ++k) {
      Entry& entry = entries_[k];
      if (std::strcmp(argv[i], entry.name) != 0) continue;
      entry.selected = true;
      if (!found && arguments_follow) next = GiveArguments(entry, argc, argv, i + 2);
      found = true;
    }
    if (!found) std::printf("Error: \"%s\" test not found.\n", argv[i]);
    i = next;
  }
}

int uts_UnitTestSuite::runTests(int argc, char** argv) {
  Select(argc, argv);
  int result = 0;
  for (int k = 0; k < count_; ++k) {
    Entry const& entry = entries_[k];
    if (!entry.selected) continue;
    if (entry.test->getVerbose() == 0) std::printf("[%s]\n", entry.name);
    result |= entry.test->runTests();
  }
  return result;
}
