#include "numbers.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <locale>
#include <optional>
#include <stdexcept>
#include <string>

namespace mirtolk::rt {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kTiny = std::numeric_limits<double>::denorm_min();
constexpr std::int32_t kIntMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kIntMax = std::numeric_limits<std::int32_t>::max();

Text Repeat(char16_t c, std::size_t n) { return Text(n, c); }
std::string Narrow(TextView t) { return std::string(t.begin(), t.end()); }  // for messages only

// 2^1024 - 2^970: exactly halfway between the largest double and 2^1024.
const Text kOverflowTie =
    u"179769313486231580793728971405303415079934132710037826936173778980444968292764750946649017977"
    u"5872070"
    u"963302864166928879109465555478519404026306574886715058206819089020007083836762738548458177115"
    u"3176447"
    u"573027006985557136695962284291481986083493647529271907416844436551070434271155969950809304288"
    u"0177904"
    u"174497792";

// ---------------------------------------------------------------- IsNumeric

struct NumericCase {
  Text text;
  bool numeric;
};

TEST(IsNumeric, AcceptsOnlyPlainDecimalNumbers) {
  const NumericCase cases[] = {
      {u"0", true},
      {u" 12 ", true},
      {u"\t7\t", true},
      {u" \t -1.5e-3 \t ", true},
      {u"+3", true},
      {u"-1", true},
      {u"1.", true},
      {u".5", true},
      {u"-.5", true},
      {u"1e3", true},
      {u"1E+3", true},
      {u"1e-3", true},
      {u"1.e3", true},
      {u".5e0", true},
      {u"007", true},
      {u"1e0000000000000000000005", true},
      {u"", false},
      {u"  ", false},
      {u"\t", false},
      {u".", false},
      {u"+", false},
      {u"-", false},
      {u"+.", false},
      {u".e1", false},
      {u"e5", false},
      {u"1e", false},
      {u"1e+", false},
      {u"1e-", false},
      {u"1e5.5", false},
      {u"1e5e5", false},
      {u"1 e5", false},
      {u"1e 5", false},
      {u"1.2.3", false},
      {u"1,000", false},
      {u"1,5", false},
      {u"0x10", false},
      {u"&H10", false},
      {u"1d5", false},
      {u"$5", false},
      {u"5%", false},
      {u"(5)", false},
      {u"5-", false},
      {u"inf", false},
      {u"-Infinity", false},
      {u"nan", false},
      {u"\n5", false},
      {u"5\r", false},
      {u"\v5", false},
      {u"\u00a05", false},   // no-break space
      {u"5\u3000", false},   // ideographic space
      {u"\uff15", false},    // full-width 5
      {u"\u0665", false},    // Arabic-Indic 5
      {u"\u00b2", false},    // superscript two
      {u"1\uff0e5", false},  // full-width full stop
      {u"5 5", false},
      {u"--5", false},
      {u"+-5", false},
      {u"- 5", false},
      {u"1e--5", false},
      {Text(u"1\0"
            u"2",
            3),
       false},
      {Text(u"12\0", 3), false},
      {Text{u'5', char16_t(0xD800)}, false},           // lone high surrogate
      {Text{char16_t(0xDC00), u'5'}, false},           // lone low surrogate
      {Text{u'5', char16_t(0x0035 + 0x0100)}, false},  // low byte looks like '5'
      {Repeat(u'9', 32767), true},
      {Repeat(u'x', 32767), false},
      {u"1" + Repeat(u'x', 32766), false},
      {Repeat(u'0', 1'000'000), true},
      {Repeat(u' ', 16000) + u"1" + Repeat(u'\t', 16000), true},
      {Repeat(u'1', 20000) + u"." + Repeat(u'1', 20000) + u"e" + Repeat(u'9', 20000), true},
      {Repeat(u'1', 20000) + u"." + Repeat(u'1', 20000) + u"." + Repeat(u'9', 20000), false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsNumeric(c.text), c.numeric) << '"' << Narrow(c.text.substr(0, 40)) << '"';
}

// ---------------------------------------------------------------- TextToDouble

struct DoubleCase {
  Text text;
  double value;
};

TEST(TextToDouble, IsCorrectlyRoundedAndSaturates) {
  const DoubleCase cases[] = {
      {u" 12 ", 12.0},
      {u"+1.5", 1.5},
      {u"\t-2\t", -2.0},
      {u"1.", 1.0},
      {u".5", 0.5},
      {u"-0", -0.0},
      {u"+0.000", 0.0},
      {u"0.1", 0.1},
      {u"1e3", 1000.0},
      {u"1E+3", 1000.0},
      {u"25e-1", 2.5},
      {u"00000000000000000000000000000123.4500000000000000000000", 123.45},
      {u"1e0000000000000000000005", 1e5},
      {u"1e-99999999999999999999", 0.0},
      {u"-1e-99999999999999999999", -0.0},
      {u"0e999999", 0.0},
      {u"-0e999999", -0.0},
      {u"0e99999999999999999999999999999", 0.0},
      {u"1e999999", kInf},
      {u"-1e400", -kInf},
      {u"1e99999999999999999999999999", kInf},
      {u"1.7976931348623157e308", kMax},
      {u"1.7976931348623158e308", kMax},
      {u"1.7976931348623159e308", kInf},
      {u"-1.7976931348623159e308", -kInf},
      {kOverflowTie, kInf},  // tie goes to the even neighbour, 2^1024
      {u"-" + kOverflowTie, -kInf},
      {kOverflowTie.substr(0, kOverflowTie.size() - 1) + u"1", kMax},
      {kOverflowTie + u".0000000000000000000000000000000000001", kInf},
      {u"2.2250738585072011e-308", 0x0.fffffffffffffp-1022},
      {u"4.9406564584124654e-324", kTiny},
      {u"3e-324", kTiny},
      {u"2.4703282292062328e-324", kTiny},  // just above half the smallest
      {u"2.4703282292062327e-324", 0.0},    // just below half the smallest
      {u"2e-324", 0.0},
      {u"-2e-324", -0.0},
      {u"9007199254740993", 9007199254740992.0},  // 2^53 + 1: tie to even
      {u"9007199254740995", 9007199254740996.0},
      {u"9007199254740993.00000000000000000000001", 9007199254740994.0},
      {u"9007199254740992.99999999999999999999999", 9007199254740992.0},
      {u"1" + Repeat(u'0', 400) + u"e-400", 1.0},
      {u"0." + Repeat(u'0', 999'999) + u"1e1000000", 1.0},
      {Repeat(u'0', 1'000'000) + u"5", 5.0},
      {Repeat(u'1', 32767), kInf},
      {u"0." + Repeat(u'0', 32765) + u"1", 0.0},
      {u"1e" + Repeat(u'0', 30000) + u"5", 1e5},
  };
  for (const auto& c : cases) {
    const double got = TextToDouble(c.text);
    // Bit equality also tells +0 from -0.
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(c.value))
        << '"' << Narrow(c.text.substr(0, 40)) << "\" gave " << got << ", want " << c.value;
  }
}

TEST(TextToDouble, RejectedTextDoesNotCrash) {
  for (const Text& t : {Text(), Text(u"abc"), Text(u"1e"), Text{char16_t(0xD800)}}) {
    const double got = TextToDouble(t);
    EXPECT_TRUE(std::isnan(got) || got == 0.0) << Narrow(t);
  }
}

// ---------------------------------------------------------------- TextToInt32

struct IntCase {
  Text text;
  std::optional<std::int32_t> value;
};

TEST(TextToInt32, RoundsTheExactDecimalHalfToEven) {
  const IntCase cases[] = {
      {u"  -7  ", -7},
      {u"0", 0},
      {u"0.5", 0},
      {u"0.6", 1},
      {u"1.5", 2},
      {u"2.5", 2},
      {u"3.5", 4},
      {u"-1.5", -2},
      {u"-2.5", -2},
      {u"-0.4", 0},
      {u"-0.5", 0},
      {u"-0.6", -1},
      {u"0.05", 0},
      {u".5e1", 5},
      {u"5e-1", 0},
      {u"15e-1", 2},
      {u"25e-1", 2},
      {u"1.5e0", 2},
      {u"0.0000000000000000000000015e24", 2},
      // Doubles would see 2.5 and 3.5 here and round the other way.
      {u"2.5000000000000000001", 3},
      {u"2.4999999999999999999", 2},
      {u"3.4999999999999999999", 3},
      {u"-2.5000000000000000001", -3},
      {u"123456789012345678901234567890e-21", 123456789},
      {u"1e9", 1000000000},
      {u"2147483647", kIntMax},
      {u"2147483647.4999999999999999999", kIntMax},
      {u"2147483647.5", std::nullopt},
      {u"2147483646.5", 2147483646},
      {u"2147483645.5", 2147483646},
      {u"2147483648", std::nullopt},
      {u"-2147483648", kIntMin},
      {u"-2147483648.5", kIntMin},
      {u"-2147483648.6", std::nullopt},
      {u"-2147483649", std::nullopt},
      {u"9999999999", std::nullopt},
      {u"1e10", std::nullopt},
      {u"-1e400", std::nullopt},
      {u"1e99999999999999999999999", std::nullopt},
      {u"0e99999999999999999999", 0},
      {u"1e-99999999999999", 0},
      {u"5e000000000000000000000000000000000000000", 5},
      {u"4.5e0000000000000000000000000000000000000001", 45},
      {Repeat(u'0', 100000) + u"5", 5},
      {Repeat(u'0', 100000) + u"2.5" + Repeat(u'0', 100000), 2},
      {u"0." + Repeat(u'0', 999'999) + u"15e1000000", 2},
      {u"1" + Repeat(u'0', 32766), std::nullopt},
      {u"0." + Repeat(u'0', 32765) + u"9", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextToInt32(c.text), c.value) << '"' << Narrow(c.text.substr(0, 40)) << '"';
  }
}

TEST(TextToInt32, RejectedTextDoesNotCrash) {
  EXPECT_EQ(TextToInt32(u"1,5"), std::nullopt);
  EXPECT_EQ(TextToInt32(u""), std::nullopt);
}

// ---------------------------------------------------------------- FormatByPattern

struct FormatCase {
  double value;
  Text pattern;
  Text text;
};

TEST(FormatByPattern, RoundsTheExactBinaryValue) {
  const FormatCase cases[] = {
      // What the program shows for its usual figures.
      {0.0, u"0.000000", u"0.000000"},
      {1.0, u"0.000000", u"1.000000"},
      {5000.0, u"0.000000", u"5000.000000"},
      {0.5, u"0.000000", u"0.500000"},
      {1.3333333333333333, u"0.000000", u"1.333333"},
      {0.6666666666666666, u"0.000000", u"0.666667"},
      {7.27972027972028, u"0.000000", u"7.279720"},
      {36.90021846438642, u"0.000000", u"36.900218"},
      {4999.000199960014, u"0.000000", u"4999.000200"},
      {0.0021450685171595096, u"0.000000", u"0.002145"},
      // Exact binary ties go to the even digit.
      {0.5, u"0", u"0"},
      {1.5, u"0", u"2"},
      {2.5, u"0", u"2"},
      {3.5, u"0", u"4"},
      {-1.5, u"0", u"-2"},
      {-2.5, u"0", u"-2"},
      {4503599627370495.5, u"0", u"4503599627370496"},
      {0.125, u"0.00", u"0.12"},
      {0.375, u"0.00", u"0.38"},
      {0.625, u"0.00", u"0.62"},
      {0.875, u"0.00", u"0.88"},
      {0.0625, u"0.000", u"0.062"},
      {0.1875, u"0.000", u"0.188"},
      {0.0078125, u"0.000000", u"0.007812"},  // 1/128
      {0.0234375, u"0.000000", u"0.023438"},  // 3/128
      {0.0390625, u"0.000000", u"0.039062"},  // 5/128
      {1.0078125, u"0.000000", u"1.007812"},
      {-0.0078125, u"0.000000", u"-0.007812"},
      // Decimal-looking ties are not ties in binary.
      {2.675, u"0.00", u"2.67"},   // stored just below
      {1.005, u"0.00", u"1.00"},   // stored just below
      {2.345, u"0.00", u"2.35"},   // stored just above
      {0.05, u"000.0", u"000.1"},  // stored just above
      {5e-7, u"0.000000", u"0.000000"},
      {-5e-7, u"0.000000", u"0.000000"},
      // Whole digits: padded, never grouped, never in exponent form.
      {5.0, u"00.0", u"05.0"},
      {-5.0, u"000", u"-005"},
      {0.5, u"00", u"00"},
      {-0.4, u"00", u"00"},
      {12345.0, u"00", u"12345"},
      {123.456, u"0", u"123"},
      {123456789012.0, u"0.00", u"123456789012.00"},
      {1e21, u"0", u"1000000000000000000000"},
      {1e300, u"0",
       u"100000000000000005250476025520442024870446858110815915491585411551180245798890819578637137"
       u"5080447864"
       u"043704443832883878176942523235360430575644792184786706982848387200926575803737830233794788"
       u"0900593689"
       u"532349707999450811190389676408800746527427801424945792587888200568428381156694721963868654"
       u"5940054016"
       u"0"},
      {-kMax, u"0.000000",
       u"-17976931348623157081452742373170435679807056752584499659891747680315726078002853876058955"
       u"8632766878"
       u"171540458953514382464234321326889464182768467546703537516986049910576551282076245490090389"
       u"3289440758"
       u"685084551339423045832369032229481658085593321233482747978262041447231687381771809192998812"
       u"5040402618"
       u"4124858368.000000"},
      // Rounds to nothing but zeros: no sign.
      {-0.0000001, u"0.000000", u"0.000000"},
      {-0.0, u"0.000000", u"0.000000"},
      {-0.0, u"0", u"0"},
      {-kTiny, u"0.000000", u"0.000000"},
      {-0.49, u"0", u"0"},
      {-0.5, u"0", u"0"},
      // The full binary expansion when enough places are asked for.
      {0.1, u"0." + Repeat(u'0', 55), u"0.1000000000000000055511151231257827021181583404541015625"},
      {0.1, u"0." + Repeat(u'0', 58),
       u"0.1000000000000000055511151231257827021181583404541015625000"},
      {0x1p-30, u"0." + Repeat(u'0', 30), u"0.000000000931322574615478515625"},
      {0x1p-30, u"0." + Repeat(u'0', 29), u"0.00000000093132257461547851562"},
      // Not numbers; callers show these words as they are.
      {kInf, u"0.000000", u"Infinity"},
      {-kInf, u"0", u"-Infinity"},
      {std::numeric_limits<double>::quiet_NaN(), u"0.00", u"NaN"},
      {-std::numeric_limits<double>::quiet_NaN(), u"0.00", u"NaN"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatByPattern(c.value, c.pattern), c.text)
        << c.value << " with \"" << Narrow(c.pattern.substr(0, 20)) << '"';
  }
}

TEST(FormatByPattern, ShowsEveryDigitOfTheSmallestDouble) {
  // 2^-1074 has 1074 decimals, 323 leading zeros and a final 5.
  const Text text = FormatByPattern(kTiny, u"0." + Repeat(u'0', 1100));
  ASSERT_EQ(text.size(), 2u + 1100u);
  EXPECT_EQ(text.substr(0, 2 + 323), u"0." + Repeat(u'0', 323));
  EXPECT_EQ(text.substr(2 + 323, 17), u"49406564584124654");
  EXPECT_EQ(text.substr(2 + 1073), u"5" + Repeat(u'0', 26));
}

TEST(FormatByPattern, RejectsOtherPatterns) {
  const Text bad[] = {u"",    u".",   u".0",           u"0.",
                      u"#",   u"0.#", u"#.00",         u"0.0.0",
                      u"0,0", u"0 ",  u" 0",           u"00.00a",
                      u"0e0", u"0%",  u"\uff10",       u"0.\uff10",
                      u"1",   u"0.1", Text(u"0\0", 2), Text{u'0', char16_t(0xD800)}};
  for (const Text& p : bad)
    EXPECT_THROW(FormatByPattern(1.0, p), std::invalid_argument) << '"' << Narrow(p) << '"';
}

// ---------------------------------------------------------------- locale independence

void ExpectLocaleFree() {
  EXPECT_TRUE(IsNumeric(u"1.5"));
  EXPECT_FALSE(IsNumeric(u"1,5"));
  EXPECT_EQ(TextToDouble(u"1.5"), 1.5);
  EXPECT_EQ(TextToDouble(u"-1234.5e-1"), -123.45);
  EXPECT_EQ(TextToInt32(u"2.5"), 2);
  EXPECT_EQ(FormatByPattern(1234.5, u"0.00"), u"1234.50");
  EXPECT_EQ(FormatByPattern(1234567.0, u"0"), u"1234567");
}

// Puts the C and C++ global locales back whatever a test did to them.
class LocaleGuard {
 public:
  LocaleGuard() : cxx_(std::locale()), c_(std::setlocale(LC_ALL, nullptr)) {}
  ~LocaleGuard() {
    std::locale::global(cxx_);
    std::setlocale(LC_ALL, c_.c_str());
  }

 private:
  std::locale cxx_;
  std::string c_;
};

struct CommaPoint : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(Locale, CommaDecimalCxxLocaleChangesNothing) {
  const LocaleGuard guard;
  std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
  ExpectLocaleFree();
}

TEST(Locale, CommaDecimalSystemLocaleChangesNothing) {
  const LocaleGuard guard;
  for (const char* name :
       {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8"}) {
    if (std::setlocale(LC_ALL, name) && *std::localeconv()->decimal_point == ',') {
      try {
        std::locale::global(std::locale(name));
      } catch (const std::runtime_error&) {
        // The C locale alone is still worth checking.
      }
      ExpectLocaleFree();
      return;
    }
  }
  GTEST_SKIP() << "no locale with a decimal comma is installed";
}

}  // namespace
}  // namespace mirtolk::rt
