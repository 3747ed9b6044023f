// The dictionary checker on the sample dictionaries: its findings and exit status.
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
  std::string expected;
  for (std::string const& finding : std::vector<std::string>{
           "5: \"Copy %1$s to %2$s\": the translation drops placeholder %2$ of the key",
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
           "'?'"}) {
    expected += flawed + ":" + finding + "\n";
  }
  ToolRun run = Dictcheck("--locale C '" + flawed + "'");
  EXPECT_EQ(run.out, expected) << run.err;
  EXPECT_EQ(run.status, 1);
  run = Dictcheck("--locale=ja_JP.UTF-8 '" + clean + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, clean + ": 9 entries, no findings\n");
  ScratchDirectory dir;
  ToolRun missing = Dictcheck("'" + dir.path() + "/missing.py'");
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
}

}  // namespace
