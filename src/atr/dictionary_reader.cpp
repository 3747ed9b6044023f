#include "atr/dictionary_reader.h"

#include <cstring>

#include "varururor/atr/encoding.h"
#include "varururor/mem/allocation.h"
#include "varururor/mem/operators.h"

namespace atr {

namespace {

// The file is read in blocks of this size and split into lines here.
constexpr int kBlockBytes = 64 * 1024;
constexpr char kEntryMarker[] = "'] = r'";
constexpr int kEntryMarkerLength = sizeof kEntryMarker - 1;
constexpr char kQuote = '\'';
constexpr char kBackslash = '\\';
constexpr char kDisplayReplacement = '?';
constexpr int kOctalBase = 8;
constexpr int kHexBase = 16;
constexpr int kMaxOctalDigits = 3;

bool IsOctalDigit(char c) { return c >= '0' && c <= '7'; }

// The value of a hexadecimal digit, or -1.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte of a one-letter escape, or -1.
int SimpleEscape(char c) {
  switch (c) {
    case '"':
      return 0x22;
    case '\'':
      return 0x27;
    case '\\':
      return 0x5C;
    case 'a':
      return 0x07;
    case 'b':
      return 0x08;
    case 'f':
      return 0x0C;
    case 'n':
      return 0x0A;
    case 'r':
      return 0x0D;
    case 't':
      return 0x09;
    case 'v':
      return 0x0B;
    default:
      return -1;
  }
}

}  // namespace

DictionaryLines::DictionaryLines(std::FILE* file)
    : file_(file),
      block_(static_cast<char*>(mem_OperatorNewThrowBuiltin(kBlockBytes))),
      block_fill_(0),
      block_position_(0),
      length_(0),
      ends_line_(false),
      line_number_(0),
      next_line_number_(1) {
  line_[0] = 0;
}

DictionaryLines::~DictionaryLines() { mem_Free(block_); }

bool DictionaryLines::Fill() {
  block_position_ = 0;
  block_fill_ = static_cast<int>(std::fread(block_, 1, kBlockBytes, file_));
  return block_fill_ > 0;
}

bool DictionaryLines::Next() {
  length_ = 0;
  bool line_feed = false;
  while (length_ < kDictionaryLineBytes - 1 && !line_feed) {
    if (block_position_ == block_fill_ && !Fill()) break;
    int room = kDictionaryLineBytes - 1 - length_;
    int available = block_fill_ - block_position_;
    int take = available < room ? available : room;
    char const* from = block_ + block_position_;
    char const* feed = static_cast<char const*>(std::memchr(from, '\n', take));
    if (feed != nullptr) {
      take = static_cast<int>(feed - from) + 1;
      line_feed = true;
    }
    std::memcpy(line_ + length_, from, take);
    length_ += take;
    block_position_ += take;
  }
  line_[length_] = 0;
  if (length_ == 0) return false;
  line_number_ = next_line_number_;
  // A piece without a line feed ends its line only when the file ends behind it.
  ends_line_ = line_feed || (block_position_ == block_fill_ && !Fill());
  if (ends_line_) ++next_line_number_;
  return true;
}

void DictionaryLines::Rewind() {
  std::rewind(file_);
  block_fill_ = block_position_ = 0;
  length_ = 0;
  line_[0] = 0;
  line_number_ = 0;
  next_line_number_ = 1;
}

LineKind SplitEntryLine(char* line, EntryLine* entry) {
  char* marker = std::strstr(line, kEntryMarker);
  if (marker == nullptr) return LineKind::kOther;
  // The marker starts with a quote, so the line's first quote is at the latest its own.
  char* first_quote = std::strchr(line, kQuote);
  if (first_quote == marker) return LineKind::kNoKey;
  char* value = marker + kEntryMarkerLength;
  char* end = value + std::strlen(value);
  if (end > value && end[-1] == '\n') --end;
  if (end > value && end[-1] == '\r') --end;
  if (end == value || end[-1] != kQuote) return LineKind::kNoClosingQuote;
  entry->key = first_quote + 1;
  entry->key_length = static_cast<int>(marker - entry->key);
  entry->value = value;
  entry->value_length = static_cast<int>(end - 1 - value);
  return LineKind::kEntry;
}

int ResolveEscapes(char* text, int length) {
  char* out = text;
  char const* p = text;
  char const* end = text + length;
  while (p < end) {
    if (*p != kBackslash) {
      *out++ = *p++;
      continue;
    }
    if (p + 1 == end) {
      // A backslash at the very end stays, and ends the text.
      *out++ = *p++;
      break;
    }
    char c = p[1];
    int simple = SimpleEscape(c);
    if (simple >= 0) {
      *out++ = static_cast<char>(simple);
      p += 2;
    } else if (IsOctalDigit(c)) {
      unsigned int value = 0;
      p += 1;
      for (int digits = 0; digits < kMaxOctalDigits && p < end && IsOctalDigit(*p); ++digits) {
        value = value * kOctalBase + static_cast<unsigned int>(*p++ - '0');
      }
      *out++ = static_cast<char>(value & 0xFF);
    } else if (c == 'x' && p + 2 < end && HexDigit(p[2]) >= 0) {
      // All the digits that follow count; only the low byte is kept, so the sum cannot
      // overflow when it is reduced at every step.
      unsigned int value = 0;
      p += 2;
      while (p < end && HexDigit(*p) >= 0) value = (value * kHexBase + HexDigit(*p++)) & 0xFF;
      *out++ = static_cast<char>(value);
    } else {
      *out++ = *p++;
      *out++ = *p++;
    }
  }
  *out = 0;
  return static_cast<int>(out - text);
}

int CountEntries(DictionaryLines& lines) {
  int count = 0;
  while (lines.Next()) {
    EntryLine entry;
    if (SplitEntryLine(lines.text(), &entry) != LineKind::kEntry) continue;
    entry.value[entry.value_length] = 0;
    if (atr_encoding_validate(atr_EncodingUtf8, entry.value)) ++count;
  }
  return count;
}

void ReadEntries(DictionaryLines& lines, DictionaryListener& listener) {
  while (lines.Next()) {
    EntryLine entry;
    LineKind kind = SplitEntryLine(lines.text(), &entry);
    listener.Piece(lines, kind);
    if (kind != LineKind::kEntry) continue;
    int line_number = lines.line_number();
    // Key and value become terminated texts in the line; the marker is no longer needed.
    entry.key[entry.key_length] = 0;
    entry.value[entry.value_length] = 0;
    int measured =
        atr_utf8_to_encoding(atr_EncodingLocale, nullptr, entry.value, kDisplayReplacement);
    if (measured < 0) {
      listener.InvalidUtf8(entry.key, line_number);
      continue;
    }
    if (measured == entry.key_length && entry.value_length >= entry.key_length &&
        std::memcmp(entry.value, entry.key, entry.key_length) == 0) {
      listener.Identity(entry.key, line_number);
      continue;
    }
    int key_length = ResolveEscapes(entry.key, entry.key_length);
    bool escaped = std::memchr(entry.value, kBackslash, entry.value_length) != nullptr;
    int value_length = ResolveEscapes(entry.value, entry.value_length);
    if (listener.ChecksRepresentable() &&
        atr_utf8_to_encoding(atr_EncodingLocale, nullptr, entry.value, 0) ==
            atr_EncodingNotRepresentable) {
      listener.NotRepresentable(entry.key, line_number);
    }
    // Escapes can make bytes that are no UTF-8, and change the converted length: a value
    // that had any is measured again.
    int converted = escaped ? atr_utf8_to_encoding(atr_EncodingLocale, nullptr, entry.value,
                                                   kDisplayReplacement)
                            : measured;
    if (converted < 0) {
      listener.InvalidUtf8(entry.key, line_number);
      continue;
    }
    listener.Entry(entry.key, key_length, entry.value, value_length, converted, line_number);
  }
}

}  // namespace atr
