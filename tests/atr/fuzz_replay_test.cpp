// The text fuzzer without libFuzzer, on mutated samples and strings of tokens and bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "long_tests.h"
#include "scratch_directory.h"

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size);

namespace {

// The quoted tokens of a libFuzzer dictionary, with \\ and \xNN resolved.
std::vector<std::string> Tokens() {
  std::ifstream in(VR_FUZZ_DICTIONARY);
  std::vector<std::string> tokens;
  for (std::string line; std::getline(in, line);) {
    std::size_t open = line.find('"');
    if (line[0] == '#' || open == std::string::npos) continue;
    std::string token;
    for (std::size_t i = open + 1; i + 1 < line.size(); ++i) {
      bool hex = line[i] == '\\' && line[i + 1] == 'x';
      if (line[i] == '\\') ++i;
      token += hex ? static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16)) : line[i];
      if (hex) i += 2;
    }
    tokens.push_back(token);
  }
  return tokens;
}

TEST(FuzzReplay, RandomInputsRunClean) {
  std::vector<std::string> tokens = Tokens();
  std::vector<std::string> seeds;
  for (auto const& entry : std::filesystem::directory_iterator(VR_FUZZ_SEEDS)) {
    seeds.push_back(ReadFile(entry.path().string()));
  }
  ASSERT_FALSE(tokens.empty() || seeds.empty()) << VR_FUZZ_DICTIONARY << " " << VR_FUZZ_SEEDS;
  std::mt19937 random(20240611);
  auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };
  auto piece = [&] {
    std::string bytes = pick(4) > 0 ? tokens[pick(tokens.size())] : "";
    for (int n = bytes.empty() ? pick(6) + 1 : 0; n > 0; --n) bytes += static_cast<char>(pick(256));
    return bytes;
  };
  for (int i = 0; i < vr_TestLength(VR_FUZZ_INPUTS, 10 * VR_FUZZ_INPUTS); ++i) {
    std::string input(1, static_cast<char>(pick(256)));
    if (pick(2) == 0) {
      // A sample with a few insertions, changed bytes, cuts and repeats.
      std::string text = seeds[pick(seeds.size())];
      for (int n = 1 + pick(8); n > 0; --n) {
        std::size_t at = pick(text.size() + 1);
        int kind = pick(4);
        if (kind == 0) text.insert(at, piece());
        if (kind == 1 && at < text.size()) text[at] = static_cast<char>(pick(256));
        if (kind == 2) text.erase(at, pick(64));
        if (kind == 3) text.insert(at, text.substr(pick(text.size() + 1), pick(9000)));
      }
      input += text;
    } else {
      for (int n = pick(40); n > 0; --n) input += piece();
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<std::uint8_t const*>(input.data()), input.size());
  }
}

}  // namespace
