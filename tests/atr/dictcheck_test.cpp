// The dictionary checker on the sample dictionaries and on a damaged file: its findings and
// exit status.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "scratch_directory.h"

namespace {

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

ToolRun Dictcheck(std::string const& arguments) {
  ScratchDirectory dir;
  std::string out = dir.File("out"), err = dir.File("err"), code = dir.File("code");
  std::string command = std::string("'") + VR_DICTCHECK + "' " + arguments + " > '" + out +
                        "' 2> '" + err + "'; echo $? > '" + code + "'";
  EXPECT_EQ(std::system(command.c_str()), 0);
  return ToolRun{std::atoi(ReadFile(code).c_str()), ReadFile(out), ReadFile(err)};
}

// Each mistake with its line; a clean file gets one summary line; an unreadable one, status 2.
TEST(Dictcheck, FindingsWithTheirLinesAndExitStatus) {
  std::string const flawed = std::string(VR_ATR_DICTIONARIES) + "/flawed_Dict.py";
  std::string const clean = std::string(VR_ATR_DICTIONARIES) + "/de_DE_Dict.py";
  std::string const dropped = ": ignored";
  auto report = [](std::string const& file, std::vector<std::string> const& findings) {
    std::string text;
    for (std::string const& finding : findings) text += file + ":" + finding + "\n";
    return text;
  };
  std::string const expected = report(
      flawed,
      {"5: \"Copy %1$s to %2$s\": the translation drops placeholder %2$ of the key",
       "6: \"Delete %s\": the translation uses placeholder %2$, which the key does not have",
       "7: \"%1$d files\": placeholder %1$ prints a signed integer (%d) in the key but a text "
       "(%s) in the translation",
       "9: \"Save\": the key is given again with a different translation (first on line 8)",
       "10: \"Cancel\": the translation is the key itself: not stored",
       "11: the translation does not end with a quote before the line end" + dropped,
       "12: \"Width\": the translation has a malformed \"%\" sequence \"%\" that translation "
       "drops",
       "13: an entry without a key (no quote before \"'] = r'\")" + dropped,
       "14: not in the form name['key'] = r'translation' (spaces included)" + dropped,
       "15: \"Tab\\tstop\": an escape in the translation makes a NUL byte: it ends there",
       "16: \"Edit\": the translation has characters that locale C cannot show: they become "
       "'?'"});
  ToolRun run = Dictcheck("--locale C '" + flawed + "'");
  EXPECT_EQ(run.out, expected) << run.err;
  EXPECT_EQ(run.status, 1);
  ScratchDirectory dir;
  std::string damaged = "tr['Good'] = r'Bon'\ntr['Bad'] = r'Mauvais \xC3\x28'\n";
  damaged += "tr['Long'] = r'" + std::string(9000, 'v') + "'\n";
  damaged += "tr['Nul'] = r'a" + std::string(1, '\0') + "b'\n";
  damaged += "tr['Hex'] = r'\\xE9t\\xE9'\ntr['K\\0ey'] = r'Key'\n";
  damaged +=
      "tr[\"Close\"] = r\"Schlie\xC3\x9F"
      "en\"\ntr['Save'] = 'Speichern'\n";
  damaged += "# tr['Quit'] = 'Beenden'\nm[''] = r'X'\ntr['Last'] = r'Dernier'";
  std::string const file = dir.Write("damaged.py", damaged);
  std::string const only = "the loader reads only name['key'] = r'translation'" + dropped;
  EXPECT_EQ(
      Dictcheck("'" + file + "'").out,
      report(file, {"2: \"Bad\": the translation is not valid UTF-8: skipped with a warning",
                    "3: the line is longer than 8191 bytes: the loader reads it in pieces, each "
                    "as a line of its own",
                    "4: the line holds a NUL byte: the loader ignores the rest of it",
                    "4: the translation does not end with a quote before the line end" + dropped,
                    "5: \"Hex\": the translation is not valid UTF-8: skipped with a warning",
                    "6: \"K\": an escape in the key makes a NUL byte: the key ends there",
                    "7: written with double quotes: " + only,
                    "8: the translation has no r prefix: " + only,
                    "10: the key is empty: the translation would stand for every empty message"}));
  run = Dictcheck("--locale=ja_JP.UTF-8 '" + clean + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, clean + ": 9 entries, no findings\n");
  ToolRun missing = Dictcheck("'" + dir.path() + "/missing.py'");
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
}

}  // namespace
