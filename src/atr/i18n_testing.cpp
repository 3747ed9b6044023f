#include <cstdlib>

#include "varururor/atr/encoding.h"
#include "varururor/atr/locale.h"

namespace {

enum class Decision { kUndecided, kOff, kOn };
Decision g_testing = Decision::kUndecided;

// U+30BD U+30FC: in Shift JIS their second bytes are a backslash and '[', which shows code that
// takes multi-byte text for single bytes.
constexpr char kExtraCharactersUtf8[] = "\xE3\x82\xBD\xE3\x83\xBC";
constexpr int kExtraBytes = 64;
// Room for the characters and the terminator, with one byte to spare.
constexpr int kMaxExtraLength = kExtraBytes - 2;
char g_extra[kExtraBytes];
bool g_extra_made = false;

}  // namespace

bool atr_i18nTesting() {
  if (g_testing == Decision::kUndecided) {
    bool on = std::getenv("KOVRIN_LANG") != nullptr && std::getenv("KVN_QA_PRINT") != nullptr &&
              std::getenv("JRT_DICT_DIR") != nullptr;
    g_testing = on ? Decision::kOn : Decision::kOff;
  }
  return g_testing == Decision::kOn;
}

char const* atr_i18nExtraCharacters() {
  if (!g_extra_made) {
    g_extra_made = true;
    int length = atr_utf8_to_encoding(atr_EncodingLocale, nullptr, kExtraCharactersUtf8, 0);
    if (length >= 1 && length <= kMaxExtraLength) {
      atr_utf8_to_encoding(atr_EncodingLocale, g_extra, kExtraCharactersUtf8, 0);
    }
  }
  return g_extra;
}
