// The text services on one input: byte 0 picks the locale, the site and whether the rest is a
// dictionary to load; the text up to the first NUL is converted and translated with the bytes
// after it as a script of substitutions. Nothing may overrun or leak; conversions must agree.
#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "varururor/atr/dictionary.h"
#include "varururor/atr/encoding.h"
#include "varururor/atr/translate.h"

namespace {

// Locales with every kind of encoding: ASCII, UTF-8, one byte, and multi-byte.
constexpr char const* kLocales[] = {"C", "C.UTF-8", "fr_FR.ISO-8859-1", "ja_JP.EUC-JP"};
constexpr int kEncodings[] = {
    atr_EncodingNone, atr_EncodingLocale, atr_EncodingUtf8, atr_EncodingLatin1, 4, -1};
constexpr char kDictionary[] = "fuzz_Dict.py";
constexpr char kMarker[] = "'] = r'";

std::filesystem::path g_directory;
std::string g_file;
// Standard error itself; the stream stderr names is silenced, with the loader's warnings.
std::FILE* g_report = stderr;

void Expect(bool condition, char const* what) {
  if (condition) return;
  std::fprintf(g_report, "text_fuzz: %s\n", what);
  std::abort();
}

// Measures, then converts into a block of that size, so the sanitizer sees any overrun;
// a refused conversion gives the empty text.
std::vector<unsigned char> Convert(bool to, int enc, unsigned char const* text, char repl,
                                   int* result) {
  *result = to ? atr_utf8_to_encoding(enc, nullptr, text, repl)
               : atr_utf8_from_encoding(nullptr, enc, text);
  if (*result < 0) return {0};
  std::vector<unsigned char> out(*result + 1);
  int written = to ? atr_utf8_to_encoding(enc, out.data(), text, repl)
                   : atr_utf8_from_encoding(out.data(), enc, text);
  Expect(written == *result && out[*result] == 0, "measure and write differ");
  return out;
}

void CheckEncodings(unsigned char const* s) {
  bool utf8 = atr_encoding_validate(atr_EncodingUtf8, s);
  int result;
  for (int enc : kEncodings) {
    atr_encoding_validate(enc, s);
    Convert(true, enc, s, 0, &result);
    Convert(false, enc, s, 0, &result);
    // With a replacement only invalid input fails, whatever the target.
    Convert(true, enc, s, '?', &result);
    Expect((result == atr_EncodingInvalidInput) == !utf8, "validity disagrees");
  }
  // Latin-1 reads any byte: to UTF-8 and back gives the text again.
  std::vector<unsigned char> back = Convert(false, atr_EncodingLatin1, s, 0, &result);
  back = Convert(true, atr_EncodingLatin1, back.data(), 0, &result);
  Expect(std::strcmp(reinterpret_cast<char const*>(back.data()),
                     reinterpret_cast<char const*>(s)) == 0,
         "Latin-1 round trip");
}

// Reads the script's bytes; 0 once it is used up.
struct Script {
  std::uint8_t const* at;
  std::uint8_t const* end;
  bool done() const { return at >= end; }
  std::uint8_t Byte() { return done() ? 0 : *at++; }
  std::uint32_t Word() {
    std::uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w = (w << 8) | Byte();
    return w;
  }
  // A short text from the script, without NUL bytes.
  std::string Text() {
    std::string text;
    for (int n = Byte() % 16; n > 0 && !done(); --n) {
      std::uint8_t b = Byte();
      if (b != 0) text += static_cast<char>(b);
    }
    return text;
  }
};

// One substitution for placeholder n, of the type and value the script says.
void Substitute(atr_translate& t, int n, Script& script) {
  int type = script.Byte() % 9;
  std::uint32_t w = script.Word();
  std::uint64_t bits = (static_cast<std::uint64_t>(w) << 32) | script.Word();
  double wide;
  std::memcpy(&wide, &bits, sizeof wide);
  if (type == 0) atr_SubstituteFormat(t, n, static_cast<int>(w));
  if (type == 1) atr_SubstituteFormat(t, n, w);
  if (type == 2) atr_SubstituteFormat(t, n, static_cast<long long>(w) << 31);
  if (type == 3) atr_SubstituteFormat(t, n, static_cast<unsigned long long>(w) * 4294967311ULL);
  if (type == 4) atr_SubstituteFormat(t, n, wide);
  if (type == 5) atr_SubstituteFormat(t, n, static_cast<float>(static_cast<int>(w)) / 7.0f);
  // An empty text or format from the script stands for none.
  std::string value = script.Text();
  std::string format = script.Text();
  if (type == 6) atr_SubstituteFormat(t, n, value.empty() ? nullptr : value.c_str());
  if (type == 7) atr_SubstituteFormat(t, n, reinterpret_cast<void const*>(w));
  if (type == 8) {
    t.AddSubstitution(n, value.empty() ? nullptr : value.c_str(),
                      format.empty() ? nullptr : format.c_str());
  }
}

// The placeholders found must be numbered 1..count without gaps; the result is built.
void Translate(std::string const& message, Script script) {
  atr_translate t(message.c_str());
  int count = 0;
  while (t.Format(count + 1) != nullptr) ++count;
  Expect(t.Format(0) == nullptr && t.Format(count + 2) == nullptr, "numbering has a gap");
  while (!script.done()) Substitute(t, static_cast<int>(script.Byte() % (count + 3)) - 1, script);
  atr_String result = t.Result();
  Expect(std::strlen(result.CStr()) <= result.Length(), "length past the terminator");
  atr_String raw = atr_raw(message.c_str());
  Expect(std::strlen(raw.CStr()) == raw.Length(), "raw text cut short");
}

// Translates each key, taken as the loader does: from the first quote to the marker.
void LookUpKeys(std::string const& text) {
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    std::string line = text.substr(start, end - start);
    std::size_t marker = line.find(kMarker);
    std::size_t quote = line.find('\'');
    if (marker == std::string::npos || quote >= marker) continue;
    // The rest of the line is the script of substitutions.
    auto const* rest = reinterpret_cast<std::uint8_t const*>(line.data()) + marker;
    Translate(line.substr(quote + 1, marker - quote - 1),
              Script{rest, rest + line.size() - marker});
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::random_device entropy;
  g_directory = std::filesystem::temp_directory_path() /
                ("atr_text_fuzz_" + std::to_string(entropy()) + std::to_string(entropy()));
  std::filesystem::create_directories(g_directory);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(g_directory, ignored);
  });
  g_file = (g_directory / kDictionary).string();
  setenv("KOV_PATH", g_directory.c_str(), 1);
  setenv("KOVRIN_SUPPORTED_LOCALE", "1", 1);
  setenv("KOVRIN_TRANSLATION_DICTIONARY", kDictionary, 1);
  stderr = std::fopen("/dev/null", "w");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  if (size == 0) return 0;
  if (g_file.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
  // Loading sets the locale's character type from KOVRIN_LANG as well.
  char const* locale = kLocales[data[0] % std::size(kLocales)];
  std::setlocale(LC_ALL, locale);
  setenv("KOVRIN_LANG", locale, 1);
  setenv("KOVRIN_SITE", data[0] & 0x80 ? "qdv" : "other", 1);
  std::string text(reinterpret_cast<char const*>(data + 1), size - 1);
  // Half the inputs skip the file, which costs far more than the rest.
  if (data[0] & 0x40) {
    std::ofstream(g_file, std::ios::binary | std::ios::trunc) << text;
    atr_tr_enable(true);
    // A second enable reads nothing.
    atr_tr_enable(true);
    LookUpKeys(text);
  }
  // The text up to its first NUL, in a block of its own size.
  std::vector<unsigned char> message(data + 1, data + 1 + std::strlen(text.c_str()));
  message.push_back(0);
  Translate(text.c_str(), Script{data + message.size(), data + size});
  atr_tr_enable(false);
  CheckEncodings(message.data());
  return 0;
}
