// Making and releasing string representations: the sizing rule, the four kinds, and
// the statistics that follow them.
//
// Sizing rule for n bytes of text: k = (n + 17) >> 5. While k <= 7 (n <= 238) the text
// lives behind the header in one block of 32·k + 32 bytes (capacity 32·k + 20, so 5 to
// 36 spare bytes); from 239 bytes on it gets a block of its own of exactly n + 1 bytes.
#ifndef VARURUROR_ATR_STRING_STORE_H
#define VARURUROR_ATR_STRING_STORE_H

#include "varururor/atr/string_rep.h"

namespace atr {

constexpr int kHeaderBytes = sizeof(atr_StringRep);
constexpr int kBlockShift = 5;  // inline blocks grow in steps of 32 bytes
constexpr int kBlockStep = 1 << kBlockShift;
constexpr int kClassBias = 17;
constexpr int kLargestInlineClass = 7;

// The inline class of a request for n bytes of text; above kLargestInlineClass the
// text goes to a block of its own.
constexpr int InlineClass(int n) { return (n + kClassBias) >> kBlockShift; }
constexpr int InlineBlockBytes(int k) { return kBlockStep * k + kBlockStep; }
constexpr int InlineCapacity(int k) { return InlineBlockBytes(k) - kHeaderBytes; }

// The text of an empty string: one NUL byte, shared by every empty handle.
extern char const kEmptyText[1];

class StringStore {
 public:
  // A new owned representation with room for n bytes of text, holding "".
  static atr_StringRep* Create(int n, char** text);
  // The same, left out of the statistics until Count: a representation that replaces
  // another is counted after the old one is released, so the peaks see one block.
  static atr_StringRep* CreateUncounted(int n, char** text);
  static void Count(atr_StringRep const* rep, char const* text);
  // A header over text that is borrowed (capacity 0) or adopted (capacity length + 1).
  static atr_StringRep* CreateHeader(int length, int capacity);

  static bool IsInline(atr_StringRep const* rep, char const* text) {
    return text == InlineText(rep);
  }
  // Borrowed text stays with its owner; every other kind is owned.
  static bool IsBorrowed(atr_StringRep const* rep) { return rep->capacity_ == 0; }

  // The capacity the statistics count: the inline capacity, 0 for the other kinds.
  static int CountedCapacity(atr_StringRep const* rep, char const* text) {
    return IsInline(rep, text) ? rep->capacity_ : 0;
  }

  // Takes rep out of the statistics and frees its header; frees nothing else, so the
  // text of a separate or adopted block, and the whole of an inline block, stay with
  // the caller. Returns the block that still holds the text when the caller owns it
  // (the inline block, or the separate or adopted text block), null for borrowed text.
  static char* ReleaseKeepingText(atr_StringRep* rep, char* text);
  // Takes rep out of the statistics and frees everything it owns.
  static void Release(atr_StringRep* rep, char* text);

 private:
  static char* InlineText(atr_StringRep const* rep) {
    return reinterpret_cast<char*>(const_cast<atr_StringRep*>(rep)) + kHeaderBytes;
  }
};

}  // namespace atr

#endif
