// Temporary files, the string stream without one, and the standard streams, in a child
// process that points TMPDIR elsewhere.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "child_process.h"
#include "scratch_directory.h"
#include "varururor/aio/manipulators.h"
#include "varururor/aio/ostrstream.h"
#include "varururor/aio/standard_streams.h"
#include "varururor/aio/temp_file.h"
#include "varururor/frame/startup.h"
#include "varururor/mem/allocation.h"

namespace {

// In a child: "ok" when a temporary file in directory reads back what was written; then,
// without a usable temporary directory, the message, and "failed" when output and the
// text of a string stream both fail; then text through the standard error stream, which
// stays attached after shutdown.
void UseTempFilesAndStandardError(std::string const& directory) {
  setenv("TMPDIR", directory.c_str(), 1);
  FILE* f = aio_createTempFile();
  if (f != nullptr && std::fputs("d", f) >= 0 && std::fseek(f, 0, SEEK_SET) == 0 &&
      std::fgetc(f) == 'd') {
    std::fputs("ok", stderr);
  }
  setenv("TMPDIR", "/nonexistent-vr-dir", 1);
  aio_ostrstream s;
  s.print("x");
  bool failed = s.rdstate() == aio_ios::failbit;
  if (failed && s.adoptString(mem_Malloc) == nullptr) std::fputs("failed", stderr);
  int total = 0;
  aio_initialize(total);
  aio_setwidth(aio_cerr, 4).print_int(7);
  aio_endl(aio_cerr);
  aio_finalize(total);
  aio_cerr << "error text ";
  aio_cerr.print_double(2.5);
}

// The name counter starts at the milliseconds of the clock (0 to 999): with every name up
// to 0x400 taken, the first free one lies beyond them all. The taken ones stay as they
// were, and the temporary file leaves no name behind.
TEST(TempFile, NamesInUseAreSkippedNoDirectoryFailsTheStreamAndStandardErrorWrites) {
  ScratchDirectory dir;
  constexpr unsigned kTaken = 0x400;
  for (unsigned n = 1; n <= kTaken; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "utl%X.TMP", n);
    WriteFile(dir.File(name), "someone else's");
  }
  EXPECT_IN_CHILD(
      "^okFailed to create /nonexistent-vr-dir/utl[0-9A-F]+\\.TMP\nfailed   7\nerror text 2\\.5$",
      UseTempFilesAndStandardError(dir.path()));
  unsigned kept = 0;
  for (auto const& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_EQ(ReadFile(entry.path().string()), "someone else's");
    ++kept;
  }
  EXPECT_EQ(kept, kTaken);
}

}  // namespace
