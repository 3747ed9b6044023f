// Random edits on shared handles against std::string models; what the model leaves out:
// atr_String, multi-byte case, the ATR_SUMMARY statistics; natural-order comparison.
#include "varururor/atr/string.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "child_process.h"
#include "locale_guard.h"
#include "long_tests.h"
#include "varururor/atr/natural_order.h"
#include "varururor/atr/string_base.h"
#include "varururor/atr/string_base_prv.h"
#include "varururor/frame/startup.h"
#include "varururor/mem/allocation.h"

namespace {

// The protected constructors and operations, opened for the tests.
class TestString : public atr_StringBase {
  using Base = atr_StringBase;

 public:
  template <typename... Args>
  explicit TestString(Args... args) : Base(args...) {}

  using Base::append, Base::Erase, Base::insert, Base::isolate, Base::replace, Base::Replace,
      Base::SetStringLength, Base::Substitute;
  using Base::Capitalize, Base::LeftTrim, Base::Reverse, Base::RightTrim, Base::ToLower,
      Base::ToUpper, Base::Trim, Base::Uncapitalize;
  using Base::CStr, Base::Find, Base::Length, Base::rfind, Base::Substr;
  using Base::kAdopt, Base::kBorrow, Base::kPreSize, Base::operator=, Base::operator[];
};

// The handle's two words and the representation's three fields.
struct Probe {
  char const* text;
  void const* rep;
  int fields[3];
  int references() const { return fields[0]; }
  int capacity() const { return fields[1]; }
  int length() const { return fields[2]; }
};

Probe ProbeOf(atr_StringBase const& s) {
  static_assert(sizeof(atr_StringBase) == 2 * sizeof(void*), "two words");
  Probe probe{};
  std::memcpy(&probe, &s, sizeof s);
  if (probe.rep != nullptr) std::memcpy(probe.fields, probe.rep, sizeof probe.fields);
  return probe;
}

// The capacity the sizing rule gives a request for n bytes of text.
int SizedCapacity(int n) {
  int k = (n + 17) >> 5;
  return k <= 7 ? 32 * k + 20 : n + 1;
}

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
    return kind < 15 ? Pick(40) : kind < 19 ? 200 + Pick(60) : 300 + Pick(900);
  }

  std::string RandomText(int length) {
    std::string text;
    for (int i = 0; i < length; ++i) text += kAlphabet[Pick(sizeof kAlphabet - 1)];
    return text;
  }

  char const* Step(int t) {
    TestString& s = handles_[t];
    std::string& m = models_[t];
    int length = static_cast<int>(m.size());
    int pos = Pick(length + 1);
    int count = Pick(length - pos + 3);
    // Edits (case 3) come four times as often as the other steps.
    int step = Pick(16);
    switch (step > 12 ? 3 : step) {
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
        static char const* const kNames[] = {"append", "insert", "replace", "Replace", "Erase"};
        bool own = OneIn(3);
        std::string text = own ? m : RandomText(RandomLength());
        char const* source = own ? s.CStr() : text.c_str();
        int slen = static_cast<int>(text.size());
        int from = Pick(slen + 1);
        int maxn = OneIn(2) ? INT_MAX : Pick(50);
        int which = Pick(5);
        if (which == 0) s.append(source, slen, from, maxn);
        if (which == 1) s.insert(pos, source, slen, from, maxn);
        if (which == 2) s.replace(pos, count, source, slen, from, maxn);
        if (which == 3 && own) s.Replace(pos, count, s);
        if (which == 3 && !own) s.Replace(pos, count, source, slen);
        if (which == 4) s.Erase(pos, count);
        std::string inserted = which == 3 ? text : which == 4 ? "" : text.substr(from, maxn);
        m.replace(which == 0 ? length : pos, which >= 2 ? count : 0, inserted);
        return kNames[which];
      }
      case 4: {
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
      case 5: {
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
      case 6:
        s.Reverse();
        std::reverse(m.begin(), m.end());
        return "Reverse";
      case 7: {
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
      case 8: {
        // Borrowed texts live in borrowed_ for the whole run, each beside a copy.
        m = RandomText(RandomLength());
        int n = static_cast<int>(m.size());
        request_ = kNotFixed;
        if (OneIn(2)) {
          borrowed_.emplace_back(m, m);
          s = TestString(borrowed_.back().first.c_str(), n, TestString::kBorrow);
          return "borrow";
        }
        char* block = static_cast<char*>(mem_Malloc(n + 1));
        std::memcpy(block, m.c_str(), n + 1);
        s = TestString(block, n, TestString::kAdopt);
        return "adopt";
      }
      case 9:
        request_ = length + Pick(300);
        s.isolate(request_);
        return "isolate";
      case 10:
        request_ = Pick(300);
        s = TestString(request_, TestString::kPreSize);
        m.clear();
        return "pre-size";
      case 11: {
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
        if (length == 0) return "write (empty)";
        request_ = length;
        s[pos % length] = m[pos % length] = 'z';
        if (OneIn(2)) return "write a byte";
        s[pos % length] = '\0';
        s.SetStringLength(pos % length);
        m.resize(pos % length);
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
      if (p.references() != holders[p.rep]) fail(i, "reference count");
      if (p.length() != static_cast<int>(m.size())) fail(i, "length field");
      bool borrowed = false;
      for (auto const& text : borrowed_) borrowed = borrowed || text.first.c_str() == p.text;
      if (p.capacity() == 0 ? !borrowed : p.capacity() <= p.length()) fail(i, "capacity");
    }
    Probe now = ProbeOf(handles_[target]);
    if (expect_ == kNoRep && now.rep != nullptr) fail(target, "empty text kept a header");
    if (expect_ == kSameRep && now.rep != before_[target].rep) fail(target, "copied");
    if (expect_ == kUnshared && now.rep != nullptr && holders[now.rep] != 1) fail(target, "shared");
    // A representation the step made for the target is sized by the rule.
    bool fresh = now.rep != before_[target].rep && holders[now.rep] == 1 && now.capacity() != 0;
    if (fresh && request_ >= 0 && now.capacity() != SizedCapacity(request_)) {
      fail(target,
           "capacity " + std::to_string(now.capacity()) + " for " + std::to_string(request_));
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

std::string TextOf(TestString const& s) { return std::string(s.CStr(), s.Length()); }
std::string TextOf(atr_String const& s) { return std::string(s.CStr(), s.Length()); }

// An atr_String carrying text, made the way a client without translation can.
atr_String Text(char const* s) {
  atr_String result;
  atr_StringBasePrv(s).AssignTo(result);
  return result;
}

// The empty string has no representation and reads as the shared empty text.
TEST(StringBase, EmptyAndNumberTexts) {
  for (TestString const& s :
       {TestString(""), TestString(nullptr), TestString("abc", 0),
        TestString(nullptr, 0, TestString::kBorrow), TestString(nullptr, 0, TestString::kAdopt)}) {
    EXPECT_EQ(ProbeOf(s).rep, nullptr);
    EXPECT_EQ(s.CStr(), TestString().CStr());
  }
  EXPECT_EQ(TextOf(TestString(1.0 / 3)), "0.333333333333333");
  EXPECT_EQ(TextOf(TestString(-1.0e-300)), "-1e-300");
  EXPECT_EQ(TextOf(TestString(123456789.0f)), "1.23457e+08");
  EXPECT_EQ(TextOf(TestString(-2147483647 - 1)), "-2147483648");
  EXPECT_EQ(TextOf(TestString(4294967295u)), "4294967295");
}

TEST(String, EachOperation) {
  atr_String hello = Text("hello");
  EXPECT_EQ(TextOf(hello.Substr(2, 4)), "llo");
  EXPECT_EQ(TextOf(hello.Substr(2, 0xFFFFFFFFu)), "llo");
  EXPECT_TRUE(hello.Substr(9, 1).Empty());
  struct Case {
    char const* text;
    int field;
    char escape;
    char const* expected;
  } const cases[] = {
      {"a,b,c", 3, 0, ""},
      {"a,,b", 1, 0, ""},
      {"whole", 0, 0, "whole"},
      {"\"x\"\"y\",z", 0, '"', "x\"y"},
      {"a\\\\b\\c,d", 0, '\\', "a\\bc"},
      {"\"\",q", 0, '"', "\""},
      {"\",q", 0, '"', ""},
  };
  for (Case const& c : cases) {
    atr_String s = Text(c.text);
    atr_String field = c.escape == 0 ? s.extract(c.field, ',') : s.extract(c.field, ',', c.escape);
    EXPECT_EQ(TextOf(field), c.expected) << c.text << " " << c.field;
    EXPECT_EQ(ProbeOf(field).rep == nullptr, *c.expected == '\0') << c.text;
  }
  atr_String a = Text("left");
  atr_String shared(a);
  atr_String sum = a + Text("right");
  a.Append(sum).Append(a);
  EXPECT_EQ(TextOf(a), "leftleftrightleftleftright");
  EXPECT_EQ(TextOf(shared), "left");
  atr_String s = Text("%2$s has %1$d of %1$d, %d and %s [%12$s]");
  s.ReplaceNonTranslated(1, 7).ReplaceNonTranslated(2, "Disk").ReplaceNonTranslated(0, -3);
  s.ReplaceNonTranslated(0, Text("all")).ReplaceNonTranslated("%1$d", "9");
  s.ReplaceNonTranslated("Disk", Text("Tape")).ReplaceNonTranslated(12, nullptr);
  s.ReplaceNonTranslated(static_cast<char const*>(nullptr), "x");
  EXPECT_EQ(TextOf(s), "Tape has 7 of 9, -3 and all []");
  // atr_StringBasePrv shares its text and hands it on.
  atr_StringBasePrv prv("text");
  atr_StringBasePrv copy;
  copy = atr_StringBasePrv(prv);
  copy.AssignTo(s);
  EXPECT_EQ(TextOf(s), "text");
  EXPECT_EQ(ProbeOf(prv).references(), 3);
  atr_StringBasePrv(nullptr).AssignTo(s);
  EXPECT_TRUE(s.Empty());
}

TEST(StringCase, MultiByteCharactersAreSteppedOverWhole) {
  LocaleGuard utf8;
  ASSERT_TRUE(utf8.Use("C.UTF-8"));
  // The umlauts stay as they are; a byte that starts no valid character counts as one.
  TestString s("\xC3\xA4rger \xC3\xB6l \xC3z\xFFq");
  s.ToUpper();
  EXPECT_STREQ(s.CStr(), "\xC3\xA4RGER \xC3\xB6L \xC3Z\xFFQ");
  s.ToLower();
  s.Capitalize();
  EXPECT_STREQ(s.CStr(), "\xC3\xA4rger \xC3\xB6l \xC3z\xFFq");
}

// Appending to "abcdefghij" (capacity 20) moves it to a block of capacity 52; writing to
// the borrowed text copies it. The first of two finalizes reports nothing.
void EditAndFinalizeTwice() {
  int total = 0;
  atr_initialize(total);
  atr_initialize(total);
  {
    TestString s("abcdefghij");
    s.append("0123456789", 10, 0, INT_MAX);
    TestString borrowed("constant", 8, TestString::kBorrow);
    borrowed[0] = 'C';
    TestString separate(std::string(300, 'x').c_str());
    char* block = static_cast<char*>(mem_Malloc(4));
    std::memcpy(block, "abc", 4);
    TestString adopted(block, 3, TestString::kAdopt);
  }
  atr_finalize(total);
  atr_finalize(total);
}

TEST(StringStatistics, AreReportedAtTheLastFinalizeWhenAtrSummaryIsSet) {
  // The edit releases the old block before the new one counts.
  EXPECT_IN_CHILD(
      "^       3 Reps Created\n       3 Strings Created\n       1 Extension Failures\n"
      "       0 Active\n       0 Bytes in use\n       4 Maximum active\n      72 Maximum bytes "
      "in use\n    12\\.7 Mean length\n     5\\.2 Sigma length\n    18\\.0 Mean spare\n"
      "     9\\.9 Sigma spare\n$",
      setenv("ATR_SUMMARY", "", 1);
      EditAndFinalizeTwice());
  EXPECT_IN_CHILD("^$", unsetenv("ATR_SUMMARY"); EditAndFinalizeTwice());
}

// Each list is in natural order: every pair compares in list order, both ways round.
TEST(NaturalOrder, ListsPeopleSortAndTheSwitch) {
  std::vector<std::vector<char const*>> const lists = {
      {"", "1a", "B", "a", "a b", "a1", "a1b2", "a1b10", "a9", "a10b", "a10c", "ab", "abc"},
      {"solver-1.2.9", "solver-1.2.10", "solver-1.10.0", "solver-2.0.0", "solver-10.0.0"},
      // A run that starts with '0' on either side is a fraction: 0.05 < 0.5 < 0.55.
      {"x0.01", "x0.05", "x0.1", "x0.5", "x0.55", "x1.005", "x1.05", "x1.5", "x2.25", "x10.1"},
      {"v0", "v00"},
      {"part 2", "part2", "part10"},
      // Bytes from 0x80 are negative as signed chars: UTF-8 letters sort before ASCII.
      {"\xC3\xA9tude", "etude"},
  };
  for (auto const& list : lists) {
    for (size_t i = 0; i < list.size(); ++i) {
      EXPECT_EQ(strnatcmp(list[i], list[i]), 0) << list[i];
      for (size_t j = i + 1; j < list.size(); ++j) {
        EXPECT_LT(strnatcmp(list[i], list[j]), 0) << list[i] << " before " << list[j];
        EXPECT_GT(strnatcmp(list[j], list[i]), 0) << list[j] << " after " << list[i];
      }
    }
  }
  EXPECT_EQ(strnatcmp(nullptr, ""), 0);
  EXPECT_LT(strnatcmp(nullptr, "a"), 0);
  // Digit runs compare as numbers however long.
  std::string huge(100000, '7');
  EXPECT_LT(strnatcmp(huge.c_str(), (huge + "7").c_str()), 0);
  // The switch is on after start-up unless the variable is set.
  EXPECT_IN_CHILD("^0 1 1 $", unsetenv("KVN_USE_NATURAL_ORDER_SORT");
                  std::fprintf(stderr, "%d ", atr_getNaturalOrder()); int total = 0;
                  atr_initialize(total); std::fprintf(stderr, "%d ", atr_getNaturalOrder());
                  atr_finalize(total); std::fprintf(stderr, "%d ", atr_getNaturalOrder()));
  EXPECT_IN_CHILD("^0 5 $", setenv("KVN_USE_NATURAL_ORDER_SORT", "", 1); int total = 0;
                  UTI_VaruRuror_initialize(total);
                  std::fprintf(stderr, "%d ", atr_getNaturalOrder()); atr_setNaturalOrder(5);
                  std::fprintf(stderr, "%d ", atr_getNaturalOrder()));
}

}  // namespace
