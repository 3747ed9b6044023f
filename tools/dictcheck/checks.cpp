#include "checks.h"

#include <algorithm>
#include <clocale>
#include <cstring>
#include <map>
#include <string>

#include "atr/dictionary_reader.h"
#include "atr/placeholders.h"
#include "varururor/atr/encoding.h"

namespace dictcheck {

namespace {

// Identity entries and placeholders are judged on the UTF-8 text as written, where a
// character is never replaced.
constexpr char kNeutralLocale[] = "C.UTF-8";
constexpr char kSignedLetters[] = "d";
constexpr char kUnsignedLetters[] = "ouxX";
constexpr char kFloatingLetters[] = "eEfg";

// Sets LC_CTYPE for the life of the object.
class CharacterLocale {
 public:
  explicit CharacterLocale(char const* name) : saved_(std::setlocale(LC_CTYPE, nullptr)) {
    ok_ = std::setlocale(LC_CTYPE, name) != nullptr;
  }
  ~CharacterLocale() { std::setlocale(LC_CTYPE, saved_.c_str()); }
  bool ok() const { return ok_; }

 private:
  std::string saved_;
  bool ok_;
};

std::string Quoted(char const* text) { return "\"" + Printable(text, std::strlen(text)) + "\""; }

// What kind of value a conversion letter prints: placeholders of one kind print a value
// alike, as gettext's format check tells C formats apart.
char const* KindOf(char letter) {
  if (std::strchr(kSignedLetters, letter) != nullptr) return "a signed integer";
  if (std::strchr(kUnsignedLetters, letter) != nullptr) return "an unsigned integer";
  if (std::strchr(kFloatingLetters, letter) != nullptr) return "a floating-point number";
  if (letter == 'c') return "a character";
  return "a text";
}

// The placeholders of a text: the conversion letters by placeholder number, after the
// numbering translation applies, and the "%" sequences translation drops.
class Placeholders : public atr::PlaceholderSink {
 public:
  explicit Placeholders(std::string const& text) {
    int length = static_cast<int>(text.size());
    // Translation copies a text without any placeholder candidate as it stands.
    if (atr::CountPlaceholderBound(text.data(), length) == 0) return;
    atr::ScanPlaceholders(text.data(), length, *this);
    std::vector<int> numbers = positions_;
    if (!numbers.empty()) atr::NumberPlaceholders(numbers.data(), static_cast<int>(numbers.size()));
    for (size_t i = 0; i < numbers.size(); ++i) by_number[numbers[i]].push_back(letters_[i]);
  }

  void Literal(char const*, int) override {}
  void Slot(int position, char const*, int, char letter) override {
    positions_.push_back(position);
    letters_.push_back(letter);
  }
  void Dropped(char const* text, int length) override { dropped.emplace_back(text, length); }

  std::map<int, std::vector<char>> by_number;
  std::vector<std::string> dropped;

