// Message translation without a dictionary: the placeholder grammar, numbering and
// reordering, the formatting of each value type, and random messages built from pieces
// whose output the generator knows.
#include "varururor/atr/translate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "locale_guard.h"
#include "varururor/atr/format.h"
#include "varururor/atr/string_base_prv.h"

namespace {

std::string Text(atr_String const& s) { return std::string(s.CStr(), s.Length()); }

// Translates message and fills placeholders 1.. with the given texts.
std::string WithTexts(char const* message, std::vector<char const*> const& values) {
  atr_translate t(message);
  for (size_t i = 0; i < values.size(); ++i) atr_SubstituteFormat(t, int(i) + 1, values[i]);
  return Text(t.Result());
}

template <typename T>
std::string Formatted(char const* message, T const& value) {
  atr_translate t(message);
  atr_SubstituteFormat(t, 1, value);
  return Text(t.Result());
}

TEST(TranslatePlaceholders, NumbersMayReorderAndUnnumberedOnesTakeTheFreeNumbers) {
  EXPECT_EQ(WithTexts("Value %1$s of %2$s", {"x", "7"}), "Value x of 7");
  EXPECT_EQ(WithTexts("%2$s von %1$s", {"x", "7"}), "7 von x");
  EXPECT_EQ(WithTexts("%2$s %s", {"one", "two"}), "two one");
  EXPECT_EQ(WithTexts("%s %3$s %s", {"1", "2", "3"}), "1 3 2");
  // Numbers beyond the count leave the unnumbered ones count + 1, count + 2, ...
  EXPECT_EQ(WithTexts("%7$s %s %9$s", {"a", "b", "c"}), "b a c");
  // A number used twice takes one substitution per occurrence, by rank.
  EXPECT_EQ(WithTexts("%1$s=%1$s", {"a", "b"}), "a=b");
}

TEST(TranslatePlaceholders, PercentSignsAndMalformedSequences) {
  EXPECT_EQ(WithTexts("100%% done", {}), "100% done");
  EXPECT_EQ(WithTexts("50%%s", {"x"}), "50%s");
  // A text in which no "%" could start a placeholder is used as it stands.
  EXPECT_EQ(WithTexts("abc%", {}), "abc%");
  EXPECT_EQ(WithTexts("Progress: 100%%", {}), "Progress: 100%%");
  EXPECT_EQ(WithTexts("abc%%q%", {}), "abc%q");
  EXPECT_EQ(WithTexts("a%qb", {}), "aqb");
  EXPECT_EQ(WithTexts("%+d|%#x|% d", {"1", "2", "3"}), "+d|#x| d");
  EXPECT_EQ(WithTexts("%2$%s", {"v"}), "v");
}

TEST(TranslatePlaceholders, FormatsKeepFlagsWidthAndPrecisionButNoLengthCharacters) {
  atr_translate t("%1$-08.3lf %2$llld %3$l.2s");
  EXPECT_STREQ(t.Format(1), "%-08.3f");
  EXPECT_STREQ(t.Format(2), "%d");
  EXPECT_STREQ(t.Format(3), "%.2s");
  EXPECT_EQ(t.Format(0), nullptr);
  EXPECT_EQ(t.Format(4), nullptr);
}

TEST(TranslatePlaceholders, SubstitutionsOutsideTheCountAndNullTexts) {
  atr_translate t("<%s>");
  t.AddSubstitution(0, "zero", nullptr);
  t.AddSubstitution(2, "two", nullptr);
  atr_SubstituteFormat(t, 5, 3);
  t.AddSubstitution(1, nullptr, nullptr);
  EXPECT_EQ(Text(t.Result()), "<>");
  atr_translate null_message(nullptr);
  EXPECT_EQ(null_message.Format(1), nullptr);
  EXPECT_TRUE(null_message.Result().Empty());
  EXPECT_TRUE(atr_raw(nullptr).Empty());
}

TEST(TranslatePlaceholders, KeySuffixesAreNeverShown) {
  EXPECT_EQ(Text(atr_translate("Open\\@menu").Result()), "Open");
  EXPECT_EQ(Text(atr_raw("50%% \\@x%s")), "50%% ");
}

TEST(TranslateText, WidthAndPrecision) {
  EXPECT_EQ(Formatted("%10s", "abc"), "       abc");
  EXPECT_EQ(Formatted("%-6.2s|", "abcdef"), "ab    |");
  EXPECT_EQ(Formatted("%.9s", "abc"), "abc");
  // Text in a placeholder of another letter is taken as it is.
  EXPECT_EQ(Formatted("%5d", "abc"), "abc");
}

TEST(TranslateText, AGarbledWidthPadsNoFurtherThanANumberCould) {
  EXPECT_EQ(Formatted("%99999999999s", "x").size(), 1023u);
  EXPECT_EQ(Formatted("%-2000s", "x").size(), 1023u);
}

TEST(TranslateText, StringHandlesAndFormatsOfTheCaller) {
  atr_StringBasePrv name("report.txt");
  EXPECT_EQ(Formatted("[%-12s]", static_cast<atr_StringBase const&>(name)), "[report.txt  ]");
  atr_translate t("%s|%s");
  t.AddSubstitution(1, "abc", "%-5.1s");
  t.AddSubstitution(2, "abc", "%.-1s");
  EXPECT_EQ(Text(t.Result()), "a    |abc");
}

TEST(TranslateNumbers, IntegersByConversionLetter) {
  EXPECT_EQ(Formatted("%8.3f", 5), "5.000000");
  EXPECT_EQ(Formatted("%04x", 255), "00ff");
  EXPECT_EQ(Formatted("%5d|", -42), "  -42|");
  EXPECT_EQ(Formatted("%10s|", 42), "42|");
  EXPECT_EQ(Formatted("%c", 65), "A");
  EXPECT_EQ(Formatted("%d", 4294967295u), "4294967295");
  EXPECT_EQ(Formatted("%s", 4294967295u), "4294967295");
  EXPECT_EQ(Formatted("%e", 1u), "1.000000e+00");
}

TEST(TranslateNumbers, SixtyFourBitIntegers) {
  EXPECT_EQ(Formatted("%d", -9000000000LL), "-9000000000");
  EXPECT_EQ(Formatted("%12s|", -9000000000LL), "-9000000000|");
  EXPECT_EQ(Formatted("%X", 0x123456789ABLL), "123456789AB");
  EXPECT_EQ(Formatted("%g", 3ULL), "3");
  EXPECT_EQ(Formatted("%d", 18446744073709551615ULL), "18446744073709551615");
  EXPECT_EQ(Formatted("%s", 18446744073709551615ULL), "18446744073709551615");
  EXPECT_EQ(Formatted("%.1f", -2LL), "-2.000000");
}

TEST(TranslateNumbers, FloatingValues) {
  EXPECT_EQ(Formatted("%g", 1.0e5), "100000");
  EXPECT_EQ(Formatted("%e", 1.5e7), "1.500000e+07");
  EXPECT_EQ(Formatted("%.2f", 2.345f), "2.35");
  EXPECT_EQ(Formatted("%8.3f|", 3.14159), "   3.142|");
  EXPECT_EQ(Formatted("%d", 2.5), "2.500000e+00");
}

TEST(TranslateNumbers, PointersAreUnsignedNumbers) {
  void const* p = reinterpret_cast<void const*>(0xFFFFFFF0u);
  EXPECT_EQ(Formatted("%u", p), "4294967280");
  atr_translate t("%x");
  ForwardVoidPBySize<4>::Format(t, 1, p);
  EXPECT_EQ(Text(t.Result()), "fffffff0");
}

TEST(TranslateNumbers, FixExponentDropsOnlyALeadingZeroOfThreeDigits) {
  char const* cases[][2] = {{"1.5e+007", "1.5e+07"},      {"1e-010", "1e-10"},
                            {"1e+100", "1e+100"},         {"1e+07", "1e+07"},
                            {"1e+0071", "1e+0071"},       {"1E+007", "1E+007"},
                            {"2e5 3e+007", "2e5 3e+007"}, {"", ""}};
  for (auto const& c : cases) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s", c[0]);
    atr_translate::FixExponent(buffer);
    EXPECT_STREQ(buffer, c[1]) << c[0];
  }
  atr_translate::FixExponent(nullptr);
}

