// One question put to the finished table: the two count texts as typed.
#pragma once

#include <optional>

#include "game_value.hpp"
#include "numbers.hpp"

namespace mirtolk {

inline constexpr char16_t ErrorText[] = u"Error";
inline constexpr char16_t AnswerPattern[] = u"0.000000";

// The answer laid out by AnswerPattern, or nullopt when either text is
// rejected: not a number, above MaxCount, or a whole-number conversion with no
// cell in the table (below -1, or beyond 32 bits).
std::optional<rt::Text> AnswerQuery(rt::TextView white, rt::TextView black,
                                    const GameValueTable& table);

// What the result box shows: the answer or ErrorText.
rt::Text QueryText(rt::TextView white, rt::TextView black, const GameValueTable& table);

}  // namespace mirtolk
