// The translation dictionary: real dictionaries (French, German, Japanese, in UTF-8) under
// a temporary KOV_PATH, loaded in locales that can and cannot show them, the file
// search, loading once, and files with every kind of damage. The locale, the environment
// and the dictionary are process-wide, so each case runs in a child process and prints
// "ok " for each check that holds (both texts spelled out for one that does not).
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "child_process.h"
#include "locale_guard.h"
#include "scratch_directory.h"
#include "varururor/varururor.h"

namespace {

#define SKIP_WITHOUT_LOCALE(name) \
  if (!LocaleInstalled(name))     \
  GTEST_SKIP() << "locale " << (name) << " is not installed (scripts/setup makes it)"

// The bytes of a sample dictionary of tests/atr/dictionaries.
std::string Sample(char const* name) {
  return ReadFile(std::string(VR_ATR_DICTIONARIES) + "/" + name);
}

constexpr char kDefaultDictionary[] = "Configuration/Xresources/en_US/en_US_Dict.py";

std::string Spell(std::string const& s) {
  std::string out;
  for (unsigned char c : s) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02X", c);
    out += buffer;
  }
  return out;
}

void Check(std::string const& actual, std::string const& expected) {
  if (actual == expected) {
    std::fputs("ok ", stderr);
  } else {
    std::fprintf(stderr, "[%s] != [%s] ", Spell(actual).c_str(), Spell(expected).c_str());
  }
}

std::string Text(atr_String const& s) { return std::string(s.CStr(), s.Length()); }
std::string Raw(char const* message) { return Text(atr_raw(message)); }

std::string ValueOf(char const* message, char const* text, int number) {
  atr_translate t(message);
  atr_SubstituteFormat(t, 1, text);
  atr_SubstituteFormat(t, 2, number);
  return Text(t.Result());
}

std::string Counts(char const* message, int first, int second) {
  atr_translate t(message);
  atr_SubstituteFormat(t, 1, first);
  atr_SubstituteFormat(t, 2, second);
  return Text(t.Result());
}

void ClearEnvironment() {
  for (char const* name :
       {"KOVRIN_SUPPORTED_LOCALE", "KOVRIN_TRANSLATION_DICTIONARY", "KOVRIN_LANG", "KOV_PATH",
        "JRT_DICT_DIR", "KOVRIN_SITE", "KVN_QA_PRINT"}) {
    unsetenv(name);
  }
}

// Locale selection on, the dictionary at relative below dir.
void UseDictionary(std::string const& dir, char const* relative, char const* lang) {
  ClearEnvironment();
  setenv("KOVRIN_SUPPORTED_LOCALE", "1", 1);
  setenv("KOVRIN_TRANSLATION_DICTIONARY", relative, 1);
  setenv("KOVRIN_LANG", lang, 1);
  setenv("KOV_PATH", dir.c_str(), 1);
}

TEST(DictionaryLanguages, FrenchInALatin1Locale) {
  SKIP_WITHOUT_LOCALE("fr_FR.ISO-8859-1");
  EXPECT_IN_CHILD("^(ok )+$", {
    ScratchDirectory dir;
    dir.Write("dictionaries/fr_FR_Dict.py", Sample("fr_FR_Dict.py"));
    // A "\" in the variable is a directory separator.
    UseDictionary(dir.path(), "dictionaries\\fr_FR_Dict.py", "fr_FR.ISO-8859-1");
    atr_tr_enable(true);
    Check(Raw("Open"), "Ouvrir");
    Check(Raw("Open file"), "Ouvrir le fichier");
    Check(Counts("%1$d of %2$d elements selected", 3, 10),
          "3 \xE9l\xE9ments s\xE9lectionn\xE9s sur 10");
    Check(ValueOf("Value %1$s of %2$d", "x", 7), "Valeur x sur 7");
    Check(Raw("Close\\@menu"), "Fermer");
    Check(Raw("Close\\@window"), "Fermer la fen\xEAtre");
    Check(Raw("Close\\@dialog"), "Close");
    Check(Raw("Line one\nLine two"), "Premi\xE8re ligne\nDeuxi\xE8me ligne");
    Check(Raw("It's done"), "C'est termin\xE9");
    Check(Text(atr_translate("Progress: 100%%").Result()), "Progression : 100 %%");
    Check(Raw("Japanese input"), "Saisie en japonais : ??");
    Check(Raw("Not in the dictionary"), "Not in the dictionary");
    // Numbers keep the decimal point whatever the language.
    atr_translate size("Size: %1$5.1f MB");
    atr_SubstituteFormat(size, 1, 2.5);
    Check(Text(size.Result()), "Taille :   2.5 Mo");
    Check(std::setlocale(LC_CTYPE, nullptr), "fr_FR.ISO-8859-1");
    Check(std::setlocale(LC_NUMERIC, nullptr), "C");
    Check(std::getenv("KVN_LC_ALL"), std::setlocale(LC_ALL, nullptr));
  });
}

