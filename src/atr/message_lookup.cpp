#include "atr/message_lookup.h"

#include <cstring>

#include "atr/dictionary_table.h"
#include "varururor/atr/encoding.h"
#include "varururor/atr/string.h"
#include "varururor/atr/translate.h"
#include "varururor/mem/allocation.h"
#include "varururor/mem/operators.h"

namespace atr {

namespace {

// Keys that differ only in a suffix behind this mark share their English text.
constexpr char kKeySuffixMark[] = "\\@";
constexpr char kDisplayReplacement = '?';

bool HasNonAscii(char const* text, int length) {
  for (int i = 0; i < length; ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) return true;
  }
  return false;
}

// A terminated copy of the first length bytes of text (none for null text).
struct CutCopy {
  CutCopy(char const* source, int length) : text(nullptr) {
    if (source == nullptr) return;
    text = static_cast<char*>(mem_OperatorNewThrowBuiltin(length + 1));
    std::memcpy(text, source, length);
    text[length] = 0;
  }
  ~CutCopy() { mem_Free(text); }
  CutCopy(CutCopy const&) = delete;
  CutCopy& operator=(CutCopy const&) = delete;

  char* text;
};

}  // namespace

MessageText::MessageText(char const* message)
    : text_(Translation(message)), length_(0), converted_(nullptr) {
  if (text_ != nullptr) {
    length_ = static_cast<int>(std::strlen(text_));
    return;
  }
  text_ = message;
  char const* suffix = std::strstr(message, kKeySuffixMark);
  length_ = static_cast<int>(suffix != nullptr ? suffix - message : std::strlen(message));
  if (!HasNonAscii(text_, length_)) return;
  // The converter reads terminated text: a cut message is copied first.
  CutCopy cut(suffix != nullptr ? message : nullptr, length_);
  char const* source = suffix != nullptr ? cut.text : message;
  int measured = atr_utf8_to_encoding(atr_EncodingLocale, nullptr, source, kDisplayReplacement);
  // Invalid UTF-8 is shown as it stands.
  if (measured <= 0) return;
  converted_ = static_cast<char*>(mem_OperatorNewThrowBuiltin(measured + 1));
  atr_utf8_to_encoding(atr_EncodingLocale, converted_, source, kDisplayReplacement);
  // An overlong form of NUL (C0 80) decodes to a NUL byte, which would end the text in
  // the middle: such a message counts as invalid UTF-8 and is shown as it stands too.
  if (std::memchr(converted_, 0, measured) != nullptr) {
    mem_Free(converted_);
    converted_ = nullptr;
    return;
  }
  text_ = converted_;
  length_ = measured;
}

MessageText::~MessageText() { mem_Free(converted_); }

}  // namespace atr

atr_String atr_raw(char const* message) {
  if (message == nullptr) return atr_String();
  atr::MessageText found(message);
  return atr_String(found.text(), static_cast<unsigned int>(found.length()));
}
