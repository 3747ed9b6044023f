// The library's string handle: two words (text pointer, representation pointer) over a
// reference-counted, copy-on-write byte string. Lengths and positions count bytes.
//
// The empty string has no representation and costs no allocation; it reads as "".
// Copies share the representation; a write to a shared or borrowed text copies it
// first. Constructors and editing operations are protected: modules derive their own
// string classes and choose what to expose. Positions and counts are trusted.
// A handle and every copy sharing its representation belong to one thread at a time.
#ifndef VARURUROR_ATR_STRING_BASE_H
#define VARURUROR_ATR_STRING_BASE_H

#include "varururor/atr/string_rep.h"
#include "varururor/frame/export.h"

class atr_StringBasePrv;

// Copying, assigning and releasing a handle are inline, so that a copy costs a count;
// VR_API on an inline member keeps it exported as well.
class VR_API atr_StringBase {
 public:
  VR_API ~atr_StringBase() {
    if (rep_ != nullptr && rep_->Decrement()) Delete();
  }

 protected:
  // Tags of the constructors that take over caller text without copying it.
  enum Borrow { kBorrow };
  enum Adopt { kAdopt };
  enum PreSizeEnm { kPreSize };

  VR_API atr_StringBase() : text_(nullptr), rep_(nullptr) {}
  VR_API atr_StringBase(atr_StringBase const& other) : text_(other.text_), rep_(other.rep_) {
    if (rep_ != nullptr) rep_->Increment();
  }
  // Wraps s (NUL-terminated at len) without copying; s must outlive every copy.
  atr_StringBase(char const* s, int len, Borrow);
  // Takes over s (a mem_Malloc block, NUL-terminated at len); released with mem_Free.
  atr_StringBase(char* s, int len, Adopt);
  // Empty text with room for n bytes.
  atr_StringBase(int n, PreSizeEnm);
  atr_StringBase(char const* s, int len);
  atr_StringBase(char const* s);
  atr_StringBase(int v);
  atr_StringBase(unsigned int v);
  atr_StringBase(float v);
  atr_StringBase(double v);

  // Takes the reference on other's representation first: self-assignment is safe.
  VR_API atr_StringBase& operator=(atr_StringBase const& other) {
    if (other.rep_ != nullptr) other.rep_->Increment();
    if (rep_ != nullptr && rep_->Decrement()) Delete();
    text_ = other.text_;
    rep_ = other.rep_;
    return *this;
  }
  atr_StringBase& operator=(char const* s);

  // Frees the representation (its count has reached 0) and leaves the string empty.
  void Delete();
  // Unshared and writable with capacity > n, keeping the text; n >= Length().
  void isolate(int n);
  // Unshared and writable with capacity > n, without keeping the text. Returns the old
  // block, which the caller frees with mem_Free after copying from the old text, or null.
  char* get(int n);

  VR_API int Length() const { return rep_ == nullptr ? 0 : rep_->length_; }
  VR_API bool Empty() const { return Length() == 0; }
  char const* CStr() const;
  char operator[](int i) const;
  char& operator[](int i);
  // Sets the length only; the caller writes the terminator. Needs a representation.
  void SetStringLength(int n);

  // min(n, Length() - pos); extracts nothing.
  int Substr(int pos, int n) const;
  // First occurrence at or after from; Length() when there is none or from > Length().
  int Find(char const* needle, int from) const;
  // Last occurrence of n bytes of needle starting at or before pos; Length() when none,
  // and also when n or pos is 0.
  int rfind(char const* needle, int n, int pos) const;

  // The edits take min(slen - from, maxn) bytes of s from s[from].
  atr_StringBase& append(char const* s, int slen, int from, int maxn);
  atr_StringBase& insert(int pos, char const* s, int slen, int from, int maxn);
  // Replaces min(Length() - pos, cnt) bytes at pos.
  atr_StringBase& replace(int pos, int cnt, char const* s, int slen, int from, int maxn);
  atr_StringBase& Replace(int pos, int cnt, atr_StringBase const& s);
  atr_StringBase& Replace(int pos, int cnt, char const* s, int slen);
  atr_StringBase& Erase(int pos, int n);

  // Remove the bytes that are in set: the leading run, the trailing run, or all of them.
  atr_StringBase& LeftTrim(char const* set);
  atr_StringBase& RightTrim(char const* set);
  atr_StringBase& Trim(char const* set);

  // Case changes touch single-byte characters of the current locale only.
  atr_StringBase& ToLower();
  atr_StringBase& ToUpper();
  atr_StringBase& Capitalize();
  atr_StringBase& Uncapitalize();
  // Reverses the bytes, not the characters.
  atr_StringBase& Reverse();
  // Up to count times: replaces the first occurrence of from in the current text by to.
  atr_StringBase& Substitute(atr_StringBase const& from, atr_StringBase const& to, int count);

 private:
  friend class atr_StringBasePrv;

  char* text_;          // null when empty
  atr_StringRep* rep_;  // null when empty
};

#endif
