// Random sequences and fuzz runs have two lengths: a short one that CI runs, and the long
// one, run by hand before a release or after a change to the code they cover, chosen by
// setting VR_LONG_TESTS to anything but "0".
#ifndef VARURUROR_TESTS_LONG_TESTS_H
#define VARURUROR_TESTS_LONG_TESTS_H

#include <cstdlib>
#include <cstring>

inline bool vr_LongTests() {
  char const* value = std::getenv("VR_LONG_TESTS");
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

// short_form in CI, long_form when asked for.
inline int vr_TestLength(int short_form, int long_form) {
  return vr_LongTests() ? long_form : short_form;
}

#endif