TEST(TranslateFmt, FormatsForEachDataSize) {
  atr_Fmt fmt("%-8.3d");
  EXPECT_EQ(fmt.Letter(), 'd');
  EXPECT_STREQ(fmt.Format(atr_Fmt::kAsWritten, 'u'), "%-8.3u");
  EXPECT_STREQ(fmt.Format(atr_Fmt::kChar, 'x'), "%-8.3hx");
  EXPECT_STREQ(fmt.Format(atr_Fmt::kInt64, 0), "%-8.3lld");
  EXPECT_STREQ(fmt.FormatNoWidth(atr_Fmt::kInt64, 'u'), "%llu");
  // The shortest format has room for the 64-bit modifier too.
  atr_Fmt shortest("%d");
  EXPECT_STREQ(shortest.FormatNoWidth(atr_Fmt::kInt64, 0), "%lld");
  EXPECT_FALSE(atr_Fmt(nullptr).Ok());
}

// Untranslated UTF-8 messages are shown in the locale's encoding.
TEST(TranslateLocale, UntranslatedMessagesAreConvertedForDisplay) {
  LocaleGuard guard;
  USE_LOCALE_OR_SKIP(guard, "fr_FR.ISO-8859-1");
  EXPECT_EQ(WithTexts("Fichier \xC2\xAB%s\xC2\xBB cr\xC3\xA9\xC3\xA9", {"a.txt"}),
            "Fichier \xAB"
            "a.txt\xBB cr\xE9\xE9");
  EXPECT_EQ(Text(atr_raw("\xE3\x82\xBD\xE3\x83\xBC ok\\@key")), "?? ok");
  // Invalid UTF-8 is shown as it stands.
  EXPECT_EQ(Text(atr_raw("bad \xC3 byte")), "bad \xC3 byte");
}