TEST(DictionaryLanguages, GermanReordersPlaceholders) {
  SKIP_WITHOUT_LOCALE("de_DE.UTF-8");
  EXPECT_IN_CHILD("^(ok )+$", {
    ScratchDirectory dir;
    dir.Write("de/de_DE_Dict.py", Sample("de_DE_Dict.py"));
    UseDictionary(dir.path(), "de/de_DE_Dict.py", "de_DE.UTF-8");
    atr_tr_enable(true);
    Check(ValueOf("Value %1$s of %2$d", "x", 7), "7 von x");
    Check(Counts("%1$d of %2$d elements selected", 3, 10), "3 von 10 Elementen ausgew\xC3\xA4hlt");
    Check(Raw("Open file"),
          "Datei \xC3\xB6"
          "ffnen");
    Check(Raw("Street"),
          "Stra\xC3\x9F"
          "e");
    Check(Raw("Close\\@window"),
          "Fenster schlie\xC3\x9F"
          "en");
    // A translation object keeps its text when the dictionary goes.
    atr_translate saved("File %1$s saved");
    atr_trReleaseDB();
    atr_SubstituteFormat(saved, 1, "a.txt");
    Check(Text(saved.Result()), "Datei a.txt gespeichert");
    Check(Raw("Open file"), "Open file");
  });
}

TEST(DictionaryLanguages, JapaneseInUtf8AndEucJp) {
  SKIP_WITHOUT_LOCALE("ja_JP.UTF-8");
  SKIP_WITHOUT_LOCALE("ja_JP.EUC-JP");
  EXPECT_IN_CHILD("^(ok )+$", {
    ScratchDirectory dir;
    dir.Write("ja_JP_Dict.py", Sample("ja_JP_Dict.py"));
    UseDictionary(dir.path(), "ja_JP_Dict.py", "ja_JP.UTF-8");
    atr_tr_enable(true);
    Check(Raw("Open file"),
          "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92\xE9\x96\x8B\xE3\x81\x8F");
    Check(ValueOf("Value %1$s of %2$d", "x", 7), "7 \xE3\x81\xAE x");
    Check(atr_i18nExtraCharacters(), "\xE3\x82\xBD\xE3\x83\xBC");
  });
  EXPECT_IN_CHILD("^(ok )+$", {
    ScratchDirectory dir;
    dir.Write("ja_JP_Dict.py", Sample("ja_JP_Dict.py"));
    UseDictionary(dir.path(), "ja_JP_Dict.py", "ja_JP.EUC-JP");
    atr_tr_enable(true);
    Check(Raw("Open"), "\xB3\xAB\xA4\xAF");
    Check(Raw("Open file"), "\xA5\xD5\xA5\xA1\xA5\xA4\xA5\xEB\xA4\xF2\xB3\xAB\xA4\xAF");
    Check(ValueOf("Value %1$s of %2$d", "x", 7), "7 \xA4\xCE x");
    Check(atr_i18nExtraCharacters(), "\xA5\xBD\xA1\xBC");
  });
}

