// The checks of a test function, and the registration of test functions.
//
// Use them inside member functions of a class derived from uts_UnitTest:
//
//   class NumberingTest : public uts_UnitTest {
//    public:
//     NumberingTest() { UTS_ADD_TEST(NumberingTest, testRenumber); }
//     void testRenumber() {
//       UTS_ASSERT(table.Size() > 0);
//       UTS_ASSERT_EQUAL(table.Get(7), 3);
//       UTS_ASSERT_NEAR(length, 2.5, 1e-12);
//       UTS_ASSERT_THROWS(table.Resize(-1), std::invalid_argument);
//     }
//   };
//
// Every check is counted by the test's monitor (incrementUnitAssertCount). A failed check
// is counted as a failure (incrementUnitAssertFailureCount) and reported by errorPrint as
// "<file> (<line>) : assertion failed : <text>", where the text is the check as written
// and, for comparisons, the values found: "table.Get(7) == 3 [values: 4, 3]". A failed
// check does not leave the test function: each macro is an expression that is true when
// the check passed, so a function that cannot go on writes
//   if (!UTS_ASSERT(p != nullptr)) return;
// At a verbose level of UTS_TRACE_LEVEL or more (UnitTestVerbose=2), every check also
// goes to expressionPrint before its outcome, which the verbose monitor shows as
// "<file> (<line>) : UTS_ASSERT expression evaluated is: <text>".
//
// An exception that escapes a test function counts as one failure of that test and is
// reported as "unexpected exception in <class>::<function>"; the next test still runs.
#ifndef VARURUROR_UTS_ASSERTIONS_H
#define VARURUROR_UTS_ASSERTIONS_H

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>

#include "varururor/uts/functor.h"
#include "varururor/uts/unit_test.h"
#include "varururor/uts/unit_test_monitor.h"

// The verbose level from which every check is traced.
#define UTS_TRACE_LEVEL 2

namespace uts_detail {

template <class T, class = void>
struct Printable : std::false_type {};
template <class T>
struct Printable<T, std::void_t<decltype(std::declval<std::ostream&>() << std::declval<T const&>())>>
    : std::true_type {};

// A value's text for a failure message; doubles with all their digits.
template <class T>
std::string Describe(T const& value) {
  if constexpr (Printable<T>::value) {
    std::ostringstream text;
    text.precision(17);
    text << value;
    return text.str();
  } else {
    return "(no text form)";
  }
}

// Counts the check, traces it at the trace level, and reports it when it failed.
inline bool Check(uts_UnitTestMonitor* monitor, int verbose, bool passed, char const* file,
                  int line, char const* text, std::string const& details = std::string()) {
  monitor->incrementUnitAssertCount();
  if (verbose >= UTS_TRACE_LEVEL) monitor->expressionPrint(file, line, text);
  if (passed) return true;
  monitor->incrementUnitAssertFailureCount();
  if (details.empty()) {
    monitor->errorPrint(file, line, text);
  } else {
    std::string const message = std::string(text) + " [" + details + "]";
    monitor->errorPrint(file, line, message.c_str());
  }
  return false;
}

template <class A, class B>
bool CheckEqual(uts_UnitTestMonitor* monitor, int verbose, A const& a, B const& b,
                char const* file, int line, char const* text) {
  bool const equal = a == b;
  return Check(monitor, verbose, equal, file, line, text,
               equal ? std::string() : "values: " + Describe(a) + ", " + Describe(b));
}

// C strings compare by content; null equals only null.
inline bool CheckStringEqual(uts_UnitTestMonitor* monitor, int verbose, char const* a,
                             char const* b, char const* file, int line, char const* text) {
  bool const equal = a == b || (a != nullptr && b != nullptr && std::strcmp(a, b) == 0);
  auto quoted = [](char const* s) { return s == nullptr ? std::string("null") : '"' + std::string(s) + '"'; };
  return Check(monitor, verbose, equal, file, line, text,
               equal ? std::string() : "values: " + quoted(a) + ", " + quoted(b));
}

// |a - b| <= tolerance; a NaN on either side fails.
inline bool CheckNear(uts_UnitTestMonitor* monitor, int verbose, double a, double b,
                      double tolerance, char const* file, int line, char const* text) {
  bool const near = std::fabs(a - b) <= tolerance;
  return Check(monitor, verbose, near, file, line, text,
               near ? std::string()
                    : "values: " + Describe(a) + ", " + Describe(b) + ", difference " +
                          Describe(std::fabs(a - b)));
}

// What a statement did, for the exception checks.
enum class Outcome { kNothingThrown, kExpectedThrown, kOtherThrown };

inline char const* OutcomeText(Outcome outcome) {
  switch (outcome) {
    case Outcome::kNothingThrown: return "nothing was thrown";
    case Outcome::kExpectedThrown: return "the exception was thrown";
    case Outcome::kOtherThrown: return "another exception was thrown";
  }
  return "";
}

}  // namespace uts_detail

