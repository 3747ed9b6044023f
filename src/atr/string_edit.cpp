// Searching and editing: find, append, insert, replace, erase, trim, substitute.
// A null char const* reads as "".
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "atr/string_store.h"
#include "varururor/atr/string_base.h"
#include "varururor/mem/allocation.h"

namespace {

char const* OrEmpty(char const* s) { return s == nullptr ? atr::kEmptyText : s; }

// How many bytes an edit takes from s[from]: min(slen - from, maxn), none for a null s.
int TakenCount(char const* s, int slen, int from, int maxn) {
  if (s == nullptr) return 0;
  return std::max(0, std::min(slen - from, maxn));
}

bool InSet(char c, char const* set) { return c != '\0' && std::strchr(set, c) != nullptr; }

}  // namespace

int atr_StringBase::Substr(int pos, int n) const { return std::min(n, Length() - pos); }

int atr_StringBase::Find(char const* needle, int from) const {
  int length = Length();
  if (length == 0) return 0;
  if (from > length) return length;
  char const* text = CStr();
  char const* hit = std::strstr(text + from, OrEmpty(needle));
  return hit == nullptr ? length : static_cast<int>(hit - text);
}

int atr_StringBase::rfind(char const* needle, int n, int pos) const {
  int length = Length();
  if (needle == nullptr || n <= 0 || pos <= 0 || n > length) return length;
  char const* text = CStr();
  for (int at = std::min(pos, length - n); at >= 0; --at) {
    if (std::memcmp(text + at, needle, n) == 0) return at;
  }
  return length;
}

atr_StringBase& atr_StringBase::append(char const* s, int slen, int from, int maxn) {
  int count = TakenCount(s, slen, from, maxn);
  if (count == 0) return *this;
  char const* source = s + from;
  // When the bytes come from this very text, a shared reference keeps the old block
  // alive while isolate moves the text.
  atr_StringBase keep;
  std::uintptr_t at = reinterpret_cast<std::uintptr_t>(source);
  std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(text_);
  if (rep_ != nullptr && at >= begin && at <= begin + rep_->length_) keep = *this;
  int length = Length();
  isolate(length + count);
  std::memcpy(text_ + length, source, count);
  text_[length + count] = '\0';
  rep_->length_ = length + count;
  return *this;
}

atr_StringBase& atr_StringBase::insert(int pos, char const* s, int slen, int from, int maxn) {
  return replace(pos, 0, s, slen, from, maxn);
}

atr_StringBase& atr_StringBase::replace(int pos, int cnt, char const* s, int slen, int from,
                                        int maxn) {
  int length = Length();
  int removed = std::max(0, std::min(length - pos, cnt));
  int inserted = TakenCount(s, slen, from, maxn);
  if (removed == 0 && inserted == 0) return *this;
  char const* source = inserted == 0 ? atr::kEmptyText : s + from;
  // Bytes taken from this very text would be moved by an in-place edit: a shared
  // reference makes get build the result in a new block instead.
  atr_StringBase keep;
  std::uintptr_t at = reinterpret_cast<std::uintptr_t>(source);
  std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(text_);
  if (rep_ != nullptr && at >= begin && at <= begin + rep_->length_) keep = *this;

  char const* old = CStr();
  int tail = length - pos - removed + 1;  // the kept suffix with its terminator
  int new_length = length - removed + inserted;
  char* old_block = get(new_length);
  if (text_ == old) {
    std::memmove(text_ + pos + inserted, old + pos + removed, tail);
  } else {
    std::memcpy(text_, old, pos);
    std::memcpy(text_ + pos + inserted, old + pos + removed, tail);
  }
  std::memcpy(text_ + pos, source, inserted);
  rep_->length_ = new_length;
  mem_Free(old_block);
  return *this;
}

atr_StringBase& atr_StringBase::Replace(int pos, int cnt, atr_StringBase const& s) {
  return replace(pos, cnt, s.CStr(), s.Length(), 0, INT_MAX);
}

atr_StringBase& atr_StringBase::Replace(int pos, int cnt, char const* s, int slen) {
  atr_StringBase copy(s, slen);
  return replace(pos, cnt, copy.CStr(), copy.Length(), 0, INT_MAX);
}

atr_StringBase& atr_StringBase::Erase(int pos, int n) {
  return replace(pos, n, atr::kEmptyText, 0, 0, 0);
}

atr_StringBase& atr_StringBase::LeftTrim(char const* set) {
  if (Empty()) return *this;
  int run = static_cast<int>(std::strspn(CStr(), OrEmpty(set)));
  return Erase(0, run);
}

atr_StringBase& atr_StringBase::RightTrim(char const* set) {
  int length = Length();
  char const* text = CStr();
  int end = length;
  while (end > 0 && InSet(text[end - 1], OrEmpty(set))) --end;
  return Erase(end, length - end);
}

atr_StringBase& atr_StringBase::Trim(char const* set) {
  if (Empty()) return *this;
  set = OrEmpty(set);
  int length = Length();
  isolate(length);
  int kept = 0;
  for (int i = 0; i < length; ++i) {
    if (!InSet(text_[i], set)) text_[kept++] = text_[i];
  }
  text_[kept] = '\0';
  rep_->length_ = kept;
  return *this;
}

atr_StringBase& atr_StringBase::Reverse() {
  if (Length() < 2) return *this;
  isolate(Length());
  std::reverse(text_, text_ + rep_->length_);
  return *this;
}

atr_StringBase& atr_StringBase::Substitute(atr_StringBase const& from, atr_StringBase const& to,
                                           int count) {
  if (Empty() || from.Empty() || count < 1) return *this;
  // Own references, so that from or to being this string, or sharing with it, does
  // not change them as the passes edit this text.
  atr_StringBase pattern(from);
  atr_StringBase replacement(to);
  for (int pass = 0; pass < count; ++pass) {
    int at = Find(pattern.CStr(), 0);
    if (at >= Length()) break;
    Replace(at, pattern.Length(), replacement);
  }
  return *this;
}