TEST(DictionaryLanguages, JapaneseInALatin1LocaleIsReplacedAndReportedOnRequest) {
  SKIP_WITHOUT_LOCALE("fr_FR.ISO-8859-1");
  EXPECT_IN_CHILD("^(ok )+$", {
    ScratchDirectory dir;
    dir.Write("ja_JP_Dict.py", Sample("ja_JP_Dict.py"));
    UseDictionary(dir.path(), "ja_JP_Dict.py", "fr_FR.ISO-8859-1");
    atr_tr_enable(true);
    Check(Raw("Open"), "??");
    Check(ValueOf("Value %1$s of %2$d", "x", 7), "7 ? x");
    Check(atr_i18nExtraCharacters(), "");
  });
  // At the site that asks for it, each such entry is reported, and still stored.
  EXPECT_IN_CHILD(
      "^(WARNING: atr: Failure encoding in the current locale\\.\n\"[^\"]+\"\n\n){8}ok $", {
        ScratchDirectory dir;
        dir.Write("ja_JP_Dict.py", Sample("ja_JP_Dict.py"));
        UseDictionary(dir.path(), "ja_JP_Dict.py", "fr_FR.ISO-8859-1");
        setenv("KOVRIN_SITE", "qdv", 1);
        atr_tr_enable(true);
        Check(Raw("Open"), "??");
      });
  EXPECT_IN_CHILD(
      "^WARNING: atr: Failure encoding in the current locale\\.\n\"Japanese input\"\n\nok ok $", {
        ScratchDirectory dir;
        dir.Write("fr.py", Sample("fr_FR_Dict.py"));
        UseDictionary(dir.path(), "fr.py", "fr_FR.ISO-8859-1");
        setenv("KOVRIN_SITE", "qdv", 1);
        atr_tr_enable(true);
        Check(Raw("Japanese input"), "Saisie en japonais : ??");
        Check(Raw("Open"), "Ouvrir");
      });
}

TEST(DictionarySearch, DefaultNameAndDirectoriesInOrder) {
  EXPECT_IN_CHILD("^(ok )+$", {
    ScratchDirectory dir;
    std::string base = dir.path();
    dir.Write(std::string("a/") + kDefaultDictionary, "tr['Open'] = r'A'\n");
    dir.Write(std::string("b/") + kDefaultDictionary, "tr['Open'] = r'B'\n");
    dir.Write(std::string("c/") + kDefaultDictionary, "tr['Open'] = r'C'\n");
    ClearEnvironment();
    std::string locale_before = std::setlocale(LC_ALL, nullptr);
    // Empty entries and missing directories are passed over; trailing separators of either
    // kind go; "\" is "/".
    std::string list = base + "/none;;" + base + "\\b\\\\;" + base + "/a/";
    setenv("KOV_PATH", list.c_str(), 1);
    atr_String path;
    Check(atr_setlocale(&path) ? "found" : "none", "found");
    Check(path.CStr(), base + "/b/" + kDefaultDictionary);
    Check(std::setlocale(LC_ALL, nullptr), locale_before);
    Check(std::getenv("KVN_LC_ALL"), locale_before);
    setenv("JRT_DICT_DIR", (base + "/c").c_str(), 1);
    Check(atr_setlocale(&path) ? "found" : "none", "found");
    Check(path.CStr(), base + "/c/" + kDefaultDictionary);
    atr_tr_enable(true);
    Check(Raw("Open"), "C");
    // A directory where the file should be does not count as the file.
    std::filesystem::create_directories(base + "/d/" + kDefaultDictionary);
    setenv("JRT_DICT_DIR", (base + "/d").c_str(), 1);
    setenv("KOV_PATH", (base + "/none;;").c_str(), 1);
    Check(atr_setlocale(nullptr) ? "found" : "none", "none");
    unsetenv("KOV_PATH");
    Check(atr_setlocale(&path) ? "found" : "none", "none");
  });
}

TEST(DictionaryLoading, ReadOnceUntilReleased) {
  EXPECT_IN_CHILD("^(ok )+$", {
    ScratchDirectory dir;
    ClearEnvironment();
    setenv("KOV_PATH", dir.path().c_str(), 1);
    dir.Write(kDefaultDictionary, "tr['Open'] = r'Ouvrir'\n");
    atr_tr_enable(true);
    Check(Raw("Open"), "Ouvrir");
    dir.Write(kDefaultDictionary, "tr['Open'] = r'Offnen'\n");
    atr_tr_enable(true);
    Check(Raw("Open"), "Ouvrir");
    atr_tr_enable(false);
    Check(Raw("Open"), "Open");
    atr_tr_enable(true);
    Check(Raw("Open"), "Offnen");
    // A load that finds no entry is not tried again until the next release.
    atr_trReleaseDB();
    dir.Write(kDefaultDictionary, "# nothing yet\n");
    atr_tr_enable(true);
    dir.Write(kDefaultDictionary, "tr['Open'] = r'Abrir'\n");
    atr_tr_enable(true);
    Check(Raw("Open"), "Open");
    atr_trReleaseDB();
    atr_trReleaseDB();
    atr_tr_enable(true);
    Check(Raw("Open"), "Abrir");
  });
}

