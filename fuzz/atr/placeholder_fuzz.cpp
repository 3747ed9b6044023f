// libFuzzer drives message translation: the input up to its first NUL is the message,
// the bytes after it a script of substitutions (every value type, numbers in and out of
// range, formats of AddSubstitution's own). The placeholders found must be numbered
// 1..count without gaps, and the result is built; the sanitizers catch anything read or
// written out of bounds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "varururor/atr/translate.h"

namespace {

void Expect(bool condition, char const* what) {
  if (condition) return;
  std::fprintf(stderr, "placeholder_fuzz: %s\n", what);
  std::abort();
}

// Reads the script's bytes; 0 once it is used up.
class Script {
 public:
  Script(std::uint8_t const* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const { return position_ >= size_; }
  std::uint8_t Byte() { return done() ? 0 : data_[position_++]; }
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

 private:
  std::uint8_t const* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  if (size == 0) return 0;
  std::uint8_t const* end = static_cast<std::uint8_t const*>(std::memchr(data, 0, size));
  std::size_t message_length = end != nullptr ? static_cast<std::size_t>(end - data) : size;
  std::string message(reinterpret_cast<char const*>(data), message_length);
  Script script(data + message_length, size - message_length);

  atr_translate t(message.c_str());
  int count = 0;
  while (t.Format(count + 1) != nullptr) ++count;
  Expect(t.Format(0) == nullptr && t.Format(count + 2) == nullptr, "numbering has a gap");

  while (!script.done()) {
    int n = static_cast<int>(script.Byte() % (count + 3)) - 1;
    switch (script.Byte() % 11) {
      case 0:
        atr_SubstituteFormat(t, n, static_cast<int>(script.Word()));
        break;
      case 1:
        atr_SubstituteFormat(t, n, script.Word());
        break;
      case 2:
        atr_SubstituteFormat(t, n, static_cast<long long>(script.Word()) << 31);
        break;
      case 3:
        atr_SubstituteFormat(t, n, static_cast<unsigned long long>(script.Word()) * 4294967311ULL);
        break;
      case 4: {
        std::uint32_t bits = script.Word();
        double value;
        std::uint64_t wide = (static_cast<std::uint64_t>(bits) << 32) | script.Word();
        std::memcpy(&value, &wide, sizeof value);
        atr_SubstituteFormat(t, n, value);
        break;
      }
      case 5:
        atr_SubstituteFormat(t, n, static_cast<float>(static_cast<int>(script.Word())) / 7.0f);
        break;
      case 6:
        atr_SubstituteFormat(t, n, script.Text().c_str());
        break;
      case 7:
        atr_SubstituteFormat(t, n, static_cast<char const*>(nullptr));
        break;
      case 8:
        atr_SubstituteFormat(t, n, reinterpret_cast<void const*>(script.Word()));
        break;
      case 9: {
        std::string value = script.Text();
        std::string format = script.Text();
        t.AddSubstitution(n, value.c_str(), format.empty() ? nullptr : format.c_str());
        break;
      }
      default:
        t.AddSubstitution(n, nullptr, "%");
        break;
    }
  }
  atr_String result = t.Result();
  Expect(std::strlen(result.CStr()) <= result.Length(), "length past the terminator");
  atr_String raw = atr_raw(message.c_str());
  Expect(raw.Length() <= message.size(), "raw text grew in the C locale");
  return 0;
}
