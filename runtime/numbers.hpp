// Number services: reading count texts and laying numbers out by a pattern.
// Plain C++, no Qt, so the engine can use them and tests can drive them directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mirtolk::rt {

// Counted wide-character text, as a text box holds it (UTF-16 code units).
using Text = std::u16string;
using TextView = std::u16string_view;

// True when the text, after leading and trailing spaces and tabs, is an
// optional sign, ASCII digits with at most one '.' and at least one digit,
// then an optional exponent (e/E, optional sign, at least one digit).
bool IsNumeric(TextView text);

// The correctly rounded double of a text that IsNumeric accepted; too large in
// size reads as +-infinity, too small as (signed) zero. Never locale-dependent.
double TextToDouble(TextView text);

// The exact value of a text that IsNumeric accepted, rounded to the nearest
// whole number with ties to even; nullopt when that lies outside int32_t.
std::optional<std::int32_t> TextToInt32(TextView text);

// Lays a value out by a pattern of the form "0", "0.0", "0.000000", ...: as
// many digits after '.' as the pattern has zeros there, rounded from the exact
// binary value with ties to even; at least as many digits before the point as
// the pattern has zeros there; no grouping; '.' whatever the locale.
// Throws std::invalid_argument for any other pattern.
Text FormatByPattern(double value, TextView pattern);

}  // namespace mirtolk::rt
