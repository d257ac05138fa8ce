#include "query.hpp"

#include <gtest/gtest.h>

#include <string>

#include "built_table.hpp"

namespace mirtolk {
namespace {

struct Row {
  std::u16string white, black, shown;
};

void PrintTo(const Row& r, std::ostream* os) {
  auto narrow = [](const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out.size() > 40 ? out.substr(0, 40) + "..." : out;
  };
  *os << "white '" << narrow(r.white) << "', black '" << narrow(r.black) << "'";
}

class Query : public ::testing::TestWithParam<Row> {};

TEST_P(Query, ShowsAnswerOrError) {
  const Row& r = GetParam();
  EXPECT_EQ(QueryText(r.white, r.black, test::BuiltTable()), r.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Documented, Query,
    ::testing::Values(Row{u"", u"", u"Error"}, Row{u"", u"3", u"Error"}, Row{u"3", u"", u"Error"},
                      Row{u"abc", u"3", u"Error"}, Row{u"0", u"0", u"0.000000"},
                      Row{u"1", u"0", u"1.000000"}, Row{u"5000", u"0", u"5000.000000"},
                      Row{u"0", u"5000", u"0.000000"}, Row{u"1", u"1", u"0.500000"},
                      Row{u"2", u"1", u"1.333333"}, Row{u"2", u"2", u"0.666667"},
                      Row{u"3", u"3", u"0.850000"}, Row{u"10", u"3", u"7.279720"},
                      Row{u"3", u"10", u"0.000000"}, Row{u"10", u"10", u"1.607228"},
                      Row{u"5000", u"5000", u"36.900218"}, Row{u"5001", u"0", u"Error"},
                      Row{u"0", u"5001", u"Error"}, Row{u"5000.4", u"0", u"Error"},
                      Row{u"5000.0001", u"1", u"Error"}, Row{u"-1", u"7", u"0.000000"},
                      Row{u"7", u"-1", u"0.000000"}, Row{u"4917", u"5000", u"0.002145"},
                      Row{u"5000", u"1", u"4999.000200"}));

// A fraction at or below the limit selects the cell of its nearest whole
// number (ties to even); blanks around a count are not part of it.
INSTANTIATE_TEST_SUITE_P(
    Conversions, Query,
    ::testing::Values(Row{u"10.4", u"3", u"7.279720"}, Row{u"9.6", u"3.4", u"7.279720"},
                      Row{u"9.5", u"3", u"7.279720"}, Row{u"10.5", u"2.5000001", u"7.279720"},
                      Row{u"1e1", u"3.", u"7.279720"}, Row{u" 10\t", u"+3", u"7.279720"},
                      Row{u"4999.6", u"0", u"5000.000000"}, Row{u"5000.0", u"0", u"5000.000000"},
                      Row{u"-0.5", u"0", u"0.000000"}, Row{u"-1.5", u"0", u"Error"},
                      Row{u"5e3", u"5e3", u"36.900218"}, Row{u"1,5", u"1", u"Error"},
                      Row{u"0x10", u"1", u"Error"}, Row{u"\uff11\uff10", u"3", u"Error"}));

// Texts that pass both checks yet stand for no cell: anything whose whole
// number lies below -1, down past the 32-bit range, and values that overflow.
INSTANTIATE_TEST_SUITE_P(
    NoCell, Query,
    ::testing::Values(Row{u"-2", u"0", u"Error"}, Row{u"0", u"-2", u"Error"},
                      Row{u"-2147483648", u"0", u"Error"}, Row{u"0", u"-2147483649", u"Error"},
                      Row{u"-1e10", u"0", u"Error"}, Row{u"-1e400", u"0", u"Error"},
                      Row{u"1e400", u"0", u"Error"}, Row{u"0", u"1e400", u"Error"},
                      Row{u"1e-400", u"0", u"0.000000"},
                      Row{std::u16string(32767, u'9'), u"0", u"Error"},
                      Row{std::u16string(1, u'-').append(32766, u'9'), u"0", u"Error"},
                      Row{std::u16string(32766, u'0') + u"7", u"10", u"0.000000"}));

// Exponents with more digits than 64 bits hold: reading them must neither
// overflow nor wrap into a small exponent. The first row is the fuzzer's own
// find: its exponent overflowed before the trailing letter rejected the text.
INSTANTIATE_TEST_SUITE_P(
    LongExponents, Query,
    ::testing::Values(Row{u"1e00000940000000000000000000\u00da", u"", u"Error"},
                      Row{u"1e9400000000000000000", u"0", u"Error"},
                      Row{u"0", u"1e99999999999999999999", u"Error"},
                      Row{u"1e-9400000000000000000", u"0", u"0.000000"},
                      Row{u"10", u"3e-99999999999999999999", u"10.000000"},
                      Row{u"0.0e99999999999999999999", u"0", u"0.000000"},
                      Row{u"1e0000000000000000000000000000001", u"3", u"7.279720"}));

TEST(Query, AnswerIsAbsentOnlyForRejectedInput) {
  EXPECT_FALSE(AnswerQuery(u"5001", u"0", test::BuiltTable()).has_value());
  EXPECT_EQ(AnswerQuery(u"10", u"3", test::BuiltTable()), std::u16string(u"7.279720"));
}

}  // namespace
}  // namespace mirtolk
