#include "atr/dictionary_table.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "atr/dictionary_reader.h"
#include "varururor/atr/dictionary.h"
#include "varururor/atr/encoding.h"
#include "varururor/atr/locale.h"
#include "varururor/atr/string.h"
#include "varururor/mem/allocation.h"

namespace {

// One entry: pointers into one block that holds the key, its terminator, the value and
// its terminator.
struct TableEntry {
  char* key;
  char* value;
};
static_assert(sizeof(TableEntry) == 8, "key, then value");

// count: 0 not loaded; above 0 the entries; kGaveUp when a load found none.
constexpr int kGaveUp = -1;
TableEntry* g_table = nullptr;
int g_count = 0;

constexpr char kSiteVariable[] = "KOVRIN_SITE";
// The site whose users are told about translations their locale cannot show in full.
constexpr char kEncodingWarningSite[] = "qdv";
constexpr char kInvalidUtf8Warning[] = "WARNING: atr: Invalid UTF-8 string.\n";
constexpr char kEncodingWarning[] = "WARNING: atr: Failure encoding in the current locale.\n";
constexpr char kDisplayReplacement = '?';

void Warn(char const* warning, char const* key) {
  std::fputs(warning, stderr);
  std::fprintf(stderr, "\"%s\"\n\n", key);
}

int CompareKeys(void const* a, void const* b) {
  return std::strcmp(static_cast<TableEntry const*>(a)->key,
                     static_cast<TableEntry const*>(b)->key);
}

int CompareKeyWithEntry(void const* key, void const* entry) {
  return std::strcmp(static_cast<char const*>(key), static_cast<TableEntry const*>(entry)->key);
}

// Stores the entries the reader hands on, in a table sized by the first pass.
class Loader : public atr::DictionaryListener {
 public:
  Loader(TableEntry* table, int capacity, bool site_warnings)
      : table_(table), capacity_(capacity), stored_(0), site_warnings_(site_warnings) {}

  int stored() const { return stored_; }

  void InvalidUtf8(char const* key, int) override { Warn(kInvalidUtf8Warning, key); }
  bool ChecksRepresentable() const override { return site_warnings_; }
  void NotRepresentable(char const* key, int) override { Warn(kEncodingWarning, key); }

  void Entry(char const* key, int key_length, char const* value, int, int converted_length,
             int) override {
    // The file may have grown since it was counted: the table takes no more.
    if (stored_ == capacity_) return;
    char* block = static_cast<char*>(mem_Malloc(key_length + converted_length + 2));
    if (block == nullptr) return;
    std::memcpy(block, key, key_length);
    block[key_length] = 0;
    char* translation = block + key_length + 1;
    if (atr_utf8_to_encoding(atr_EncodingLocale, translation, value, kDisplayReplacement) < 0) {
      Warn(kInvalidUtf8Warning, key);
      mem_Free(block);
      return;
    }
    table_[stored_].key = block;
    table_[stored_].value = translation;
    ++stored_;
  }

 private:
  TableEntry* table_;
  int capacity_;
  int stored_;
  bool site_warnings_;
};

// Reads the file into a new table; returns the entries stored (the table stays null
// when there are none).
int Load(std::FILE* file) {
  atr::DictionaryLines lines(file);
  int capacity = atr::CountEntries(lines);
  if (capacity == 0) return 0;
  g_table = static_cast<TableEntry*>(mem_Calloc(capacity, sizeof(TableEntry)));
  if (g_table == nullptr) return 0;
  char const* site = std::getenv(kSiteVariable);
  bool site_warnings = site != nullptr && std::strcmp(site, kEncodingWarningSite) == 0;
  lines.Rewind();
  Loader loader(g_table, capacity, site_warnings);
  atr::ReadEntries(lines, loader);
  if (loader.stored() == 0) {
    mem_Free(g_table);
    g_table = nullptr;
  }
  return loader.stored();
}

// Closes the dictionary file also when reading it throws.
struct FileCloser {
  ~FileCloser() { std::fclose(file); }
  std::FILE* file;
};

}  // namespace

namespace atr {

char const* Translation(char const* key) {
  if (g_count <= 0 || key == nullptr) return nullptr;
  void const* found = std::bsearch(key, g_table, g_count, sizeof(TableEntry), CompareKeyWithEntry);
  return found == nullptr ? nullptr : static_cast<TableEntry const*>(found)->value;
}

}  // namespace atr

void atr_tr_enable(bool on) {
  if (!on) {
    atr_trReleaseDB();
    return;
  }
  if (g_count != 0) return;
  int stored = 0;
  atr_String name;
  if (atr_setlocale(&name)) {
    if (std::FILE* file = std::fopen(name.CStr(), "r")) {
      FileCloser closer{file};
      stored = Load(file);
    }
  }
  if (stored == 0) {
    g_count = kGaveUp;
    return;
  }
  std::qsort(g_table, stored, sizeof(TableEntry), CompareKeys);
  g_count = stored;
}

void atr_trReleaseDB() {
  for (int i = 0; i < g_count; ++i) mem_Free(g_table[i].key);
  mem_Free(g_table);
  g_table = nullptr;
  g_count = 0;
}
