// The checks dictcheck makes on one dictionary file, with the library's own reader and
// placeholder parser, so that it reports exactly what the loader and translation do.
#ifndef VARURUROR_TOOLS_DICTCHECK_CHECKS_H
#define VARURUROR_TOOLS_DICTCHECK_CHECKS_H

#include <cstdio>
#include <string>
#include <vector>

namespace dictcheck {

struct Finding {
  int line;
  std::string message;
};

// Reads the file (open, at its start) as the loader does under a UTF-8 locale and adds a
// finding for every line the loader skips or would warn about, every entry whose
// placeholders do not match its key's, every key given twice with different translations
// and every entry that translates to its key. Returns the number of entries the loader
// stores. Leaves LC_CTYPE as it found it.
int CheckEntries(std::FILE* file, std::vector<Finding>* findings);

// Reads the file again under the locale and adds a finding for every translation that the
// locale's encoding cannot show in full. False when the locale is not installed.
bool CheckRepresentable(std::FILE* file, char const* locale, std::vector<Finding>* findings);

// A text for a report: control characters and bytes that are no UTF-8 escaped as in C.
std::string Printable(char const* text, int length);

}  // namespace dictcheck

#endif
