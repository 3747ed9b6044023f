// Runs a libFuzzer target without libFuzzer, so that it runs in every build and under
// the sanitizers: inputs are mutations of the sample dictionaries and strings of the
// fuzzers' tokens (fuzz/atr/atr.dict) with random bytes, from a fixed seed.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size);

namespace {

constexpr int kMaxMutations = 8;
constexpr int kMaxTokens = 40;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

// The quoted tokens of a libFuzzer dictionary, with \\, \" and \xNN resolved.
std::vector<std::string> Tokens() {
  std::ifstream in(VR_FUZZ_DICTIONARY);
  std::vector<std::string> tokens;
  for (std::string line; std::getline(in, line);) {
    std::size_t open = line.find('"');
    std::size_t close = line.rfind('"');
    if (line.empty() || line[0] == '#' || open == std::string::npos || close <= open) continue;
    std::string token;
    for (std::size_t i = open + 1; i < close; ++i) {
      if (line[i] != '\\' || i + 1 >= close) {
        token += line[i];
      } else if (line[i + 1] == 'x' && i + 3 < close) {
        token += static_cast<char>(HexValue(line[i + 2]) * 16 + HexValue(line[i + 3]));
        i += 3;
      } else {
        token += line[++i];
      }
    }
    tokens.push_back(token);
  }
  return tokens;
}

std::vector<std::string> Seeds() {
  std::vector<std::string> seeds;
  for (auto const& entry : std::filesystem::directory_iterator(VR_FUZZ_SEEDS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return seeds;
}

class Inputs {
 public:
  Inputs() : tokens_(Tokens()), seeds_(Seeds()), random_(20240611) {}

  bool ready() const { return !tokens_.empty() && !seeds_.empty(); }

  std::string Next() {
    std::string input(1, static_cast<char>(Pick(256)));
    if (Pick(2) == 0) {
      input += Mutated(seeds_[Pick(seeds_.size())]);
    } else {
      for (int n = Pick(kMaxTokens); n > 0; --n) input += Piece();
    }
    return input;
  }

 private:
  std::size_t Pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
  }

  std::string Piece() {
    if (Pick(4) > 0) return tokens_[Pick(tokens_.size())];
    std::string bytes;
    for (int n = Pick(6); n >= 0; --n) bytes += static_cast<char>(Pick(256));
    return bytes;
  }

  std::string Mutated(std::string text) {
    for (int n = 1 + Pick(kMaxMutations); n > 0; --n) {
      std::size_t at = Pick(text.size() + 1);
      switch (Pick(4)) {
        case 0:
          text.insert(at, Piece());
          break;
        case 1:
          if (at < text.size()) text[at] = static_cast<char>(Pick(256));
          break;
        case 2:
          text.erase(at, Pick(64));
          break;
        default:
          text.insert(at, text.substr(Pick(text.size() + 1), Pick(9000)));
          break;
      }
    }
    return text;
  }

  std::vector<std::string> tokens_;
  std::vector<std::string> seeds_;
  std::mt19937 random_;
};

TEST(FuzzReplay, RandomInputsRunClean) {
  Inputs inputs;
  ASSERT_TRUE(inputs.ready()) << "no tokens in " << VR_FUZZ_DICTIONARY << " or no seeds in "
                              << VR_FUZZ_SEEDS;
  LLVMFuzzerTestOneInput(nullptr, 0);
  for (int i = 0; i < VR_FUZZ_INPUTS; ++i) {
    std::string input = inputs.Next();
    LLVMFuzzerTestOneInput(reinterpret_cast<std::uint8_t const*>(input.data()), input.size());
  }
}

}  // namespace
