// Random sequences of edits on handles that share representations, checked after every
// step against std::string models: the texts, the reference counts (each equal to the
// number of handles sharing), the capacities the sizing rule gives, and that writing
// through one handle never changes another.
#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <deque>
#include <map>
#include <random>
#include <set>
#include <string>

#include "child_process.h"
#include "string_probe.h"
#include "varururor/frame/startup.h"
#include "varururor/mem/allocation.h"

namespace {

constexpr int kHandles = 6;
constexpr int kSteps = 4000;
// Texts over few letters, so that searches, substitutions and trims find something.
constexpr char kAlphabet[] = "abcAB ,x";

class Model {
 public:
  explicit Model(unsigned seed) : random_(seed) {}

  void Run() {
    for (int step = 0; step < kSteps; ++step) {
      int target = Pick(kHandles);
      char const* name = Step(target);
      Check(name, step, target);
      if (failures_ > 0) return;
    }
  }

 private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  bool OneIn(int n) { return Pick(n) == 0; }

  // Mostly short, some around the end of inline storage (238/239), a few long.
  int RandomLength() {
    int kind = Pick(20);
    if (kind < 15) return Pick(40);
    if (kind < 19) return 200 + Pick(60);
    return 300 + Pick(900);
  }

  std::string RandomText(int length) {
    std::string text;
    for (int i = 0; i < length; ++i) text += kAlphabet[Pick(sizeof kAlphabet - 1)];
    return text;
  }

