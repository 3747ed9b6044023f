// A directory of the test's own under the system's temporary directory, removed with
// everything in it at the end; and whole-file reads and writes.
#ifndef VARURUROR_TESTS_AIO_SCRATCH_H
#define VARURUROR_TESTS_AIO_SCRATCH_H

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

class ScratchDir {
 public:
  ScratchDir() {
    std::random_device entropy;
    path_ = std::filesystem::temp_directory_path() /
            ("vr_aio_test_" + std::to_string(entropy()) + std::to_string(entropy()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(ScratchDir const&) = delete;
  ScratchDir& operator=(ScratchDir const&) = delete;

  std::string path() const { return path_.string(); }
  std::string File(char const* name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFile(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(std::string const& path, std::string const& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

#endif