 private:
  std::vector<int> positions_;
  std::vector<char> letters_;
};

void ComparePlaceholders(std::string const& key, std::string const& value, int line,
                         std::vector<Finding>* findings) {
  Placeholders in_key(key);
  Placeholders in_value(value);
  std::string where = Quoted(key.c_str()) + ": ";
  for (std::string const& d : in_key.dropped) {
    findings->push_back({line, where + "the key has a malformed \"%\" sequence \"" + d +
                                   "\" that translation drops"});
  }
  for (std::string const& d : in_value.dropped) {
    findings->push_back({line, where + "the translation has a malformed \"%\" sequence \"" + d +
                                   "\" that translation drops"});
  }
  for (auto const& [number, letters] : in_value.by_number) {
    std::string name = "%" + std::to_string(number) + "$";
    auto found = in_key.by_number.find(number);
    if (found == in_key.by_number.end()) {
      findings->push_back({line, where + "the translation uses placeholder " + name +
                                     ", which the key does not have"});
      continue;
    }
    std::vector<char> const& key_letters = found->second;
    if (key_letters.size() != letters.size()) {
      findings->push_back({line, where + "the translation uses placeholder " + name + " " +
                                     std::to_string(letters.size()) + " times, the key " +
                                     std::to_string(key_letters.size())});
      continue;
    }
    for (size_t i = 0; i < letters.size(); ++i) {
      if (std::strcmp(KindOf(letters[i]), KindOf(key_letters[i])) != 0) {
        findings->push_back({line, where + "placeholder " + name + " prints " +
                                       KindOf(key_letters[i]) + " (%" + key_letters[i] +
                                       ") in the key but " + KindOf(letters[i]) + " (%" +
                                       letters[i] + ") in the translation"});
      }
    }
  }
  for (auto const& [number, letters] : in_key.by_number) {
    if (in_value.by_number.count(number) == 0) {
      findings->push_back({line, where + "the translation drops placeholder %" +
                                     std::to_string(number) + "$ of the key"});
    }
  }
}

// A line that holds the pieces of an entry but not the marker the loader looks for.
bool LooksLikeEntry(char const* line) {
  char const* p = line + std::strspn(line, " \t");
  if (*p == '#') return false;
  return std::strstr(p, "['") != nullptr && std::strstr(p, "r'") != nullptr;
}

bool IsQuote(char c) { return c == '\'' || c == '"'; }

// An assignment name[<quote>key<quote>] = [r]<quote>value in a form of Python other than
// the one the loader reads: what differs, or null when the line is no such assignment.
char const* OtherEntryForm(char const* line) {
  char const* p = line + std::strspn(line, " \t");
  if (*p == '#') return nullptr;
  char const* open = std::strchr(p, '[');
  if (open == nullptr || !IsQuote(open[1])) return nullptr;
  char const key_end[] = {open[1], ']', '\0'};
  char const* close = std::strstr(open + 2, key_end);
  if (close == nullptr) return nullptr;
  char const* q = close + 2;
  q += std::strspn(q, " \t");
  if (*q != '=') return nullptr;
  ++q;
  q += std::strspn(q, " \t");
  bool raw = *q == 'r' || *q == 'R';
  if (raw) ++q;
  if (!IsQuote(*q)) return nullptr;
  if (open[1] == '"' || *q == '"') {
    return "written with double quotes: the loader reads only name['key'] = r'translation': "
           "ignored";
  }
  if (!raw) {
    return "the translation has no r prefix: the loader reads only name['key'] = "
           "r'translation': ignored";
  }
  return nullptr;
}

struct Stored {
  std::string key;
  std::string value;
  int line;
};

class EntryChecks : public atr::DictionaryListener {
 public:
  explicit EntryChecks(std::vector<Finding>* findings) : findings_(findings) {}

  void Piece(atr::DictionaryLines& lines, atr::LineKind kind) override {
    int line = lines.line_number();
    if (line == continued_line_) return;
    char const* text = lines.text();
    int text_length = static_cast<int>(std::strlen(text));
    if (!lines.ends_line()) {
      continued_line_ = line;
      Add(line, "the line is longer than " + std::to_string(atr::kDictionaryLineBytes - 1) +
                    " bytes: the loader reads it in pieces, each as a line of its own");
      return;
    }
    if (text_length < lines.length()) {
      Add(line, "the line holds a NUL byte: the loader ignores the rest of it");
    }
    switch (kind) {
      case atr::LineKind::kNoKey:
        Add(line, "an entry without a key (no quote before \"'] = r'\"): ignored");
        break;
      case atr::LineKind::kNoClosingQuote:
        Add(line, "the translation does not end with a quote before the line end: ignored");
        break;
      case atr::LineKind::kOther:
        if (char const* form = OtherEntryForm(text)) {
          Add(line, form);
        } else if (LooksLikeEntry(text)) {
          Add(line, "not in the form name['key'] = r'translation' (spaces included): ignored");
        }
        break;
      case atr::LineKind::kEntry:
        break;
    }
  }

  void InvalidUtf8(char const* key, int line) override {
    Add(line, Quoted(key) + ": the translation is not valid UTF-8: skipped with a warning");
  }

  void Identity(char const* key, int line) override {
    Add(line, Quoted(key) + ": the translation is the key itself: not stored");
  }