// The check that condition is true.
#define UTS_ASSERT(condition)                                                              \
  (::uts_detail::Check(this->getMonitor(), this->getVerbose(), static_cast<bool>(condition), \
                       __FILE__, __LINE__, #condition))

// a == b; on failure both values are shown (with operator<< on std::ostream when the
// types have one).
#define UTS_ASSERT_EQUAL(a, b)                                                              \
  (::uts_detail::CheckEqual(this->getMonitor(), this->getVerbose(), (a), (b), __FILE__, \
                            __LINE__, #a " == " #b))

// Two C strings with the same content (or both null).
#define UTS_ASSERT_STRING_EQUAL(a, b)                                                     \
  (::uts_detail::CheckStringEqual(this->getMonitor(), this->getVerbose(), (a), (b), __FILE__, \
                                  __LINE__, #a " == " #b))

// Two doubles within tolerance of each other.
#define UTS_ASSERT_NEAR(a, b, tolerance)                                                  \
  (::uts_detail::CheckNear(this->getMonitor(), this->getVerbose(), (a), (b), (tolerance), \
                           __FILE__, __LINE__, #a " == " #b " within " #tolerance))

// The statement throws an exception of type exception_type (or derived from it).
#define UTS_ASSERT_THROWS(statement, exception_type)                                       \
  ([&]() -> bool {                                                                         \
    ::uts_detail::Outcome uts_outcome = ::uts_detail::Outcome::kNothingThrown;             \
    try {                                                                                  \
      statement;                                                                           \
    } catch (exception_type const&) {                                                      \
      uts_outcome = ::uts_detail::Outcome::kExpectedThrown;                                \
    } catch (...) {                                                                        \
      uts_outcome = ::uts_detail::Outcome::kOtherThrown;                                   \
    }                                                                                      \
    bool const uts_passed = uts_outcome == ::uts_detail::Outcome::kExpectedThrown;         \
    return ::uts_detail::Check(this->getMonitor(), this->getVerbose(), uts_passed, __FILE__, \
                               __LINE__, #statement " throws " #exception_type,            \
                               uts_passed ? "" : ::uts_detail::OutcomeText(uts_outcome)); \
  }())

// The statement throws nothing.
#define UTS_ASSERT_NO_THROW(statement)                                                     \
  ([&]() -> bool {                                                                         \
    bool uts_passed = true;                                                                \
    try {                                                                                  \
      statement;                                                                           \
    } catch (...) {                                                                        \
      uts_passed = false;                                                                  \
    }                                                                                      \
    return ::uts_detail::Check(this->getMonitor(), this->getVerbose(), uts_passed, __FILE__, \
                               __LINE__, #statement " throws nothing",                     \
                               uts_passed ? "" : "an exception was thrown");               \
  }())

// A failure that needs no condition (a branch that must not be reached).
#define UTS_FAIL(text)                                                                     \
  (::uts_detail::Check(this->getMonitor(), this->getVerbose(), false, __FILE__, __LINE__, \
                       (text)))

// In the constructor of test_class: adds test_class::function (void, no arguments) as
// the next test, named "test_class" and "function" in messages.
#define UTS_ADD_TEST(test_class, function)                                                  \
  this->addTest(new uts_MemberFunctor<test_class>(this, &test_class::function, #test_class, \
                                                  #function))

#endif
