#include "query.hpp"

namespace mirtolk {

namespace {

bool WithinLimit(rt::TextView count) { return rt::TextToDouble(count) <= double{MaxCount}; }

bool HasCell(std::optional<std::int32_t> index) {
  return index && *index >= -1 && *index <= MaxCount;
}

}  // namespace

std::optional<rt::Text> AnswerQuery(rt::TextView white, rt::TextView black,
                                    const GameValueTable& table) {
  if (!rt::IsNumeric(white) || !rt::IsNumeric(black)) return std::nullopt;
  // The limit sees the exact value, so 5000.4 is rejected although it would
  // round to 5000.
  if (!WithinLimit(white) || !WithinLimit(black)) return std::nullopt;

  const auto black_index = rt::TextToInt32(black);
  const auto white_index = rt::TextToInt32(white);
  // Nothing above bounds a count from below; a count under -1 has no cell, and
  // reading one would show a value that belongs to other counts.
  if (!HasCell(white_index) || !HasCell(black_index)) return std::nullopt;

  return rt::FormatByPattern(table(*white_index, *black_index), AnswerPattern);
}

rt::Text QueryText(rt::TextView white, rt::TextView black, const GameValueTable& table) {
  return AnswerQuery(white, black, table).value_or(ErrorText);
}

}  // namespace mirtolk
