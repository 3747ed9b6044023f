// A directory of the test's own under the temporary directory, removed with the object,
// and the sample dictionaries that tests copy into it.
#ifndef VARURUROR_TESTS_ATR_SCRATCH_DIRECTORY_H
#define VARURUROR_TESTS_ATR_SCRATCH_DIRECTORY_H

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::random_device entropy;
    path_ = std::filesystem::temp_directory_path() /
            ("vr_atr_" + std::to_string(entropy()) + "_" + std::to_string(entropy()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(ScratchDirectory const&) = delete;
  ScratchDirectory& operator=(ScratchDirectory const&) = delete;

  std::string path() const { return path_.string(); }

  // Writes bytes to the file at relative (directories made as needed); returns its path.
  std::string Write(std::string const& relative, std::string const& bytes) const {
    std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
    return file.string();
  }

 private:
  std::filesystem::path path_;
};

// The bytes of a sample dictionary of tests/atr/dictionaries.
inline std::string SampleDictionary(std::string const& name) {
  std::ifstream in(std::string(VR_ATR_DICTIONARIES) + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#endif
