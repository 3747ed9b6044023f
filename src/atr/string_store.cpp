// The representation's own members (constructor and allocation operators) and the
// store that makes and releases representations with them.
#include "atr/string_store.h"

#include <cstddef>

#include "atr/string_statistics.h"
#include "varururor/mem/allocation.h"
#include "varururor/mem/operators.h"

atr_StringRep::atr_StringRep(int length, int capacity)
    : references_(1), capacity_(capacity), length_(length) {
  static_assert(offsetof(atr_StringRep, references_) == 0 &&
                    offsetof(atr_StringRep, capacity_) == 4 &&
                    offsetof(atr_StringRep, length_) == 8,
                "reference count, capacity, length");
}

void* atr_StringRep::operator new(unsigned int size) { return mem_OperatorNewThrowBuiltin(size); }

void* atr_StringRep::operator new(unsigned int, int k) {
  return mem_OperatorNewThrowBuiltin(atr::InlineBlockBytes(k));
}

void atr_StringRep::operator delete(void* p) { mem_Free(p); }

void atr_StringRep::operator delete(void* p, int) { mem_Free(p); }

namespace atr {

char const kEmptyText[1] = {'\0'};

atr_StringRep* StringStore::Create(int n, char** text) {
  atr_StringRep* rep = CreateUncounted(n, text);
  Count(rep, *text);
  return rep;
}

void StringStore::Count(atr_StringRep const* rep, char const* text) {
  CountCreated(CountedCapacity(rep, text));
}

atr_StringRep* StringStore::CreateUncounted(int n, char** text) {
  int k = InlineClass(n);
  atr_StringRep* rep;
  if (k <= kLargestInlineClass) {
    rep = new (k) atr_StringRep(0, InlineCapacity(k));
    *text = InlineText(rep);
  } else {
    // The text block first, so that a failure to get the header leaks nothing.
    char* block = static_cast<char*>(mem_OperatorNewThrowBuiltin(n + 1));
    try {
      rep = new atr_StringRep(0, n + 1);
    } catch (...) {
      mem_Free(block);
      throw;
    }
    *text = block;
  }
  (*text)[0] = '\0';
  return rep;
}

atr_StringRep* StringStore::CreateHeader(int length, int capacity) {
  atr_StringRep* rep = new atr_StringRep(length, capacity);
  CountCreated(0);
  return rep;
}

char* StringStore::ReleaseKeepingText(atr_StringRep* rep, char* text) {
  CountReleased(CountedCapacity(rep, text), rep->length_);
  if (IsInline(rep, text)) return reinterpret_cast<char*>(rep);
  bool borrowed = IsBorrowed(rep);
  delete rep;
  return borrowed ? nullptr : text;
}

void StringStore::Release(atr_StringRep* rep, char* text) {
  mem_Free(ReleaseKeepingText(rep, text));
}

}  // namespace atr
