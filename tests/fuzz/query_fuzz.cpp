// libFuzzer target for the query: any two texts a user could type, against
// one table built once per process.
//
// Input format: the bytes are little-endian UTF-16 code units (a trailing odd
// byte is dropped). The first U+007C '|' splits them: the units before it are
// the white text, those after it the black text; with no '|' everything is
// the white text and the black text is empty. So every code unit but '|' can
// reach the white text (NUL, controls, lone surrogates, right-to-left marks)
// and every code unit at all the black text, at any length.
//
// Checks:
//  - the query never throws, and shows either "Error" or digits, '.', and
//    exactly six digits;
//  - two texts made only of ASCII digits show the cell they name, formatted,
//    when both are at most MaxCount, and "Error" when either is larger.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "game_value.hpp"
#include "query.hpp"

namespace {

using mirtolk::rt::Text;
using mirtolk::rt::TextView;

const mirtolk::GameValueTable& Table() {
  static const mirtolk::GameValueTable* table = [] {
    auto* t = new mirtolk::GameValueTable;
    mirtolk::BuildGameValue(*t);
    return t;
  }();
  return *table;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "query_fuzz: %s\n", what);
  std::abort();
}

bool IsAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool LooksLikeAnswer(TextView shown) {
  const std::size_t point = shown.find(u'.');
  if (point == TextView::npos || point == 0 || shown.size() - point - 1 != 6) return false;
  for (std::size_t i = 0; i < shown.size(); ++i)
    if (i != point && !IsAsciiDigit(shown[i])) return false;
  return true;
}

// The count a text of plain ASCII digits names, or nullopt when it is not
// such a text. Counts above MaxCount come back as MaxCount + 1, however many
// digits they have; leading zeros count for nothing.
std::optional<int> PlainCount(TextView text) {
  if (text.empty()) return std::nullopt;
  int count = 0;
  for (char16_t c : text) {
    if (!IsAsciiDigit(c)) return std::nullopt;
    if (count <= mirtolk::MaxCount) count = count * 10 + (c - u'0');
  }
  return count <= mirtolk::MaxCount ? count : mirtolk::MaxCount + 1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Table();  // build before the first input, so its time is not charged to one
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Text units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));

  const std::size_t bar = units.find(u'|');
  const TextView all(units);
  const TextView white = all.substr(0, bar);
  const TextView black = bar == Text::npos ? TextView() : all.substr(bar + 1);

  const Text shown = mirtolk::QueryText(white, black, Table());
  if (shown != mirtolk::ErrorText && !LooksLikeAnswer(shown)) Fail("shown text is neither Error nor an answer");

  const auto w = PlainCount(white), b = PlainCount(black);
  if (w && b) {
    const bool accepted = *w <= mirtolk::MaxCount && *b <= mirtolk::MaxCount;
    const Text expected = accepted ? mirtolk::rt::FormatByPattern(Table()(*w, *b), mirtolk::AnswerPattern)
                                   : Text(mirtolk::ErrorText);
    if (shown != expected) Fail("plain digit counts do not show their cell");
  }
  return 0;
}