TEST(DictionaryLoading, ShutdownReleasesTheDictionary) {
  EXPECT_IN_CHILD("^(ok )+$", {
    ScratchDirectory dir;
    ClearEnvironment();
    setenv("KOV_PATH", dir.path().c_str(), 1);
    dir.Write(kDefaultDictionary, "tr['Open'] = r'Ouvrir'\n");
    int total = 0;
    UTI_VaruRuror_initialize(total);
    atr_tr_enable(true);
    Check(Raw("Open"), "Ouvrir");
    UTI_VaruRuror_finalize(total);
    Check(Raw("Open"), "Open");
  });
}

// Every kind of damage in one file: the loader warns about what the format says, drops
// what it cannot read as an entry, and keeps every sound entry around them.
TEST(DictionaryLoading, DamagedLinesAreSkippedAndTheRestLoads) {
  std::string file = "tr['Good'] = r'Bon'\n";
  file += "tr['Bad value'] = r'Mauvais \xC3\x28'\n";
  file += "tr['Escaped bad'] = r'x\\xC3y'\n";
  file += "tr['Trailing'] = r'ends with \\'\n";
  file += "tr['Windows'] = r'Fenetre'\r\n";
  file += "tr['Bad \xFF key'] = r'cle'\n";
  file += "tr['" + std::string(9000, 'k') + "'] = r'long key'\n";
  file += "tr['Long value'] = r'" + std::string(9000, 'v') + "'\n";
  file += "tr['Nul'] = r'before";
  file += '\0';
  file += "after'\n";
  file += "tr['No quote'] = r'missing\n";
  file += "x'] = r'no key'\n";
  file += "tr['Tab\\tstop'] = r'\\x41\\101\\q\\x'\n";
  file += "tr['Last'] = r'Dernier'";
  EXPECT_IN_CHILD(
      "^WARNING: atr: Invalid UTF-8 string\\.\n\"Bad value\"\n\n"
      "WARNING: atr: Invalid UTF-8 string\\.\n\"Escaped bad\"\n\n(ok )+$",
      {
        ScratchDirectory dir;
        ClearEnvironment();
        setenv("KOV_PATH", dir.path().c_str(), 1);
        dir.Write(kDefaultDictionary, file);
        atr_tr_enable(true);
        Check(Raw("Good"), "Bon");
        Check(Raw("Bad value"), "Bad value");
        Check(Raw("Escaped bad"), "Escaped bad");
        Check(Raw("Trailing"), "ends with \\");
        Check(Raw("Windows"), "Fenetre");
        Check(Raw("Bad \xFF key"), "cle");
        Check(Raw("Long value"), "Long value");
        Check(Raw("Nul"), "Nul");
        Check(Raw("No quote"), "No quote");
        Check(Raw("Tab\tstop"), "AA\\q\\x");
        Check(Raw("Last"), "Dernier");
      });
}

TEST(TestMode, DecidedOnceForTheProcess) {
  EXPECT_IN_CHILD("^11$", setenv("KOVRIN_LANG", "C", 1); setenv("KVN_QA_PRINT", "", 1);
                  setenv("JRT_DICT_DIR", "/nowhere", 1);
                  std::fprintf(stderr, "%d", atr_i18nTesting()); unsetenv("KVN_QA_PRINT");
                  std::fprintf(stderr, "%d", atr_i18nTesting()));
  EXPECT_IN_CHILD("^00$", setenv("KOVRIN_LANG", "C", 1); unsetenv("KVN_QA_PRINT");
                  setenv("JRT_DICT_DIR", "/nowhere", 1);
                  std::fprintf(stderr, "%d", atr_i18nTesting()); setenv("KVN_QA_PRINT", "1", 1);
                  std::fprintf(stderr, "%d", atr_i18nTesting()));
}

TEST(TestMode, ExtraCharactersAreComputedOnce) {
  SKIP_WITHOUT_LOCALE("ja_JP.UTF-8");
  EXPECT_IN_CHILD("^(ok )+$", std::setlocale(LC_ALL, "C");
                  char const* first = atr_i18nExtraCharacters(); Check(first, "");
                  std::setlocale(LC_ALL, "ja_JP.UTF-8"); Check(atr_i18nExtraCharacters(), "");
                  Check(atr_i18nExtraCharacters() == first ? "same" : "moved", "same"));
}

}  // namespace
