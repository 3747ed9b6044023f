// A directory of the test's own under the system's temporary directory, removed with
// everything in it at the end; and whole-file reads and writes.
#ifndef VARURUROR_TESTS_SCRATCH_DIRECTORY_H
#define VARURUROR_TESTS_SCRATCH_DIRECTORY_H

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

inline std::string ReadFile(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(std::string const& path, std::string const& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::random_device entropy;
    path_ = std::filesystem::temp_directory_path() /
            ("vr_test_" + std::to_string(entropy()) + "_" + std::to_string(entropy()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(ScratchDirectory const&) = delete;
  ScratchDirectory& operator=(ScratchDirectory const&) = delete;

  std::string path() const { return path_.string(); }
  std::string File(char const* name) const { return (path_ / name).string(); }

  // Writes bytes to the file at relative (directories made as needed); returns its path.
  std::string Write(std::string const& relative, std::string const& bytes) const {
    std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    WriteFile(file.string(), bytes);
    return file.string();
  }

 private:
  std::filesystem::path path_;
};

#endif
