// Tells thread checkers (Valgrind's DRD and Helgrind) about orderings they cannot see:
// hand-overs made through atomic words rather than through locks they know. Outside
// those tools each annotation costs a few instructions and does nothing.
#ifndef VARURUROR_PLAT_RACE_ANNOTATIONS_H
#define VARURUROR_PLAT_RACE_ANNOTATIONS_H

#include <cstddef>

#if __has_include(<valgrind/drd.h>)
#include <valgrind/drd.h>
#define VR_CHECKER_ANNOTATIONS 1
#endif

namespace plat {

// Everything the calling thread did before HappensBefore(a) is seen by a thread that
// afterwards passes HappensAfter(a).
inline void HappensBefore(void const volatile* address) {
#ifdef VR_CHECKER_ANNOTATIONS
  ANNOTATE_HAPPENS_BEFORE(address);
#else
  (void)address;
#endif
}

inline void HappensAfter(void const volatile* address) {
#ifdef VR_CHECKER_ANNOTATIONS
  ANNOTATE_HAPPENS_AFTER(address);
#else
  (void)address;
#endif
}

// A word that threads read and write only atomically: its accesses are not races.
inline void DeclareAtomicWord(void const volatile* address, std::size_t size) {
#ifdef VR_CHECKER_ANNOTATIONS
  ANNOTATE_BENIGN_RACE_SIZED(address, size, "accessed only atomically");
#else
  (void)address;
  (void)size;
#endif
}

#ifdef VR_CHECKER_ANNOTATIONS
// Asked once at load, since asking costs as much as an annotation; constructors that run
// earlier see false.
inline bool const g_under_checker = [] { return RUNNING_ON_VALGRIND != 0; }();
#endif

// Whether the process runs under one of those tools: for a path too hot to pay for an
// annotation, which then avoids what the tool would judge.
inline bool UnderChecker() {
#ifdef VR_CHECKER_ANNOTATIONS
  return g_under_checker;
#else
  return false;
#endif
}

}  // namespace plat

#endif
