// Reading back what the tracker wrote, for the tests: record files and the phase file.
#ifndef VARURUROR_TESTS_MEM_TRACKER_TRACKER_FILES_H
#define VARURUROR_TESTS_MEM_TRACKER_TRACKER_FILES_H

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "mem/tracker/record_format.h"
#include "varururor/varururor.h"

namespace tracker_files {

inline std::string ReadFile(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool Exists(std::string const& path) { return access(path.c_str(), F_OK) == 0; }

// A record as written, in the byte order of the i386 machine that wrote it.
struct Record {
  std::uint32_t pointer, old_pointer;
  std::int32_t kind, transaction, size, thread, phase;
};
static_assert(sizeof(Record) == 28, "seven words");

// The count at the start of a file, which must be exactly that many entries long.
inline std::uint32_t CountOf(std::string const& bytes, std::size_t entry, std::string const& path) {
  std::uint32_t count = 0;
  if (bytes.size() >= sizeof count) std::memcpy(&count, bytes.data(), sizeof count);
  EXPECT_EQ(bytes.size(), sizeof count + count * entry) << path;
  return bytes.size() == sizeof count + count * entry ? count : 0;
}

inline std::vector<Record> ReadRecordFile(std::string const& path) {
  std::string const bytes = ReadFile(path);
  std::vector<Record> records(CountOf(bytes, sizeof(Record), path));
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::memcpy(&records[i], &bytes[4 + i * sizeof(Record)], sizeof(Record));
  }
  return records;
}

// Phase path -> id; each entry is an id and a zero-filled path field.
inline std::map<std::string, int> ReadPhaseFile(std::string const& path) {
  std::string const bytes = ReadFile(path);
  std::size_t const entry = mem::tracker::kPhaseEntryBytes;
  std::map<std::string, int> phases;
  for (std::size_t i = 0, count = CountOf(bytes, entry, path); i < count; ++i) {
    std::string const field = bytes.substr(4 + i * entry + 4, entry - 4);
    std::string const name = field.c_str();
    EXPECT_EQ(field.find_first_not_of('\0', name.size()), std::string::npos) << name;
    std::memcpy(&phases[name], &bytes[4 + i * entry], sizeof(int));
  }
  return phases;
}

// The test's directory, emptied by the parent only: a child reruns the body, keeping files.
inline std::string MakeTempDir() {
  ::testing::TestInfo const* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string const dir =
      std::string("tracker_files.") + test->test_suite_name() + "." + test->name();
  if (GTEST_FLAG_GET(internal_run_death_test).empty()) {
    std::string const remove = "rm -rf '" + dir + "'";
    EXPECT_EQ(std::system(remove.c_str()), 0);
    EXPECT_EQ(mkdir(dir.c_str(), 0700), 0) << dir;
  }
  char cwd[4096];
  EXPECT_NE(getcwd(cwd, sizeof cwd), nullptr);
  return std::string(cwd) + "/" + dir;
}

// Starts the memory system with tracking on (KOV_MEM_TRACK set to `track`), writing into `dir`.
inline void StartTracked(std::string const& dir, char const* track = "") {
  setenv("KOV_MEM_TRACK", track, 1);
  setenv("KOV_MEM_OUTPUTDIR", dir.c_str(), 1);
  int started = 0;
  mem_initialize(started);
}

inline void Finish() {
  int started = 0;
  mem_finalize(started);
}

}  // namespace tracker_files

#endif
