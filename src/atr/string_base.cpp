// The handle: construction, sharing and release, and the two ways of preparing a
// representation for writing.
#include "varururor/atr/string_base.h"

#include <cstddef>
#include <cstring>

#include "atr/number_text.h"
#include "atr/string_statistics.h"
#include "atr/string_store.h"
#include "varururor/mem/allocation.h"

using atr::StringStore;

// A null s (or an adopted null buffer) gives the empty string; nothing is taken over.
atr_StringBase::atr_StringBase(char const* s, int len, Borrow) : atr_StringBase() {
  if (s == nullptr) return;
  rep_ = StringStore::CreateHeader(len, 0);
  text_ = const_cast<char*>(s);  // capacity 0: never written, a write copies it first
}

atr_StringBase::atr_StringBase(char* s, int len, Adopt) : atr_StringBase() {
  if (s == nullptr) return;
  rep_ = StringStore::CreateHeader(len, len + 1);
  text_ = s;
}

atr_StringBase::atr_StringBase(int n, PreSizeEnm) : atr_StringBase() {
  rep_ = StringStore::Create(n, &text_);
}

// No bytes to copy (len <= 0 or a null s) gives the empty string, as "" does.
atr_StringBase::atr_StringBase(char const* s, int len) : atr_StringBase() {
  if (s == nullptr || len <= 0) return;
  rep_ = StringStore::Create(len, &text_);
  std::memcpy(text_, s, len);
  text_[len] = '\0';
  rep_->length_ = len;
}

atr_StringBase::atr_StringBase(char const* s)
    : atr_StringBase(s, s == nullptr ? 0 : static_cast<int>(std::strlen(s))) {}

atr_StringBase::atr_StringBase(int v) : atr_StringBase() {
  atr::NumberText number(v);
  *this = number.text();
}

atr_StringBase::atr_StringBase(unsigned int v) : atr_StringBase() {
  atr::NumberText number(v);
  *this = number.text();
}

atr_StringBase::atr_StringBase(float v) : atr_StringBase() {
  atr::NumberText number(v);
  *this = number.text();
}

atr_StringBase::atr_StringBase(double v) : atr_StringBase() {
  atr::NumberText number(v);
  *this = number.text();
}

atr_StringBase& atr_StringBase::operator=(char const* s) {
  if (s == nullptr || *s == '\0') {
    if (rep_ != nullptr && rep_->Decrement()) Delete();
    text_ = nullptr;
    rep_ = nullptr;
    return *this;
  }
  int n = static_cast<int>(std::strlen(s));
  char* old_block = get(n);
  // s may lie in the old text: that stays readable until old_block is freed, and when
  // get worked in place the two may overlap.
  std::memmove(text_, s, n + 1);
  rep_->length_ = n;
  mem_Free(old_block);
  return *this;
}

void atr_StringBase::Delete() {
  static_assert(sizeof(atr_StringBase) == 8, "text pointer and representation pointer");
  static_assert(offsetof(atr_StringBase, text_) == 0 && offsetof(atr_StringBase, rep_) == 4,
                "the text pointer comes first");
  StringStore::Release(rep_, text_);
  text_ = nullptr;
  rep_ = nullptr;
}

void atr_StringBase::isolate(int n) {
  if (rep_ == nullptr) {
    rep_ = StringStore::Create(n, &text_);
    return;
  }
  int length = rep_->length_;
  if (n < length) n = length;
  if (rep_->references_ == 1 && rep_->capacity_ > n) return;
  if (rep_->references_ == 1 && StringStore::IsInline(rep_, text_)) {
    // Blocks never grow in place; the attempt is only counted.
    atr::CountExtensionFailure();
  }
  char* text;
  atr_StringRep* rep = StringStore::CreateUncounted(n, &text);
  std::memcpy(text, text_, length + 1);
  rep->length_ = length;
  if (rep_->Decrement()) StringStore::Release(rep_, text_);
  StringStore::Count(rep, text);
  text_ = text;
  rep_ = rep;
}

char* atr_StringBase::get(int n) {
  if (rep_ == nullptr) {
    rep_ = StringStore::Create(n, &text_);
    return nullptr;
  }
  if (rep_->references_ == 1 && rep_->capacity_ > n) return nullptr;
  char* text;
  atr_StringRep* rep = StringStore::CreateUncounted(n, &text);
  char* old_block = nullptr;
  if (rep_->Decrement()) {
    if (StringStore::IsInline(rep_, text_)) atr::CountExtensionFailure();
    old_block = StringStore::ReleaseKeepingText(rep_, text_);
  }
  StringStore::Count(rep, text);
  text_ = text;
  rep_ = rep;
  return old_block;
}

char const* atr_StringBase::CStr() const { return rep_ == nullptr ? atr::kEmptyText : text_; }

char atr_StringBase::operator[](int i) const { return CStr()[i]; }

char& atr_StringBase::operator[](int i) {
  isolate(Length());
  return text_[i];
}

void atr_StringBase::SetStringLength(int n) { rep_->length_ = n; }