// Random messages from pieces whose output is known: literal text, "%%", placeholders
// with numbers (a permutation) or without, malformed sequences and a final "%". Each
// placeholder number n is filled with "<n>", justified as its flags say.
class MessageModel {
 public:
  explicit MessageModel(unsigned seed) : random_(seed) {}

  void Run(int rounds) {
    for (int round = 0; round < rounds; ++round) {
      Build();
      atr_translate t(message_.c_str());
      for (size_t n = 1; n <= slots_; ++n) {
        atr_SubstituteFormat(t, static_cast<int>(n), Value(n).c_str());
      }
      ASSERT_EQ(Text(t.Result()), Expected()) << "message: " << message_;
      for (size_t n = 1; n <= slots_; ++n) {
        ASSERT_NE(t.Format(static_cast<int>(n)), nullptr) << message_;
      }
      ASSERT_EQ(t.Format(static_cast<int>(slots_) + 1), nullptr) << message_;
    }
  }

 private:
  struct Piece {
    std::string text;    // as written
    std::string output;  // literal output
    int slot = 0;        // 1.. for a placeholder (its number), else 0
    int width = 0;
    bool left = false;
  };

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  static std::string Value(size_t n) { return "<" + std::to_string(n) + ">"; }

  void Build() {
    pieces_.clear();
    int count = Pick(7);
    bool numbered = Pick(2) == 0;
    std::vector<int> numbers(count);
    std::iota(numbers.begin(), numbers.end(), 1);
    if (numbered) std::shuffle(numbers.begin(), numbers.end(), random_);
    int next = 0;
    int others = Pick(8);
    for (int i = 0; i < count + others; ++i) {
      if (next < count && (Pick(2) == 0 || i >= others)) {
        pieces_.push_back(Placeholder(numbers[next++], numbered));
      } else {
        pieces_.push_back(Other());
      }
    }
    while (next < count) pieces_.push_back(Placeholder(numbers[next++], numbered));
    slots_ = count;
    message_.clear();
    for (auto const& p : pieces_) message_ += p.text;
    if (Pick(5) == 0) message_ += "%";
  }

  Piece Placeholder(int number, bool numbered) {
    Piece p;
    p.slot = number;
    p.text = "%";
    if (numbered) p.text += std::to_string(number) + "$";
    if (Pick(3) == 0) {
      p.left = Pick(2) == 0;
      p.width = Pick(9);
      p.text += (p.left ? "-" : "") + std::to_string(p.width);
    }
    if (Pick(4) == 0) p.text += "l";
    p.text += "s";
    return p;
  }

  Piece Other() {
    Piece p;
    static char const* const kLiterals[] = {"a", "Datei ", " ",  "\xC3\xA9t\xC3\xA9",
                                            "$", "9",      "l.-"};
    static char const kSpoilers[] = "qzQ!, #+*";
    switch (Pick(3)) {
      case 0:
        p.text = p.output = kLiterals[Pick(7)];
        break;
      case 1:
        p.text = "%%";
        p.output = "%";
        break;
      default: {
        char spoiler = kSpoilers[Pick(sizeof kSpoilers - 1)];
        p.text = "%";
        if (Pick(2) == 0) p.text += std::to_string(Pick(12)) + "$";
        if (Pick(2) == 0) p.text += "-12.l";
        p.text += spoiler;
        p.output = std::string(1, spoiler);
        break;
      }
    }
    return p;
  }

  std::string Expected() const {
    // Without any "%" that something other than "%" follows, the text stays as written.
    bool candidate = false;
    for (size_t i = 0; i + 1 < message_.size(); ++i) {
      candidate = candidate || (message_[i] == '%' && message_[i + 1] != '%');
    }
    if (!candidate) return message_;
    std::string out;
    for (auto const& p : pieces_) {
      if (p.slot == 0) {
        out += p.output;
        continue;
      }
      std::string value = Value(p.slot);
      int padding = p.width > int(value.size()) ? p.width - int(value.size()) : 0;
      out += p.left ? value + std::string(padding, ' ') : std::string(padding, ' ') + value;
    }
    return out;
  }

  std::mt19937 random_;
  std::vector<Piece> pieces_;
  std::string message_;
  size_t slots_ = 0;
};

TEST(TranslateModel, RandomMessagesGiveWhatTheirPiecesSay) {
  LocaleGuard guard;
  USE_LOCALE_OR_SKIP(guard, "C.UTF-8");
  MessageModel(31337).Run(20000);
}

}  // namespace
