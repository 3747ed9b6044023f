// Reading back what the tracker wrote, for the tests: record files and the phase file,
// decoded field by field from their bytes.
#ifndef VARURUROR_TESTS_MEM_TRACKER_TRACKER_FILES_H
#define VARURUROR_TESTS_MEM_TRACKER_TRACKER_FILES_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "mem/tracker/record_format.h"
#include "varururor/varururor.h"

namespace tracker_files {

inline std::vector<unsigned char> ReadBytes(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool Exists(std::string const& path) { return access(path.c_str(), F_OK) == 0; }

inline std::int32_t Word(std::vector<unsigned char> const& bytes, std::size_t offset) {
  return static_cast<std::int32_t>(bytes[offset] | bytes[offset + 1] << 8 |
                                   bytes[offset + 2] << 16 |
                                   static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

struct Record {
  std::uint32_t pointer, old_pointer;
  std::int32_t kind, transaction, size, thread, phase;
};

// The records of one file; the file must be exactly its count's length.
inline std::vector<Record> ReadRecordFile(std::string const& path) {
  std::vector<unsigned char> bytes = ReadBytes(path);
  EXPECT_GE(bytes.size(), 4u) << path;
  if (bytes.size() < 4) return {};
  std::size_t const count = static_cast<std::uint32_t>(Word(bytes, 0));
  EXPECT_EQ(bytes.size(), 4 + count * 28) << path;
  std::vector<Record> records;
  for (std::size_t i = 0; i < count && 4 + i * 28 + 28 <= bytes.size(); ++i) {
    std::size_t const at = 4 + i * 28;
    records.push_back({static_cast<std::uint32_t>(Word(bytes, at)),
                       static_cast<std::uint32_t>(Word(bytes, at + 4)), Word(bytes, at + 8),
                       Word(bytes, at + 12), Word(bytes, at + 16), Word(bytes, at + 20),
                       Word(bytes, at + 24)});
  }
  return records;
}

// Every record file of a run, in order.
inline std::vector<Record> ReadRun(std::string const& base) {
  std::vector<Record> all;
  for (int n = 0; Exists(base + ".memT" + std::to_string(n)); ++n) {
    std::vector<Record> part = ReadRecordFile(base + ".memT" + std::to_string(n));
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

// Phase path -> id, checking the layout: count, then id and a zero-filled path field.
inline std::map<std::string, int> ReadPhaseFile(std::string const& path) {
  std::vector<unsigned char> bytes = ReadBytes(path);
  std::map<std::string, int> phases;
  EXPECT_GE(bytes.size(), 4u) << path;
  if (bytes.size() < 4) return phases;
  std::size_t const count = static_cast<std::uint32_t>(Word(bytes, 0));
  EXPECT_EQ(bytes.size(), 4 + count * mem::tracker::kPhaseEntryBytes) << path;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t const at = 4 + i * mem::tracker::kPhaseEntryBytes;
    if (at + mem::tracker::kPhaseEntryBytes > bytes.size()) break;
    std::string name(reinterpret_cast<char const*>(&bytes[at + 4]));
    for (std::size_t j = at + 4 + name.size(); j < at + mem::tracker::kPhaseEntryBytes; ++j) {
      EXPECT_EQ(bytes[j], 0) << "path field of " << name << " not zero-filled";
      if (bytes[j] != 0) break;
    }
    phases[name] = Word(bytes, at);
  }
  return phases;
}

// A directory for the current test's files, under the working directory, emptied by the
// test itself. The child of EXPECT_IN_CHILD runs the test body again from the start: it
// must find the same directory, named after the test, and leave what earlier children
// wrote there.
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
