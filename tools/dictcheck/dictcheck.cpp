// dictcheck: checks translation dictionaries for the people who write them.
//
//   dictcheck [--locale NAME]... FILE...
//
// Reads each file with the library's own dictionary reader and reports, as
// "FILE:LINE: message", every line the loader would skip or warn about, every entry
// whose placeholders differ from its key's (as gettext's msgfmt --check-format does for C
// formats), keys given twice with different translations, entries that translate to
// their key, and, for each --locale, translations that locale cannot show in full. A file
// without findings gets one line, "FILE: N entries, no findings".
// Exit status: 0 when every file is clean, 1 with findings, 2 when a file cannot be read
// or the command line is wrong.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "checks.h"

namespace {

constexpr int kClean = 0;
constexpr int kFindings = 1;
constexpr int kTrouble = 2;
constexpr char kLocaleOption[] = "--locale";

int Usage() {
  std::fprintf(stderr, "usage: dictcheck [--locale NAME]... FILE...\n");
  return kTrouble;
}

// Checks one file; returns its exit status.
int CheckFile(char const* name, std::vector<std::string> const& locales) {
  std::FILE* file = std::fopen(name, "r");
  if (file == nullptr) {
    std::fprintf(stderr, "dictcheck: cannot open %s: %s\n", name, std::strerror(errno));
    return kTrouble;
  }
  std::vector<dictcheck::Finding> findings;
  int entries = dictcheck::CheckEntries(file, &findings);
  bool unreadable = std::ferror(file) != 0;
  for (std::string const& locale : locales) {
    if (unreadable) break;
    if (!dictcheck::CheckRepresentable(file, locale.c_str(), &findings)) {
      std::fprintf(stderr, "dictcheck: locale %s is not installed\n", locale.c_str());
      std::fclose(file);
      return kTrouble;
    }
    unreadable = std::ferror(file) != 0;
  }
  std::fclose(file);
  if (unreadable) {
    std::fprintf(stderr, "dictcheck: cannot read %s\n", name);
    return kTrouble;
  }
  std::stable_sort(
      findings.begin(), findings.end(),
      [](dictcheck::Finding const& a, dictcheck::Finding const& b) { return a.line < b.line; });
  for (dictcheck::Finding const& f : findings) {
    std::printf("%s:%d: %s\n", name, f.line, f.message.c_str());
  }
  if (!findings.empty()) return kFindings;
  std::printf("%s: %d entries, no findings\n", name, entries);
  return kClean;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> locales;
  std::vector<char const*> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], kLocaleOption) == 0) {
      if (i + 1 == argc) return Usage();
      locales.push_back(argv[++i]);
    } else if (std::strncmp(argv[i], kLocaleOption, sizeof kLocaleOption - 1) == 0 &&
               argv[i][sizeof kLocaleOption - 1] == '=') {
      locales.push_back(argv[i] + sizeof kLocaleOption);
    } else if (argv[i][0] == '-' && argv[i][1] != 0) {
      return Usage();
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) return Usage();
  int status = kClean;
  for (char const* name : files) status = std::max(status, CheckFile(name, locales));
  return status;
}
