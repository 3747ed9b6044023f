#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "plat/environment.h"
#include "varururor/atr/locale.h"
#include "varururor/atr/string_base_prv.h"
#include "varururor/mem/allocation.h"
#include "varururor/mem/operators.h"

namespace {

// Paths are built with "/"; a "\" written in a variable is read as one.
constexpr char kSeparator = '/';
constexpr char kForeignSeparator = '\\';
constexpr char kListSeparator = ';';
constexpr char kDefaultDictionary[] = "/Configuration/Xresources/en_US/en_US_Dict.py";
// Tried in this order for everything until one is accepted.
constexpr char const* kBaseLocales[] = {"en", "en_US", "English_United States.1252", "C"};
constexpr char kLocaleEntryName[] = "KVN_LC_ALL=";
constexpr int kLocaleEntryBytes = 4096;

// The environment entry for KVN_LC_ALL, as the C library's _putenv is handed it.
char g_locale_entry[kLocaleEntryBytes];

// A terminated text in a block of the allocation front end, freed with the object.
class Text {
 public:
  explicit Text(unsigned int capacity)
      : text_(static_cast<char*>(mem_OperatorNewThrowBuiltin(capacity + 1))), length_(0) {
    text_[0] = 0;
  }
  ~Text() { mem_Free(text_); }
  Text(Text const&) = delete;
  Text& operator=(Text const&) = delete;

  // The caller made room for it.
  void Append(char const* s, unsigned int n) {
    std::memcpy(text_ + length_, s, n);
    length_ += n;
    text_[length_] = 0;
  }
  void Append(char const* s) { Append(s, std::strlen(s)); }
  void Truncate(unsigned int length) {
    length_ = length;
    text_[length_] = 0;
  }
  void UseSeparators() {
    for (unsigned int i = 0; i < length_; ++i) {
      if (text_[i] == kForeignSeparator) text_[i] = kSeparator;
    }
  }
  char const* text() const { return text_; }
  unsigned int length() const { return length_; }

 private:
  char* text_;
  unsigned int length_;
};

char const* OrEmpty(char const* s) { return s == nullptr ? "" : s; }

// Chooses the locale; returns the dictionary's name relative to a search directory.
void ChooseLocale(char const* dictionary, Text* relative) {
  for (char const* name : kBaseLocales) {
    if (std::setlocale(LC_ALL, name) != nullptr) break;
  }
  std::setlocale(LC_CTYPE, OrEmpty(std::getenv("KOVRIN_LANG")));
  // Numbers are always written and read with a decimal point.
  std::setlocale(LC_NUMERIC, "C");
  relative->Append(&kSeparator, 1);
  relative->Append(dictionary);
  relative->UseSeparators();
}

void PublishLocale() {
  std::snprintf(g_locale_entry, sizeof g_locale_entry, "%s%s", kLocaleEntryName,
                OrEmpty(std::setlocale(LC_ALL, nullptr)));
  plat::PutEnvironment(g_locale_entry);
}

// Tries each directory of the list with the relative name; fills name with the first
// file that opens.
bool Search(char const* directories, Text const& relative, Text* name) {
  char const* p = directories;
  while (*p != 0) {
    char const* end = std::strchr(p, kListSeparator);
    if (end == nullptr) end = p + std::strlen(p);
    if (end > p) {
      name->Truncate(0);
      name->Append(p, static_cast<unsigned int>(end - p));
      name->UseSeparators();
      unsigned int length = name->length();
      while (length > 0 && name->text()[length - 1] == kSeparator) --length;
      name->Truncate(length);
      name->Append(relative.text(), relative.length());
      if (std::FILE* file = std::fopen(name->text(), "r")) {
        // A directory opens here but cannot be read (where the original platform refuses
        // to open it): the search passes over it.
        bool readable = std::fgetc(file) != EOF || !std::ferror(file);
        std::fclose(file);
        if (readable) return true;
      }
    }
    p = *end == 0 ? end : end + 1;
  }
  return false;
}

}  // namespace

bool atr_setlocale(atr_StringBase* path) {
  char const* dictionary = std::getenv("KOVRIN_TRANSLATION_DICTIONARY");
  bool choose = std::getenv("KOVRIN_SUPPORTED_LOCALE") != nullptr && dictionary != nullptr;
  Text relative(choose ? 1 + std::strlen(dictionary) : sizeof kDefaultDictionary - 1);
  if (choose) {
    ChooseLocale(dictionary, &relative);
  } else {
    relative.Append(kDefaultDictionary);
  }
  PublishLocale();

  char const* kov_path = std::getenv("KOV_PATH");
  if (kov_path == nullptr) return false;
  char const* dict_dir = std::getenv("JRT_DICT_DIR");
  unsigned int list_length = std::strlen(kov_path);
  if (dict_dir != nullptr) list_length += std::strlen(dict_dir) + 1;
  Text directories(list_length);
  if (dict_dir != nullptr) {
    directories.Append(dict_dir);
    directories.Append(&kListSeparator, 1);
  }
  directories.Append(kov_path);

  // No directory is longer than the whole list.
  Text name(list_length + relative.length());
  if (!Search(directories.text(), relative, &name)) return false;
  if (path != nullptr) atr_StringBasePrv(name.text()).AssignTo(*path);
  return true;
}
