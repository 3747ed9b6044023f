// The shared representation behind atr_StringBase: a 12-byte header (reference count,
// capacity, length) that either carries its text directly behind it in the same block
// or points at text elsewhere. Only atr_StringBase uses it.
#ifndef VARURUROR_ATR_STRING_REP_H
#define VARURUROR_ATR_STRING_REP_H

#include "varururor/frame/export.h"

class atr_StringBase;
namespace atr {
class StringStore;
}

class VR_API atr_StringRep {
  friend class atr_StringBase;
  friend class atr::StringStore;

  // Reference count 1.
  atr_StringRep(int length, int capacity);

  // Inline for cheap copies; VR_API on an inline member keeps it exported as well.
  VR_API void Increment() { ++references_; }
  // True when the count was 1: the caller must release the representation.
  VR_API bool Decrement() { return references_-- == 1; }

  // A header without inline text.
  static void* operator new(unsigned int size);
  // A block of 32·k + 32 bytes whatever size asks for: the header with its text behind it.
  static void* operator new(unsigned int size, int k);
  static void operator delete(void* p);
  static void operator delete(void* p, int k);

  int references_;  // handles sharing this representation
  int capacity_;    // bytes available at the text, terminator included; 0: borrowed text
  int length_;      // bytes of text, terminator excluded
};
static_assert(sizeof(atr_StringRep) == 12, "reference count, capacity, length");

#endif
