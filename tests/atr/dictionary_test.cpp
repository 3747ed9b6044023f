// The translation dictionary, each case in a child process (the locale, environment and
// dictionary are process-wide) that prints "ok " per check that holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"
#include "locale_guard.h"
#include "scratch_directory.h"
#include "varururor/varururor.h"

namespace {

constexpr char kDefaultDictionary[] = "Configuration/Xresources/en_US/en_US_Dict.py";

void Check(std::string const& actual, std::string const& expected) {
  char const* format = actual == expected ? "ok " : "[%s] != [%s] ";
  std::fprintf(stderr, format, actual.c_str(), expected.c_str());
}

// The message translated, with placeholder 1 filled with "x" and 2 with 7.
std::string Shown(std::string const& message) {
  atr_translate t(message.c_str());
  atr_SubstituteFormat(t, 1, "x");
  atr_SubstituteFormat(t, 2, 7);
  atr_String result = t.Result();
  return std::string(result.CStr(), result.Length());
}

// The dictionary at relative below dir; locale selection on when lang is given.
void UseDictionary(ScratchDirectory const& dir, std::string const& relative,
                   std::string const& bytes, char const* lang) {
  for (char const* name : {"KOVRIN_SUPPORTED_LOCALE", "KOVRIN_TRANSLATION_DICTIONARY",
                           "KOVRIN_LANG", "JRT_DICT_DIR", "KOVRIN_SITE", "KVN_QA_PRINT"}) {
    unsetenv(name);
  }
  std::string file = lang == nullptr ? kDefaultDictionary : relative;
  std::replace(file.begin(), file.end(), '\\', '/');
  dir.Write(file, bytes);
  setenv("KOV_PATH", dir.path().c_str(), 1);
  if (lang == nullptr) return;
  setenv("KOVRIN_SUPPORTED_LOCALE", "1", 1);
  // A "\" in the variable is a directory separator.
  setenv("KOVRIN_TRANSLATION_DICTIONARY", relative.c_str(), 1);
  setenv("KOVRIN_LANG", lang, 1);
}

// Loads a sample in a locale and checks what is shown; warnings: the site's, as a pattern.
void ExpectShown(char const* sample, char const* locale, char const* warnings,
                 std::vector<std::pair<char const*, std::string>> const& shown) {
  if (!LocaleGuard().Use(locale)) GTEST_SKIP() << "locale " << locale << " is not installed";
  EXPECT_IN_CHILD(std::string("^") + (warnings == nullptr ? "" : warnings) + "(ok )+$",
                  {
                    ScratchDirectory dir;
                    std::string bytes = ReadFile(std::string(VR_ATR_DICTIONARIES) + "/" + sample);
                    UseDictionary(dir, "dictionaries\\" + std::string(sample), bytes, locale);
                    if (warnings != nullptr) setenv("KOVRIN_SITE", "qdv", 1);
                    atr_tr_enable(true);
                    for (auto const& [message, expected] : shown) Check(Shown(message), expected);
                    // Numbers keep the decimal point whatever the language.
                    Check(std::setlocale(LC_CTYPE, nullptr), locale);
                    Check(std::setlocale(LC_NUMERIC, nullptr), "C");
                    Check(std::getenv("KVN_LC_ALL"), std::setlocale(LC_ALL, nullptr));
                  })
      << sample << " in " << locale;
}

TEST(DictionaryLanguages, EachSampleInLocalesThatCanAndCannotShowIt) {
  ExpectShown("fr_FR_Dict.py", "fr_FR.ISO-8859-1", nullptr,
              {{"%1$d of %2$d elements selected", "x \xE9l\xE9ments s\xE9lectionn\xE9s sur 7"},
               {"Close\\@window", "Fermer la fen\xEAtre"},
               {"Line one\nLine two", "Premi\xE8re ligne\nDeuxi\xE8me ligne"},
               {"Japanese input", "Saisie en japonais : ??"}});
  ExpectShown("ja_JP_Dict.py", "ja_JP.EUC-JP", nullptr,
              {{"Open file", "\xA5\xD5\xA5\xA1\xA5\xA4\xA5\xEB\xA4\xF2\xB3\xAB\xA4\xAF"},
               {"Value %1$s of %2$d", "7 \xA4\xCE x"}});
  // At the site that asks, each entry the locale cannot show is reported, and still stored.
  ExpectShown("ja_JP_Dict.py", "fr_FR.ISO-8859-1",
              "(WARNING: atr: Failure encoding in the current locale\\.\n\"[^\"]+\"\n\n){8}",
              {{"Open", "??"}, {"Value %1$s of %2$d", "7 ? x"}});
}

// The search, then loading once (or giving up on a file without entries) until released.
TEST(DictionarySearch, DirectoriesInOrderAndReadOnceUntilReleased) {
  EXPECT_IN_CHILD("^(ok )+$", {
    ScratchDirectory dir;
    std::string base = dir.path();
    std::string c_file = "c/" + std::string(kDefaultDictionary);
    UseDictionary(dir, "", "", nullptr);
    for (char const* name : {"b", "c"}) {
      dir.Write(name + ("/" + std::string(kDefaultDictionary)),
                std::string("tr['Open %1$s'] = r'") + name + " %1$s'\n");
    }
    std::string locale_before = std::setlocale(LC_ALL, nullptr);
    // Empty entries and missing directories are skipped; trailing separators go; "\" is "/".
    setenv("KOV_PATH", (base + "/none;;" + base + "\\b\\\\;" + base).c_str(), 1);
    atr_String path;
    Check(atr_setlocale(&path) ? path.CStr() : "none", base + "/b/" + kDefaultDictionary);
    Check(std::setlocale(LC_ALL, nullptr), locale_before);
    // JRT_DICT_DIR comes first.
    setenv("JRT_DICT_DIR", (base + "/c").c_str(), 1);
    atr_tr_enable(true);
    atr_translate saved("Open %1$s");
    dir.Write(c_file, "tr['Open %1$s'] = r'Offnen %1$s'\n");
    atr_tr_enable(true);
    Check(Shown("Open %1$s"), "c x");
    atr_tr_enable(false);
    Check(Shown("Open %1$s"), "Open x");
    atr_SubstituteFormat(saved, 1, "y");
    Check(saved.Result().CStr(), "c y");
    atr_tr_enable(true);
    Check(Shown("Open %1$s"), "Offnen x");
    atr_trReleaseDB();
    dir.Write(c_file, "# nothing yet\n");
    atr_tr_enable(true);
    dir.Write(c_file, "tr['Open'] = r'Abrir'\n");
    atr_tr_enable(true);
    Check(Shown("Open"), "Open");
    atr_trReleaseDB();
    atr_trReleaseDB();
    int total = 0;
    UTI_VaruRuror_initialize(total);
    atr_tr_enable(true);
    Check(Shown("Open"), "Abrir");
    UTI_VaruRuror_finalize(total);
    Check(Shown("Open"), "Open");
    // A directory where the file should be does not count as the file.
    std::filesystem::create_directories(base + "/d/" + kDefaultDictionary);
    setenv("JRT_DICT_DIR", (base + "/d").c_str(), 1);
    unsetenv("KOV_PATH");
    Check(atr_setlocale(&path) ? "found" : "none", "none");
  });
}

// Every kind of damage in one file; a line over 8191 bytes is read in pieces, each a line.
TEST(DictionaryLoading, DamagedLinesAreSkippedAndTheRestLoads) {
  std::string file = "tr['Good'] = r'Bon'\n";
  file += "tr['Bad value'] = r'Mauvais \xC3\x28'\n";
  file += "tr['Escaped bad'] = r'x\\xC3y'\n";
  file += "tr['Trailing'] = r'ends with \\'\n";
  file += "m['It's'] = r'C'est'\r\n";
  file += "tr['Bad \xFF key'] = r'cle'\n";
  file += "tr['Long value'] = r'" + std::string(9000, 'v') + "'\n";
  file += std::string(8190, 'p') + "x'Hidden'] = r'Found'\n";
  file += "tr['Nul'] = r'before" + std::string(1, '\0') + "after'\n";
  file += "tr['No quote'] = r'missing\n";
  file += "tr['Tight']=r'no spaces'\n";
  file += "x'] = r'no key'\n";
  file += "tr['a'] = r'b'] = r'c'\n";
  file += "tr['Tab\\tstop'] = r'\\\"\\'\\\\\\a\\b\\f\\n\\r\\t\\v|\\101\\7\\501\\1234|";
  file += "\\x4a\\x1234567890abcdef41|\\xg\\q\\8\\x'\n";
  file += "tr['Last'] = r'Dernier'";
  EXPECT_IN_CHILD(
      "^WARNING: atr: Invalid UTF-8 string\\.\n\"Bad value\"\n\n"
      "WARNING: atr: Invalid UTF-8 string\\.\n\"Escaped bad\"\n\n(ok )+$",
      {
        ScratchDirectory dir;
        UseDictionary(dir, "", file, nullptr);
        atr_tr_enable(true);
        for (char const* untranslated :
             {"Bad value", "Escaped bad", "Long value", "Nul", "No quote", "Tight"}) {
          Check(Shown(untranslated), untranslated);
        }
        Check(Shown("Good"), "Bon");
        Check(Shown("Bad \xFF key"), "cle");
        Check(Shown("Trailing"), "ends with \\");
        Check(Shown("It's"), "C'est");
        Check(Shown("Hidden"), "Found");
        Check(Shown("a"), "b'] = r'c");
        Check(Shown("Tab\tstop"), "\"'\\\a\b\f\n\r\t\v|A\aAS4|JA|\\xg\\q\\8\\x");
        Check(Shown("Last"), "Dernier");
      });
}

}  // namespace