  // Runs one random operation on handle t; returns its name. expected_request_ is the
  // sizing request of a representation the operation makes, or -1 when not fixed.
  char const* Step(int t) {
    TestString& s = handles_[t];
    std::string& m = models_[t];
    int length = static_cast<int>(m.size());
    int pos = Pick(length + 1);
    expected_request_ = -1;
    switch (Pick(22)) {
      case 0: {
        int from = Pick(kHandles);
        s = handles_[from];
        m = models_[from];
        return "share";
      }
      case 1: {
        std::string text = OneIn(8) ? std::string() : RandomText(RandomLength());
        s = text.c_str();
        m = text;
        expected_request_ = static_cast<int>(m.size());
        return "assign text";
      }
      case 2: {
        // Part of the handle's own text.
        std::string text = m.substr(pos);
        s = s.CStr() + pos;
        m = text;
        expected_request_ = static_cast<int>(m.size());
        return "assign own tail";
      }
      case 3: {
        std::string text = RandomText(RandomLength());
        int from = Pick(static_cast<int>(text.size()) + 1);
        int maxn = OneIn(3) ? INT_MAX : Pick(50);
        s.append(text.c_str(), static_cast<int>(text.size()), from, maxn);
        m += text.substr(from, maxn);
        expected_request_ = static_cast<int>(m.size());
        return "append";
      }
      case 4: {
        int from = Pick(length + 1);
        s.append(s.CStr(), length, from, INT_MAX);
        m += std::string(m, from);
        expected_request_ = static_cast<int>(m.size());
        return "append own text";
      }
      case 5: {
        std::string text = RandomText(RandomLength());
        int maxn = OneIn(2) ? INT_MAX : Pick(30);
        s.insert(pos, text.c_str(), static_cast<int>(text.size()), 0, maxn);
        m.insert(pos, text.substr(0, maxn));
        expected_request_ = static_cast<int>(m.size());
        return "insert";
      }
      case 6: {
        int from = Pick(length + 1);
        std::string own = m.substr(from);
        s.insert(pos, s.CStr(), length, from, INT_MAX);
        m.insert(pos, own);
        expected_request_ = static_cast<int>(m.size());
        return "insert own text";
      }
      case 7: {
        std::string text = RandomText(RandomLength() / 2);
        int count = Pick(length - pos + 3);
        s.replace(pos, count, text.c_str(), static_cast<int>(text.size()), 0, INT_MAX);
        m.replace(pos, count, text);
        expected_request_ = static_cast<int>(m.size());
        return "replace";
      }
      case 8: {
        int other = Pick(kHandles);
        std::string text = models_[other];
        int count = Pick(length - pos + 3);
        s.Replace(pos, count, handles_[other]);
        m.replace(pos, count, text);
        expected_request_ = static_cast<int>(m.size());
        return "Replace by a handle";
      }
      case 9: {
        std::string text = RandomText(Pick(20));
        int slen = Pick(static_cast<int>(text.size()) + 1);
        int count = Pick(length - pos + 3);
        s.Replace(pos, count, text.c_str(), slen);
        m.replace(pos, count, text.substr(0, slen));
        expected_request_ = static_cast<int>(m.size());
        return "Replace by bytes";
      }
      case 10: {
        int count = Pick(length - pos + 3);
        s.Erase(pos, count);
        m.erase(pos, count);
        expected_request_ = static_cast<int>(m.size());
        return "Erase";
      }
      case 11: {
        std::string set = RandomText(Pick(3));
        s.LeftTrim(set.c_str());
        m.erase(
            0, m.find_first_not_of(set) == std::string::npos ? m.size() : m.find_first_not_of(set));
        expected_request_ = static_cast<int>(m.size());
        return "LeftTrim";
      }
      case 12: {
        std::string set = RandomText(Pick(3));
        s.RightTrim(set.c_str());
        std::size_t last = m.find_last_not_of(set);
        m.erase(last == std::string::npos ? 0 : last + 1);
        expected_request_ = static_cast<int>(m.size());
        return "RightTrim";
      }
      case 13: {
        std::string set = RandomText(Pick(3));
        s.Trim(set.c_str());
        expected_request_ = length;
        std::string kept;
        for (char c : m) {
          if (set.find(c) == std::string::npos) kept += c;
        }
        m = kept;
        return "Trim";
      }
      case 14: {
        static char const* const kNames[] = {"ToLower", "ToUpper", "Capitalize", "Uncapitalize"};
        int which = Pick(4);
        expected_request_ = length;
        if (which == 0) {
          s.ToLower();
          for (char& c : m) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else if (which == 1) {
          s.ToUpper();
          for (char& c : m) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else if (!m.empty() && which == 2) {
          s.Capitalize();
          m[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(m[0])));
        } else if (!m.empty()) {
          s.Uncapitalize();
          m[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(m[0])));
        }
        return kNames[which];
      }
      case 15: {
        s.Reverse();
        m.assign(m.rbegin(), m.rend());
        expected_request_ = length;
        return "Reverse";
      }
      case 16: {
        // The pattern is another handle (possibly this one) when it is short, else a
        // few random bytes; the replacement is a handle, possibly this one.
        int from = Pick(kHandles);
        int to = Pick(kHandles);
        bool short_handle = !models_[from].empty() && models_[from].size() <= 3;
        TestString random_pattern(RandomText(1 + Pick(2)).c_str());
        TestString const& pattern_handle = short_handle ? handles_[from] : random_pattern;
        std::string pattern(pattern_handle.CStr(), pattern_handle.Length());
        std::string replacement = models_[to];
        int count = 1 + Pick(3);
        s.Substitute(pattern_handle, handles_[to], count);
        if (!m.empty()) {
          for (int pass = 0; pass < count; ++pass) {
            std::size_t at = m.find(pattern);
            if (at == std::string::npos) break;
            m.replace(at, pattern.size(), replacement);
          }
        }
        return "Substitute";
      }
      case 17: {
        if (length == 0) return "write (empty)";
        int at = Pick(length);
        s[at] = 'z';
        m[at] = 'z';
        expected_request_ = length;
        return "write a byte";
      }
      case 18: {
        // Borrowed text lives in borrowed_ for the whole run.
        borrowed_.push_back(RandomText(RandomLength()));
        std::string const& text = borrowed_.back();
        s = TestString(text.c_str(), static_cast<int>(text.size()), TestString::kBorrow);
        m = text;
        return "borrow";
      }
      case 19: {
        std::string text = RandomText(RandomLength());
        char* block = static_cast<char*>(mem_Malloc(static_cast<unsigned>(text.size()) + 1));
        std::memcpy(block, text.c_str(), text.size() + 1);
        s = TestString(block, static_cast<int>(text.size()), TestString::kAdopt);
        adopted_.insert(block);
        m = text;
        return "adopt";
      }
      case 20: {
        int n = length + Pick(300);
        s.isolate(n);
        expected_request_ = n;
        return "isolate";
      }
      default: {
        if (length == 0) return "shorten (empty)";
        int keep = Pick(length);
        s[keep] = '\0';
        s.SetStringLength(keep);
        m.resize(keep);
        expected_request_ = length;
        return "shorten";
      }
    }
  }

