// libFuzzer drives the dictionary loader: the input's first byte picks the locale (and
// whether the site's encoding warnings are on), the rest is written as the dictionary file
// under a scratch KOV_PATH. The loader reads it, every key written in the input is looked
// up, a translation is built from each, and the table is released again. Nothing may be
// read or written out of bounds and nothing may leak; in an input without escapes, NUL
// bytes or carriage returns, every plain entry whose key occurs once must translate to
// its value.
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "varururor/atr/dictionary.h"
#include "varururor/atr/translate.h"

namespace {

constexpr char const* kLocales[] = {"C", "C.UTF-8", "fr_FR.ISO-8859-1", "ja_JP.EUC-JP"};
constexpr int kLocaleCount = sizeof kLocales / sizeof kLocales[0];
constexpr char kDictionary[] = "fuzz_Dict.py";
constexpr char kMarker[] = "'] = r'";
// Lines shorter than this are read whole (the reader's buffer is 8192 bytes).
constexpr std::size_t kPlainLineBytes = 8000;

std::filesystem::path g_directory;
std::string g_file;

void Expect(bool condition, char const* what) {
  if (condition) return;
  std::fprintf(stderr, "dictionary_fuzz: %s\n", what);
  std::abort();
}

bool IsPlain(std::string const& text) {
  for (char c : text) {
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!letter && c != ' ') return false;
  }
  return true;
}

// Looks up the text between each line's first quote and the marker, as the loader takes
// keys (before escapes are resolved, so escaped keys are simply not found), and builds a
// translation from it.
void LookUpKeys(std::string const& text) {
  bool checkable = text.find_first_of(std::string("\\\r\0", 3)) == std::string::npos;
  std::map<std::string, std::vector<std::string>> values;
  std::vector<std::pair<std::string, std::string>> plain;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    bool line_end = end != std::string::npos;
    if (!line_end) end = text.size();
    std::string line = text.substr(start, end - start);
    // Pieces of a long line are lines to the loader: keys may hide in them.
    if (line.size() >= kPlainLineBytes) checkable = false;
    std::size_t marker = line.find(kMarker);
    std::size_t quote = line.find('\'');
    if (marker != std::string::npos && quote < marker) {
      std::string key = line.substr(quote + 1, marker - quote - 1);
      std::string value = line.substr(marker + sizeof kMarker - 1);
      values[key].push_back(value);
      bool closed = !value.empty() && value.back() == '\'';
      if (closed) value.pop_back();
      if (closed && line_end && IsPlain(key) && IsPlain(value) && key != value) {
        plain.emplace_back(key, value);
      }
      atr_translate t(key.c_str());
      for (int n = 1; t.Format(n) != nullptr; ++n) atr_SubstituteFormat(t, n, n);
      atr_String result = t.Result();
      Expect(std::strlen(result.CStr()) == result.Length(), "translation length");
    }
    start = end + 1;
  }
  if (!checkable) return;
  for (auto const& [key, value] : plain) {
    if (values[key].size() != 1) continue;
    Expect(std::strcmp(atr_raw(key.c_str()).CStr(), value.c_str()) == 0, "plain entry not found");
  }
}

void RemoveDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(g_directory, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::random_device entropy;
  g_directory = std::filesystem::temp_directory_path() /
                ("atr_dictionary_fuzz_" + std::to_string(entropy()) + std::to_string(entropy()));
  std::filesystem::create_directories(g_directory);
  std::atexit(RemoveDirectory);
  g_file = (g_directory / kDictionary).string();
  setenv("KOV_PATH", g_directory.c_str(), 1);
  setenv("KOVRIN_SUPPORTED_LOCALE", "1", 1);
  setenv("KOVRIN_TRANSLATION_DICTIONARY", kDictionary, 1);
  // The loader's warnings about garbage would drown the fuzzer's own output. Sanitizer
  // reports are written to the descriptor, not through this stream.
  stderr = std::fopen("/dev/null", "w");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  if (size == 0) return 0;
  if (g_file.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
  setenv("KOVRIN_LANG", kLocales[data[0] % kLocaleCount], 1);
  if (data[0] & 0x80) {
    setenv("KOVRIN_SITE", "qdv", 1);
  } else {
    unsetenv("KOVRIN_SITE");
  }
  std::string text(reinterpret_cast<char const*>(data + 1), size - 1);
  {
    std::ofstream out(g_file, std::ios::binary | std::ios::trunc);
    out << text;
  }
  atr_tr_enable(true);
  // A second enable reads nothing.
  atr_tr_enable(true);
  LookUpKeys(text);
  atr_tr_enable(false);
  return 0;
}
