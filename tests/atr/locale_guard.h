// Runs a test under a named locale and puts the previous one back afterwards. A test whose
// locale is not installed is skipped with the reason (scripts/setup generates them).
#ifndef VARURUROR_TESTS_ATR_LOCALE_GUARD_H
#define VARURUROR_TESTS_ATR_LOCALE_GUARD_H

#include <gtest/gtest.h>

#include <clocale>
#include <string>

class LocaleGuard {
 public:
  LocaleGuard() : saved_(std::setlocale(LC_ALL, nullptr)) {}
  ~LocaleGuard() { std::setlocale(LC_ALL, saved_.c_str()); }
  LocaleGuard(LocaleGuard const&) = delete;
  LocaleGuard& operator=(LocaleGuard const&) = delete;

  // False when the locale is missing.
  bool Use(char const* name) { return std::setlocale(LC_ALL, name) != nullptr; }

 private:
  std::string saved_;
};

// Switches to the locale for the rest of the test, or skips the test.
#define USE_LOCALE_OR_SKIP(guard, name)                                                    \
  do {                                                                                     \
    if (!(guard).Use(name)) {                                                              \
      GTEST_SKIP() << "locale " << (name) << " is not installed (scripts/setup makes it)"; \
    }                                                                                      \
  } while (false)

// True when the locale exists; for code in a child process.
inline bool LocaleInstalled(char const* name) {
  LocaleGuard guard;
  return guard.Use(name);
}

#endif