  void Check(char const* name, int step, int target) {
    std::map<void const*, int> holders;
    for (int i = 0; i < kHandles; ++i) {
      Probe p = ProbeOf(handles_[i]);
      std::string const& m = models_[i];
      std::string actual(handles_[i].CStr(), handles_[i].Length());
      if (actual != m || handles_[i].CStr()[m.size()] != '\0') {
        Fail(name, step, i, "text \"" + actual + "\", expected \"" + m + "\"");
      }
      if (p.rep == nullptr) {
        if (p.text != nullptr || !m.empty()) Fail(name, step, i, "no representation");
        continue;
      }
      ++holders[p.rep];
      if (p.length != static_cast<int>(m.size())) Fail(name, step, i, "length field");
      CheckCapacity(name, step, i, p);
    }
    for (int i = 0; i < kHandles; ++i) {
      Probe p = ProbeOf(handles_[i]);
      if (p.rep != nullptr && p.references != holders[p.rep]) {
        Fail(name, step, i,
             "reference count " + std::to_string(p.references) + " for " +
                 std::to_string(holders[p.rep]) + " holders");
      }
    }
    // A representation the step made for the target is sized by the rule.
    Probe now = ProbeOf(handles_[target]);
    bool fresh = now.rep != before_[target].rep && holders[now.rep] == 1 && now.capacity != 0 &&
                 adopted_.count(now.text) == 0;
    if (fresh && expected_request_ >= 0 && now.capacity != SizedCapacity(expected_request_)) {
      Fail(name, step, target,
           "capacity " + std::to_string(now.capacity) + " for a request of " +
               std::to_string(expected_request_));
    }
    // Adopted blocks that no handle holds any more have been freed.
    for (auto it = adopted_.begin(); it != adopted_.end();) {
      bool held = false;
      for (auto const& h : handles_) held = held || ProbeOf(h).text == *it;
      it = held ? std::next(it) : adopted_.erase(it);
    }
    for (int i = 0; i < kHandles; ++i) before_[i] = ProbeOf(handles_[i]);
  }

  void CheckCapacity(char const* name, int step, int i, Probe const& p) {
    int length = p.length;
    if (p.inline_text()) {
      bool sized = (p.capacity - 20) % 32 == 0 && p.capacity >= 20 && p.capacity <= 244;
      if (!sized || p.capacity <= length) Fail(name, step, i, "inline capacity");
    } else if (p.capacity == 0) {
      bool ours = false;
      for (auto const& text : borrowed_) ours = ours || text.c_str() == p.text;
      if (!ours) Fail(name, step, i, "capacity 0 for text that was not borrowed");
    } else if (adopted_.count(p.text) != 0) {
      if (p.capacity <= length) Fail(name, step, i, "adopted capacity");
    } else if (p.capacity < 240 || p.capacity <= length) {
      Fail(name, step, i, "separate block of " + std::to_string(p.capacity));
    }
  }

  void Fail(char const* name, int step, int handle, std::string const& what) {
    ++failures_;
    ADD_FAILURE() << "step " << step << " (" << name << ") handle " << handle << ": " << what;
  }

  std::mt19937 random_;
  TestString handles_[kHandles];
  std::string models_[kHandles];
  Probe before_[kHandles] = {};
  std::deque<std::string> borrowed_;
  std::set<char const*> adopted_;
  int expected_request_ = -1;
  int failures_ = 0;
};

class StringModel : public ::testing::TestWithParam<unsigned> {};

TEST_P(StringModel, RandomEditsOnSharedHandlesMatchStdString) {
  Model model(GetParam());
  model.Run();
}

INSTANTIATE_TEST_SUITE_P(Seeds, StringModel, ::testing::Values(1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u));

// Every representation a random run makes is released again: the statistics end with
// nothing active and no bytes in use.
void RunUnderStatistics() {
  int total = 0;
  atr_initialize(total);
  {
    Model model(11);
    model.Run();
  }
  atr_finalize(total);
}

TEST(StringModelStatistics, BalanceOverARandomRun) {
  EXPECT_IN_CHILD("\n       0 Active\n       0 Bytes in use\n", setenv("ATR_SUMMARY", "1", 1);
                  RunUnderStatistics());
}

}  // namespace
