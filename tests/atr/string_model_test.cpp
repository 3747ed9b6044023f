// Random edits and searches on handles that share representations, checked after every
// step against std::string models: texts, reference counts, the sizing rule, and that
// writing through one handle never changes another or a borrowed text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <deque>
#include <map>
#include <random>
#include <string>

#include "long_tests.h"
#include "string_probe.h"
#include "varururor/mem/allocation.h"

namespace {

constexpr int kHandles = 6;
constexpr int kSteps = 4000;
// Texts over few letters, so that searches, substitutions and trims find something.
constexpr char kAlphabet[] = "abcAB ,x";
// The sizing request of a representation a step makes: the new length, or not fixed.
constexpr int kNewLength = -2;
constexpr int kNotFixed = -1;

class Model {
 public:
  explicit Model(unsigned seed) : random_(seed) {}

  void Run() {
    for (int step = 0; step < kSteps && !::testing::Test::HasFailure(); ++step) {
      int target = Pick(kHandles);
      request_ = kNewLength;
      expect_ = kAnyRep;
      char const* name = Step(target);
      if (request_ == kNewLength) request_ = static_cast<int>(models_[target].size());
      Check(name, step, target);
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

  // Runs one random operation on handle t and its model; returns its name.
  char const* Step(int t) {
    TestString& s = handles_[t];
    std::string& m = models_[t];
    int length = static_cast<int>(m.size());
    int pos = Pick(length + 1);
    int count = Pick(length - pos + 3);
    // Edits from text (case 3) come four times as often as the other steps.
    int step = Pick(20);
    switch (step > 16 ? 3 : step) {
      case 0: {
        int from = Pick(kHandles);
        s = handles_[from];
        m = models_[from];
        request_ = kNotFixed;
        return "share";
      }
      case 1:
        m = OneIn(8) ? std::string() : RandomText(RandomLength());
        s = m.c_str();
        expect_ = m.empty() ? kNoRep : kAnyRep;
        return "assign text";
      case 2:
        s = s.CStr() + pos;
        m.erase(0, pos);
        return "assign own tail";
      case 3: {
        static char const* const kNames[] = {"append", "insert", "replace"};
        bool own = OneIn(3);
        std::string text = own ? m : RandomText(RandomLength());
        char const* source = own ? s.CStr() : text.c_str();
        int slen = static_cast<int>(text.size());
        int from = Pick(slen + 1);
        int maxn = OneIn(2) ? INT_MAX : Pick(50);
        int which = Pick(3);
        if (which == 0) s.append(source, slen, from, maxn);
        if (which == 1) s.insert(pos, source, slen, from, maxn);
        if (which == 2) s.replace(pos, count, source, slen, from, maxn);
        m.replace(which == 0 ? length : pos, which == 2 ? count : 0, text.substr(from, maxn));
        return kNames[which];
      }
      case 4: {
        int other = Pick(kHandles);
        int slen = Pick(static_cast<int>(models_[other].size()) + 1);
        bool bytes = OneIn(2);
        std::string text = bytes ? models_[other].substr(0, slen) : models_[other];
        if (bytes) s.Replace(pos, count, handles_[other].CStr(), slen);
        if (!bytes) s.Replace(pos, count, handles_[other]);
        m.replace(pos, count, text);
        return "Replace";
      }
      case 5:
        s.Erase(pos, count);
        m.erase(pos, count);
        return "Erase";
      case 6: {
        static char const* const kNames[] = {"LeftTrim", "RightTrim", "Trim"};
        std::string set = RandomText(Pick(3));
        auto in_set = [&](char c) { return set.find(c) != std::string::npos; };
        int which = Pick(3);
        if (which == 0) s.LeftTrim(set.c_str());
        if (which == 1) s.RightTrim(set.c_str());
        if (which == 2) s.Trim(set.c_str());
        if (which == 0) m.erase(0, std::min(m.find_first_not_of(set), m.size()));
        if (which == 1) m.erase(m.find_last_not_of(set) + 1);
        if (which == 2) m.erase(std::remove_if(m.begin(), m.end(), in_set), m.end());
        // Trim unshares even when it removes nothing.
        request_ = which == 2 ? length : kNewLength;
        expect_ = which == 2 && length > 0 ? kUnshared : kAnyRep;
        return kNames[which];
      }
      case 7: {
        static char const* const kNames[] = {"ToLower", "ToUpper", "Capitalize", "Uncapitalize"};
        int which = Pick(4);
        int (*change)(int) = which == 0 || which == 3 ? ::tolower : ::toupper;
        std::string before = m;
        std::transform(m.begin(), m.begin() + (which < 2 ? length : std::min(length, 1)), m.begin(),
                       [&](char c) { return static_cast<char>(change(c)); });
        (s.*(which == 0   ? &TestString::ToLower
             : which == 1 ? &TestString::ToUpper
             : which == 2 ? &TestString::Capitalize
                          : &TestString::Uncapitalize))();
        request_ = length;
        // With nothing to change, the text stays shared.
        expect_ = m == before ? kSameRep : kAnyRep;
        return kNames[which];
      }
      case 8:
        s.Reverse();
        std::reverse(m.begin(), m.end());
        return "Reverse";
      case 9: {
        // The pattern and the replacement may be this handle.
        int from = Pick(kHandles);
        TestString random_pattern(RandomText(Pick(3)).c_str());
        TestString const& pattern = models_[from].size() <= 3 ? handles_[from] : random_pattern;
        std::string p(pattern.CStr(), pattern.Length());
        int to = Pick(kHandles);
        std::string replacement = models_[to];
        int passes = Pick(4);
        s.Substitute(pattern, handles_[to], passes);
        // Each pass searches from the start of the text already changed.
        for (int pass = 0; pass < passes && !p.empty() && m.find(p) != std::string::npos; ++pass) {
          m.replace(m.find(p), p.size(), replacement);
        }
        request_ = kNotFixed;
        return "Substitute";
      }
      case 10:
        if (length == 0) return "write (empty)";
        s[pos % length] = m[pos % length] = 'z';
        return "write a byte";
      case 11: {
        // Borrowed texts live in borrowed_ for the whole run, each beside a copy.
        std::string text = RandomText(RandomLength());
        borrowed_.emplace_back(text, text);
        s = TestString(borrowed_.back().first.c_str(), static_cast<int>(text.size()),
                       TestString::kBorrow);
        m = text;
        request_ = kNotFixed;
        return "borrow";
      }
      case 12: {
        m = RandomText(RandomLength());
        char* block = static_cast<char*>(mem_Malloc(static_cast<unsigned>(m.size()) + 1));
        std::memcpy(block, m.c_str(), m.size() + 1);
        s = TestString(block, static_cast<int>(m.size()), TestString::kAdopt);
        request_ = kNotFixed;
        return "adopt";
      }
      case 13:
        request_ = length + Pick(300);
        s.isolate(request_);
        return "isolate";
      case 14:
        request_ = Pick(300);
        s = TestString(request_, TestString::kPreSize);
        m.clear();
        return "pre-size";
      case 15: {
        std::string needle = RandomText(Pick(3));
        int from = Pick(length + 2), last = Pick(length + 2);
        int n = Pick(static_cast<int>(needle.size()) + 1);
        auto or_length = [&](std::size_t at) {
          return at == std::string::npos ? length : static_cast<int>(at);
        };
        int find = from > length ? length : or_length(m.find(needle, from));
        int rfind = n == 0 || last == 0 ? length : or_length(m.rfind(needle.substr(0, n), last));
        EXPECT_EQ(s.Find(needle.c_str(), from), find) << m << " " << needle;
        EXPECT_EQ(s.rfind(needle.c_str(), n, last), rfind) << m << " " << needle;
        EXPECT_EQ(s.Substr(pos, count), std::min(count, length - pos)) << m;
        request_ = kNotFixed;
        return "search";
      }
      default:
        if (length == 0) return "shorten (empty)";
        s[pos % length] = '\0';
        s.SetStringLength(pos % length);
        m.resize(pos % length);
        request_ = length;
        return "shorten";
    }
  }

  void Check(char const* name, int step, int target) {
    auto fail = [&](int handle, std::string const& what) {
      ADD_FAILURE() << "step " << step << " (" << name << ") handle " << handle << ": " << what;
    };
    std::map<void const*, int> holders;
    for (auto const& h : handles_) ++holders[ProbeOf(h).rep];
    for (int i = 0; i < kHandles; ++i) {
      Probe p = ProbeOf(handles_[i]);
      std::string const& m = models_[i];
      if (std::string(handles_[i].CStr(), handles_[i].Length()) != m ||
          handles_[i].CStr()[m.size()] != 0) {
        fail(i, "text \"" + std::string(handles_[i].CStr()) + "\", expected \"" + m + "\"");
      }
      if (p.rep == nullptr) {
        if (p.text != nullptr || !m.empty()) fail(i, "no representation");
        continue;
      }
      if (p.references != holders[p.rep]) fail(i, "reference count");
      if (p.length != static_cast<int>(m.size())) fail(i, "length field");
      bool borrowed = false;
      for (auto const& text : borrowed_) borrowed = borrowed || text.first.c_str() == p.text;
      if (p.capacity == 0 ? !borrowed : p.capacity <= p.length) fail(i, "capacity");
    }
    Probe now = ProbeOf(handles_[target]);
    if (expect_ == kNoRep && now.rep != nullptr) fail(target, "empty text kept a header");
    if (expect_ == kSameRep && now.rep != before_[target].rep) fail(target, "copied");
    if (expect_ == kUnshared && now.rep != nullptr && holders[now.rep] != 1) fail(target, "shared");
    // A representation the step made for the target is sized by the rule.
    bool fresh = now.rep != before_[target].rep && holders[now.rep] == 1 && now.capacity != 0;
    if (fresh && request_ >= 0 && now.capacity != SizedCapacity(request_)) {
      fail(target, "capacity " + std::to_string(now.capacity) + " for " + std::to_string(request_));
    }
    for (auto const& [text, copy] : borrowed_) {
      if (text != copy) fail(target, "borrowed text written to");
    }
    for (int i = 0; i < kHandles; ++i) before_[i] = ProbeOf(handles_[i]);
  }

  std::mt19937 random_;
  TestString handles_[kHandles];
  std::string models_[kHandles];
  Probe before_[kHandles] = {};
  std::deque<std::pair<std::string, std::string>> borrowed_;
  int request_ = kNotFixed;
  // What the step must leave the target's representation as, beyond the model's checks.
  enum { kAnyRep, kNoRep, kSameRep, kUnshared } expect_ = kAnyRep;
};

TEST(StringModel, RandomEditsOnSharedHandlesMatchStdString) {
  for (int seed = 1; seed <= vr_TestLength(8, 200) && !HasFailure(); ++seed) Model(seed).Run();
}

}  // namespace
