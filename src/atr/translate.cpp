#include "varururor/atr/translate.h"

#include <climits>
#include <cstring>
#include <new>

#include "atr/message_lookup.h"
#include "atr/placeholders.h"
#include "varururor/mem/allocation.h"
#include "varururor/mem/operators.h"

namespace {

// A text placeholder pads to at most this width, as a formatted number is at most this
// long: a garbled dictionary entry cannot ask for gigabytes of spaces.
constexpr int kMaxFieldWidth = 1023;
constexpr int kDecimalBase = 10;
constexpr int kExponentDigits = 3;

// Fills the template and the argument entries while the scanner walks the text.
class TemplateBuilder : public atr::PlaceholderSink {
 public:
  TemplateBuilder(char* out, atr_translate::StrArgs* arguments, int& count)
      : out_(out), arguments_(arguments), count_(count) {}

  void Literal(char const* text, int length) override {
    std::memcpy(out_, text, length);
    out_ += length;
  }

  void Slot(int position, char const* flags, int flags_length, char letter) override {
    *out_++ = 0;
    // Counted as soon as it is built, so that the destructor frees it if a later
    // allocation throws.
    atr_translate::StrArgs* argument = new (&arguments_[count_]) atr_translate::StrArgs;
    ++count_;
    argument->position = position;
    argument->format = static_cast<char*>(mem_OperatorNewThrowBuiltin(flags_length + 3));
    atr::StoredFormat(argument->format, flags, flags_length, letter);
  }

  char* end() const { return out_; }

 private:
  char* out_;
  atr_translate::StrArgs* arguments_;
  int& count_;
};

void FreeAll(int count, atr_translate::StrArgs* arguments, atr_translate::StrArgs** order,
             char* piece_text) {
  for (int i = 0; i < count; ++i) arguments[i].~StrArgs();
  mem_Free(arguments);
  mem_Free(order);
  mem_Free(piece_text);
}

// sscanf's "%d": an optional sign and digits (saturating); false when there are none.
bool ReadInt(char const* p, int* value, char const** after) {
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (*p < '0' || *p > '9') return false;
  int n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    int digit = *p - '0';
    n = n > (INT_MAX - digit) / kDecimalBase ? INT_MAX : n * kDecimalBase + digit;
  }
  *value = negative ? -n : n;
  *after = p;
  return true;
}

// value laid out by a string conversion "%[-][width][.precision]<letter>".
char* Justify(char const* value, char const* format) {
  bool left = format[1] == '-';
  char const* rest = format + (left ? 2 : 1);
  int width = -1;
  int precision = -1;
  char const* after;
  if (*rest == '.') {
    ReadInt(rest + 1, &precision, &after);
  } else if (ReadInt(rest, &width, &after) && *after == '.') {
    ReadInt(after + 1, &precision, &after);
  }
  int length = static_cast<int>(std::strlen(value));
  // A negative precision counts as none, as printf reads one.
  if (precision < 0 || precision > length) precision = length;
  if (width > kMaxFieldWidth) width = kMaxFieldWidth;
  int padding = width > precision ? width - precision : 0;
  char* text = static_cast<char*>(mem_OperatorNewThrowBuiltin(precision + padding + 1));
  char* p = text;
  if (!left) {
    std::memset(p, ' ', padding);
    p += padding;
  }
  std::memcpy(p, value, precision);
  p += precision;
  if (left) {
    std::memset(p, ' ', padding);
    p += padding;
  }
  *p = 0;
  return text;
}

char* Copy(char const* value) {
  unsigned int length = std::strlen(value);
  char* text = static_cast<char*>(mem_OperatorNewThrowBuiltin(length + 1));
  std::memcpy(text, value, length + 1);
  return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A block of scratch space, freed when it goes out of scope.
struct ScopedBlock {
  explicit ScopedBlock(unsigned int bytes) : block(mem_OperatorNewThrowBuiltin(bytes)) {}
  ~ScopedBlock() { mem_Free(block); }
  ScopedBlock(ScopedBlock const&) = delete;
  ScopedBlock& operator=(ScopedBlock const&) = delete;

  void* block;
};

}  // namespace

atr_translate::StrArgs::StrArgs() : position(0), format(nullptr), value(nullptr) {}

atr_translate::StrArgs::~StrArgs() {
  mem_Free(format);
  mem_Free(value);
}

