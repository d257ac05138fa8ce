#include "numbers.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <system_error>

namespace mirtolk::rt {
namespace {

// A number text reduced to sign, significant digits and a decimal exponent:
// value = 0.digits x 10^pointExp. No leading or trailing zeros are kept, so
// empty digits means zero and pointExp alone tells the order of magnitude.
struct Decimal {
    bool negative = false;
    std::string digits;
    std::int64_t pointExp = 0;
};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Far beyond any exponent that matters, yet one more digit past it and then
// adding a text length still fit comfortably in int64.
constexpr std::int64_t kExponentCap = 100'000'000'000'000'000;

// The one reader behind IsNumeric and both conversions: a single pass over
// the text, comparing code units only against ASCII, so NULs, surrogates and
// other digit sets simply fail to match.
std::optional<Decimal> Parse(TextView text) {
    std::size_t i = 0, end = text.size();
    while (i < end && IsBlank(text[i])) ++i;
    while (end > i && IsBlank(text[end - 1])) --end;

    Decimal d;
    if (i < end && (text[i] == u'+' || text[i] == u'-')) d.negative = text[i++] == u'-';

    std::size_t intCount = 0;
    bool seenPoint = false;
    for (; i < end; ++i) {
        const char16_t c = text[i];
        if (IsDigit(c)) {
            d.digits.push_back(static_cast<char>('0' + (c - u'0')));
            if (!seenPoint) ++intCount;
        } else if (c == u'.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
    }
    if (d.digits.empty()) return std::nullopt;

    std::int64_t exponent = 0;
    if (i < end && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        bool negativeExp = false;
        if (i < end && (text[i] == u'+' || text[i] == u'-')) negativeExp = text[i++] == u'-';
        if (i == end || !IsDigit(text[i])) return std::nullopt;
        for (; i < end && IsDigit(text[i]); ++i)
            if (exponent < kExponentCap) exponent = exponent * 10 + (text[i] - u'0');
        if (negativeExp) exponent = -exponent;
    }
    if (i != end) return std::nullopt;

    const std::size_t first = d.digits.find_first_not_of('0');
    if (first == std::string::npos) {
        d.digits.clear();
        return d;
    }
    d.digits.erase(d.digits.find_last_not_of('0') + 1);
    d.digits.erase(0, first);
    d.pointExp = static_cast<std::int64_t>(intCount) - static_cast<std::int64_t>(first) + exponent;
    return d;
}

}  // namespace

bool IsNumeric(TextView text) { return Parse(text).has_value(); }

double TextToDouble(TextView text) {
    const auto d = Parse(text);
    if (!d) return std::numeric_limits<double>::quiet_NaN();
    const double sign = d->negative ? -1.0 : 1.0;
    constexpr double inf = std::numeric_limits<double>::infinity();
    // Decide the hopeless magnitudes ourselves so from_chars only ever sees a
    // small exponent, whatever the text's exponent digits looked like.
    if (d->digits.empty() || d->pointExp < -400) return sign * 0.0;
    if (d->pointExp > 400) return sign * inf;

    const std::string buffer = "0." + d->digits + 'e' + std::to_string(d->pointExp);
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(buffer.data(), buffer.data() + buffer.size(), value);
    // Out of range leaves value untouched; which way it fell over is known
    // from the magnitude: values >= 1 can only overflow, values < 1 underflow.
    if (ec == std::errc::result_out_of_range) return d->pointExp > 0 ? sign * inf : sign * 0.0;
    if (ec != std::errc() || ptr != buffer.data() + buffer.size())
        return std::numeric_limits<double>::quiet_NaN();
    return sign * value;
}

std::optional<std::int32_t> TextToInt32(TextView text) {
    const auto d = Parse(text);
    if (!d) return std::nullopt;
    if (d->digits.empty() || d->pointExp < 0) return 0;  // below 0.1 rounds to 0
    if (d->pointExp > 10) return std::nullopt;           // at least 10^10

    // pointExp <= 10 digits before the point always fit in int64.
    const auto intLen = static_cast<std::size_t>(d->pointExp);
    std::int64_t whole = 0;
    for (std::size_t k = 0; k < intLen; ++k)
        whole = whole * 10 + (k < d->digits.size() ? d->digits[k] - '0' : 0);

    // The digits after the point decide the rounding: without trailing zeros,
    // a lone '5' there is an exact half.
    if (intLen < d->digits.size()) {
        const char next = d->digits[intLen];
        const bool exactHalf = next == '5' && intLen + 1 == d->digits.size();
        if (next > '5' || (next == '5' && !exactHalf) || (exactHalf && whole % 2 != 0)) ++whole;
    }
    if (d->negative) whole = -whole;
    if (whole < std::numeric_limits<std::int32_t>::min() || whole > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(whole);
}

Text FormatByPattern(double value, TextView pattern) {
    std::size_t intZeros = 0;
    while (intZeros < pattern.size() && pattern[intZeros] == u'0') ++intZeros;
    std::size_t fracZeros = 0;
    if (intZeros < pattern.size() && pattern[intZeros] == u'.') {
        while (intZeros + 1 + fracZeros < pattern.size() && pattern[intZeros + 1 + fracZeros] == u'0') ++fracZeros;
        if (fracZeros == 0) throw std::invalid_argument("number pattern needs a zero after '.'");
    }
    if (intZeros == 0 || intZeros + (fracZeros ? 1 + fracZeros : 0) != pattern.size())
        throw std::invalid_argument("number pattern must look like 0, 0.0, 00.000, ...");

    // No digits can show these, so they get words; callers display them as is.
    if (std::isnan(value)) return u"NaN";
    if (std::isinf(value)) return value < 0 ? u"-Infinity" : u"Infinity";

    // Sign, up to 309 integer digits, the point and the decimals.
    std::string out(fracZeros + 320, '\0');
    const auto [ptr, ec] = std::to_chars(out.data(), out.data() + out.size(), value,
                                         std::chars_format::fixed, static_cast<int>(fracZeros));
    if (ec != std::errc()) throw std::runtime_error("number does not fit its buffer");
    out.resize(static_cast<std::size_t>(ptr - out.data()));

    // A value that rounds to nothing but zeros is shown without a sign.
    if (out.front() == '-' && out.find_first_not_of("0.", 1) == std::string::npos) out.erase(0, 1);
    const std::size_t signLen = out.front() == '-' ? 1 : 0;
    const std::size_t intDigits = std::min(out.find('.'), out.size()) - signLen;
    if (intDigits < intZeros) out.insert(signLen, intZeros - intDigits, '0');

    return Text(out.begin(), out.end());
}

}  // namespace mirtolk::rt
