// The dictionary checker on the sample dictionaries and on files with every kind of
// damage: what it reports, with file and line, and its exit status.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "scratch_directory.h"

namespace {

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

// Runs dictcheck with the arguments (already quoted for the shell).
ToolRun Dictcheck(std::string const& arguments) {
  ScratchDirectory dir;
  std::string out = dir.path() + "/out", err = dir.path() + "/err", code = dir.path() + "/code";
  std::string command = std::string("'") + VR_DICTCHECK + "' " + arguments + " > '" + out +
                        "' 2> '" + err + "'; echo $? > '" + code + "'";
  EXPECT_EQ(std::system(command.c_str()), 0);
  return ToolRun{std::atoi(ReadFile(code).c_str()), ReadFile(out), ReadFile(err)};
}

// The lines that hold the loader's entry marker.
int CountEntryLines(std::string const& path) {
  std::ifstream in(path);
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    count += line.find("'] = r'") != std::string::npos;
  }
  return count;
}

std::string Sample(std::string const& name) {
  return std::string(VR_ATR_DICTIONARIES) + "/" + name;
}

TEST(Dictcheck, CleanDictionariesGetOneSummaryLine) {
  for (char const* name : {"de_DE_Dict.py", "ja_JP_Dict.py"}) {
    ToolRun run = Dictcheck("--locale ja_JP.UTF-8 '" + Sample(name) + "'");
    EXPECT_EQ(run.status, 0) << name << run.out << run.err;
    EXPECT_EQ(run.out, Sample(name) + ": " + std::to_string(CountEntryLines(Sample(name))) +
                           " entries, no findings\n");
  }
}

TEST(Dictcheck, EveryMistakeOfTheFlawedSampleWithItsLine) {
  std::string file = Sample("flawed_Dict.py");
  ToolRun run = Dictcheck("--locale C '" + file + "'");
  EXPECT_EQ(run.status, 1);
  std::string expected =
      file + ":5: \"Copy %1$s to %2$s\": the translation drops placeholder %2$ of the key\n" +
      file +
      ":6: \"Delete %s\": the translation uses placeholder %2$, which the key does not have\n" +
      file +
      ":7: \"%1$d files\": placeholder %1$ prints a signed integer (%d) in the key but a text (%s) "
      "in the translation\n" +
      file +
      ":9: \"Save\": the key is given again with a different translation (first on line 8)\n" +
      file + ":10: \"Cancel\": the translation is the key itself: not stored\n" + file +
      ":11: the translation does not end with a quote before the line end: ignored\n" + file +
      ":12: \"Width\": the translation has a malformed \"%\" sequence \"%\" that translation "
      "drops\n" +
      file + ":13: an entry without a key (no quote before \"'] = r'\"): ignored\n" + file +
      ":14: not in the form name['key'] = r'translation' (spaces included): ignored\n" + file +
      ":15: \"Tab\\tstop\": an escape in the translation makes a NUL byte: it ends there\n" + file +
      ":16: \"Edit\": the translation has characters that locale C cannot show: they become '?'\n";
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(run.err, "");
}

TEST(Dictcheck, TranslationsALocaleCannotShow) {
  ToolRun run = Dictcheck("--locale=fr_FR.ISO-8859-1 '" + Sample("fr_FR_Dict.py") + "'");
  if (run.err.find("not installed") != std::string::npos) {
    GTEST_SKIP() << "locale fr_FR.ISO-8859-1 is not installed (scripts/setup makes it)";
  }
  EXPECT_EQ(run.status, 1);
  std::string file = Sample("fr_FR_Dict.py");
  EXPECT_EQ(run.out, file + ":15: \"OK\": the translation is the key itself: not stored\n" + file +
                         ":16: \"Japanese input\": the translation has characters that locale "
                         "fr_FR.ISO-8859-1 cannot show: they become '?'\n");
}

TEST(Dictcheck, LinesTheLoaderSkips) {
  ScratchDirectory dir;
  std::string bytes = "tr['Good'] = r'Bon'\n";
  bytes += "tr['Bad'] = r'Mauvais \xC3\x28'\n";
  bytes += "tr['Long'] = r'" + std::string(9000, 'v') + "'\n";
  bytes += "tr['Nul'] = r'a";
  bytes += '\0';
  bytes += "b'\n";
  bytes += "tr['Hex'] = r'\\xE9t\\xE9'\n";
  bytes += "tr['K\\0ey'] = r'Key'\n";
  bytes += "tr['Last'] = r'Dernier'";
  std::string file = dir.Write("damaged.py", bytes);
  ToolRun run = Dictcheck("'" + file + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            file + ":2: \"Bad\": the translation is not valid UTF-8: skipped with a warning\n" +
                file +
                ":3: the line is longer than 8191 bytes: the loader reads it in pieces, each as a "
                "line of its own\n" +
                file + ":4: the line holds a NUL byte: the loader ignores the rest of it\n" + file +
                ":4: the translation does not end with a quote before the line end: ignored\n" +
                file + ":5: \"Hex\": the translation is not valid UTF-8: skipped with a warning\n" +
                file + ":6: \"K\": an escape in the key makes a NUL byte: the key ends there\n");
}

// Entries in forms of Python that the loader does not read, and an empty key.
TEST(Dictcheck, EntriesInAnotherFormAndTheEmptyKey) {
  ScratchDirectory dir;
  std::string file = dir.Write("forms.py",
                               "tr[\"Close\"] = r\"Schlie\xC3\x9F"
                               "en\"\n"
                               "tr['Open'] = \"\u00D6ffnen\"\n"
                               "tr['Save'] = 'Speichern'\n"
                               "# tr['Quit'] = 'Beenden'\n"
                               "m[''] = r'X'\n"
                               "tr['Help'] = r'Hilfe'\n");
  ToolRun run = Dictcheck("'" + file + "'");
  EXPECT_EQ(run.status, 1);
  std::string const only = "the loader reads only name['key'] = r'translation': ignored\n";
  EXPECT_EQ(run.out, file + ":1: written with double quotes: " + only + file +
                         ":2: written with double quotes: " + only + file +
                         ":3: the translation has no r prefix: " + only + file +
                         ":5: the key is empty: the translation would stand for every empty "
                         "message\n");
}

TEST(Dictcheck, ExitStatusTwoWhenAFileCannotBeRead) {
  ScratchDirectory dir;
  ToolRun missing = Dictcheck("'" + dir.path() + "/missing.py'");
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
  ToolRun directory = Dictcheck("'" + dir.path() + "'");
  EXPECT_EQ(directory.status, 2);
  EXPECT_NE(directory.err.find("cannot read"), std::string::npos) << directory.err;
  // Findings in one file and an unreadable other: the worse status.
  ToolRun both = Dictcheck("'" + Sample("flawed_Dict.py") + "' '" + dir.path() + "/missing.py'");
  EXPECT_EQ(both.status, 2);
  EXPECT_EQ(Dictcheck("").status, 2);
  EXPECT_EQ(Dictcheck("--bogus x").status, 2);
  EXPECT_EQ(Dictcheck("--locale no_SUCH.locale '" + Sample("de_DE_Dict.py") + "'").status, 2);
}

}  // namespace