atr_translate::atr_translate(char const* message)
    : message_(message), count_(0), arguments_(nullptr), order_(nullptr), template_(nullptr) {
  if (message == nullptr) return;
  try {
    atr::MessageText found(message);
    char const* text = found.text();
    int length = found.length();
    // No piece grows: each placeholder (two bytes at least) becomes one separator.
    template_ = static_cast<char*>(mem_OperatorNewThrowBuiltin(length + 1));
    int bound = atr::CountPlaceholderBound(text, length);
    if (bound == 0) {
      // No "%" that could start a placeholder: the text is used as it stands, a final "%"
      // and every "%%" included ("Progress: 100%").
      std::memcpy(template_, text, length);
      template_[length] = 0;
      return;
    }
    arguments_ = static_cast<StrArgs*>(mem_OperatorNewThrowBuiltin(bound * sizeof(StrArgs)));
    TemplateBuilder builder(template_, arguments_, count_);
    atr::ScanPlaceholders(text, length, builder);
    *builder.end() = 0;
    if (count_ == 0) return;

    bool all_numbered = true;
    for (int i = 0; i < count_; ++i)
      all_numbered = all_numbered && arguments_[i].position != atr::kUnnumbered;
    if (!all_numbered) {
      ScopedBlock positions_block(count_ * sizeof(int));
      int* positions = static_cast<int*>(positions_block.block);
      for (int i = 0; i < count_; ++i) positions[i] = arguments_[i].position;
      atr::NumberPlaceholders(positions, count_);
      for (int i = 0; i < count_; ++i) arguments_[i].position = positions[i];
    }

    order_ = static_cast<StrArgs**>(mem_OperatorNewThrowBuiltin(count_ * sizeof(StrArgs*)));
    bool sorted = true;
    for (int i = 0; i < count_; ++i) {
      order_[i] = &arguments_[i];
      if (i > 0 && arguments_[i].position < arguments_[i - 1].position) sorted = false;
    }
    if (sorted) return;
    // Shell sort with gaps count/2, count/4, ..., 1; equal positions keep the order this
    // sort leaves them in.
    for (int gap = count_ / 2; gap > 0; gap /= 2) {
      for (int i = gap; i < count_; ++i) {
        StrArgs* moving = order_[i];
        int j = i;
        for (; j >= gap && compare(&moving, &order_[j - gap]) < 0; j -= gap) {
          order_[j] = order_[j - gap];
        }
        order_[j] = moving;
      }
    }
  } catch (...) {
    FreeAll(count_, arguments_, order_, template_);
    throw;
  }
}

atr_translate::~atr_translate() { FreeAll(count_, arguments_, order_, template_); }

int atr_translate::compare(void const* a, void const* b) {
  return (*static_cast<StrArgs* const*>(a))->position -
         (*static_cast<StrArgs* const*>(b))->position;
}

void atr_translate::ReportIllegalPosition(int) const {}

char const* atr_translate::Format(int n) const {
  if (n < 1 || n > count_) return nullptr;
  return order_[n - 1]->format;
}

void atr_translate::AddSubstitution(int n, char const* value, char const* format) {
  if (n < 1 || n > count_) {
    ReportIllegalPosition(n);
    return;
  }
  if (value == nullptr) value = "";
  bool as_is = format == nullptr || format[0] == 0 || format[1] == 's';
  char* text = as_is ? Copy(value) : Justify(value, format);
  StrArgs* argument = order_[n - 1];
  mem_Free(argument->value);
  argument->value = text;
}

atr_String atr_translate::Result() const {
  if (template_ == nullptr) return atr_String();
  if (count_ == 0) return atr_String(template_);
  unsigned int total = 0;
  char const* piece = template_;
  for (int i = 0; i <= count_; ++i) {
    unsigned int length = std::strlen(piece);
    total += length;
    if (i < count_ && arguments_[i].value != nullptr) total += std::strlen(arguments_[i].value);
    piece += length + 1;
  }
  atr_String result;
  if (total == 0) return result;
  result.isolate(static_cast<int>(total));
  char* out = &result[0];
  piece = template_;
  for (int i = 0; i <= count_; ++i) {
    unsigned int length = std::strlen(piece);
    std::memcpy(out, piece, length);
    out += length;
    piece += length + 1;
    if (i < count_ && arguments_[i].value != nullptr) {
      unsigned int value_length = std::strlen(arguments_[i].value);
      std::memcpy(out, arguments_[i].value, value_length);
      out += value_length;
    }
  }
  *out = 0;
  result.SetStringLength(static_cast<int>(total));
  return result;
}

void atr_translate::FixExponent(char* s) {
  if (s == nullptr) return;
  char* e = std::strchr(s, 'e');
  if (e == nullptr || (e[1] != '+' && e[1] != '-')) return;
  char* digits = e + 2;
  for (int i = 0; i < kExponentDigits; ++i) {
    if (!IsDigit(digits[i])) return;
  }
  if (IsDigit(digits[kExponentDigits]) || digits[0] != '0') return;
  std::memmove(digits, digits + 1, std::strlen(digits + 1) + 1);
}
