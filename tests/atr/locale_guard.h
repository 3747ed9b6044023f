// Switches the locale and puts the previous one back (scripts/setup makes the locales).
#ifndef VARURUROR_TESTS_ATR_LOCALE_GUARD_H
#define VARURUROR_TESTS_ATR_LOCALE_GUARD_H

#include <clocale>
#include <string>

class LocaleGuard {
 public:
  LocaleGuard() : saved_(std::setlocale(LC_ALL, nullptr)) {}
  ~LocaleGuard() { std::setlocale(LC_ALL, saved_.c_str()); }

  // False when the locale is missing.
  bool Use(char const* name) { return std::setlocale(LC_ALL, name) != nullptr; }

 private:
  std::string saved_;
};

#endif