  bool ChecksRepresentable() const override { return false; }
  void NotRepresentable(char const*, int) override {}

  void Entry(char const* key, int key_length, char const* value, int value_length, int,
             int line) override {
    ++entries_;
    if (key_length == 0) {
      Add(line, "the key is empty: the translation would stand for every empty message");
    }
    if (static_cast<int>(std::strlen(key)) < key_length) {
      Add(line, Quoted(key) + ": an escape in the key makes a NUL byte: the key ends there");
    }
    if (static_cast<int>(std::strlen(value)) < value_length) {
      Add(line, Quoted(key) + ": an escape in the translation makes a NUL byte: it ends there");
    }
    stored_.push_back({key, value, line});
    ComparePlaceholders(key, value, line, findings_);
  }

  // The entries the loader stores.
  int entries() const { return entries_; }

  // Keys given more than once with different translations: which one translation finds
  // is not defined.
  void CheckDuplicates() {
    std::stable_sort(stored_.begin(), stored_.end(),
                     [](Stored const& a, Stored const& b) { return a.key < b.key; });
    for (size_t i = 1; i < stored_.size(); ++i) {
      size_t first = i - 1;
      while (first > 0 && stored_[first - 1].key == stored_[i].key) --first;
      if (stored_[first].key != stored_[i].key) continue;
      bool differs = false;
      for (size_t j = first; j < i; ++j) differs = differs || stored_[j].value != stored_[i].value;
      if (differs) {
        Add(stored_[i].line,
            Quoted(stored_[i].key.c_str()) +
                ": the key is given again with a different translation (first on line " +
                std::to_string(stored_[first].line) + ")");
      }
    }
  }

 private:
  void Add(int line, std::string message) { findings_->push_back({line, std::move(message)}); }

  std::vector<Finding>* findings_;
  std::vector<Stored> stored_;
  int continued_line_ = 0;
  int entries_ = 0;
};

class RepresentableChecks : public atr::DictionaryListener {
 public:
  RepresentableChecks(char const* locale, std::vector<Finding>* findings)
      : locale_(locale), findings_(findings) {}

  void InvalidUtf8(char const*, int) override {}
  bool ChecksRepresentable() const override { return true; }
  void NotRepresentable(char const* key, int line) override {
    findings_->push_back({line, Quoted(key) + ": the translation has characters that locale " +
                                    locale_ + " cannot show: they become '?'"});
  }
  void Entry(char const*, int, char const*, int, int, int) override {}

 private:
  std::string locale_;
  std::vector<Finding>* findings_;
};

}  // namespace

std::string Printable(char const* text, int length) {
  std::string out;
  for (int i = 0; i < length;) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int n = atr_utf8_len(reinterpret_cast<unsigned char const*>(text + i));
    bool whole =
        n > 1 && i + n <= length &&
        atr_utf8_to_ucs4(reinterpret_cast<unsigned char const*>(text + i), nullptr) != 0xFFFFFFFFu;
    if (whole) {
      out.append(text + i, n);
      i += n;
      continue;
    }
    static char const kNamed[] = "\a\b\f\n\r\t\v";
    static char const kLetters[] = "abfnrtv";
    char const* named = c != 0 ? std::strchr(kNamed, c) : nullptr;
    if (named != nullptr) {
      out += '\\';
      out += kLetters[named - kNamed];
    } else if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  return out;
}

int CheckEntries(std::FILE* file, std::vector<Finding>* findings) {
  CharacterLocale neutral(kNeutralLocale);
  atr::DictionaryLines lines(file);
  EntryChecks checks(findings);
  atr::ReadEntries(lines, checks);
  checks.CheckDuplicates();
  return checks.entries();
}

bool CheckRepresentable(std::FILE* file, char const* locale, std::vector<Finding>* findings) {
  CharacterLocale chosen(locale);
  if (!chosen.ok()) return false;
  std::rewind(file);
  atr::DictionaryLines lines(file);
  RepresentableChecks checks(locale, findings);
  atr::ReadEntries(lines, checks);
  return true;
}

}  // namespace dictcheck
