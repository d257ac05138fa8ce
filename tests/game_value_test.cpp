#include "game_value.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "build_paths.hpp"
#include "built_table.hpp"

namespace mirtolk {
namespace {

using test::BuiltTable;

// The game written out as plainly as possible, on its own storage and
// indexing, so that any faster build can be held against it bit for bit.
struct ReferenceTable {
  static constexpr int n = MaxCount;
  std::vector<double> cells = std::vector<double>(TableCells, 0.0);
  long clamped = 0;

  double& at(int w, int b) { return cells[(w + 1) + (n + 2) * static_cast<long>(b + 1)]; }

  ReferenceTable() {
    for (int w = 1; w <= n; ++w) at(w, 0) = static_cast<double>(w);
    for (int b = 1; b <= n; ++b) {
      for (int w = 1; w <= n; ++w) {
        const double s = static_cast<double>(w + b);
        double a = at(w - 1, b) + 1.0;
        a = a * w;
        a = a / s;
        double d = at(w, b - 1) - 1.0;
        d = d * b;
        d = d / s;
        const double t = (at(w, b) + a) + d;
        if (t < 0.0) {
          at(w, b) = 0.0;
          ++clamped;
        } else {
          at(w, b) = t;
        }
      }
    }
  }
};

const ReferenceTable& Reference() {
  static const auto* ref = new ReferenceTable;
  return *ref;
}

TEST(GameValueTable, StartsAllPositiveZero) {
  GameValueTable fresh;
  const auto* bytes = reinterpret_cast<const unsigned char*>(fresh.data());
  for (std::size_t i = 0; i < TableBytes; ++i) ASSERT_EQ(bytes[i], 0u) << "byte " << i;
}

TEST(GameValueTable, MemoryOrderHasWhiteFastest) {
  EXPECT_EQ(GameValueTable::Index(-1, -1), 0u);
  EXPECT_EQ(GameValueTable::Index(0, -1), 1u);
  EXPECT_EQ(GameValueTable::Index(-1, 0), 5002u);
  EXPECT_EQ(GameValueTable::Index(MaxCount, MaxCount), TableCells - 1);
  EXPECT_EQ(TableBytes, 200'160'032u);
}

TEST(GameValueTable, AllocationErrorSaysWhatWasNeeded) {
  const TableAllocationError e(TableBytes);
  EXPECT_EQ(e.bytes_needed(), TableBytes);
  EXPECT_NE(std::string(e.what()).find("200160032 bytes"), std::string::npos) << e.what();
  EXPECT_NE(std::string(e.what()).find("table of game values"), std::string::npos) << e.what();
}

TEST(BuildGameValue, MatchesPlainBuildBitForBit) {
  const auto& ref = Reference();
  ASSERT_EQ(std::memcmp(BuiltTable().data(), ref.cells.data(), TableBytes), 0);
}

// Every path this machine can run, each forced, into a fresh block, with one
// thread, with 2, 3, 4 and 8 (odd counts leave one thread a strip behind the
// others), and with more threads than cores: the strips' hand-over must give
// the same table however the threads happen to be scheduled.
struct PathRun {
  BuildPath path;
  unsigned threads;
};

std::vector<PathRun> PathRuns() {
  std::vector<PathRun> runs;
  for (BuildPath path : AvailableBuildPaths()) {
    if (path == BuildPath::Plain) {
      runs.push_back({path, 1});
      continue;
    }
    std::set<unsigned> counts = {1, 2, 3, 4, 8, DefaultBuildThreads(), DefaultBuildThreads() + 2};
    for (unsigned threads : counts) runs.push_back({path, threads});
  }
  return runs;
}

class EveryBuildPath : public ::testing::TestWithParam<PathRun> {};

TEST_P(EveryBuildPath, MatchesPlainBuildBitForBit) {
  const auto& ref = Reference();
  GameValueTable table;
  BuildGameValue(table, GetParam().path, GetParam().threads);
  ASSERT_EQ(std::memcmp(table.data(), ref.cells.data(), TableBytes), 0);
}

INSTANTIATE_TEST_SUITE_P(Forced, EveryBuildPath, ::testing::ValuesIn(PathRuns()),
                         [](const ::testing::TestParamInfo<PathRun>& info) {
                           return std::string(BuildPathName(info.param.path)) + "_" +
                                  "threads" + std::to_string(info.param.threads);
                         });

struct Cell {
  int w, b;
  double value;
};

class KnownCells : public ::testing::TestWithParam<Cell> {};

TEST_P(KnownCells, AreExactDoubles) {
  const Cell c = GetParam();
  const double got = BuiltTable()(c.w, c.b);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(c.value))
      << "cell (" << c.w << ", " << c.b << ") = " << got;
}

INSTANTIATE_TEST_SUITE_P(
    Table, KnownCells,
    ::testing::Values(Cell{0, 0, 0}, Cell{1, 0, 1}, Cell{0, 1, 0}, Cell{1, 1, 0.5},
                      Cell{2, 1, 1.3333333333333333}, Cell{1, 2, 0}, Cell{3, 1, 2.25},
                      Cell{3, 2, 1.5}, Cell{2, 3, 0.2}, Cell{2, 2, 0.6666666666666666},
                      Cell{3, 3, 0.85}, Cell{4, 4, 1}, Cell{5, 5, 1.119047619047619},
                      Cell{10, 3, 7.27972027972028}, Cell{3, 10, 0}, Cell{7, 10, 0},
                      Cell{8, 10, 0.35618629736276797}, Cell{10, 10, 1.607227911407478},
                      Cell{20, 10, 10.587623071581092}, Cell{100, 100, 5.191092000553364},
                      Cell{1000, 1000, 16.48949586640435}, Cell{5000, 1, 4999.000199960014},
                      Cell{5000, 2500, 2500.7293530788265}, Cell{4999, 4999, 36.8965263428874},
                      Cell{5000, 4999, 37.60554634615907}, Cell{5000, 5000, 36.90021846438642},
                      Cell{4916, 5000, 0}, Cell{4917, 5000, 0.0021450685171595096},
                      Cell{5000, 0, 5000}, Cell{0, 5000, 0}, Cell{-1, 7, 0}, Cell{7, -1, 0}));

TEST(BuildGameValue, CountsOfZeroCells) {
  const GameValueTable& t = BuiltTable();
  long zeros = 0, computed_zeros = 0;
  for (int b = -1; b <= MaxCount; ++b) {
    for (int w = -1; w <= MaxCount; ++w) {
      if (std::bit_cast<std::uint64_t>(t(w, b)) != 0) continue;
      ++zeros;
      if (w >= 1 && b >= 1) ++computed_zeros;
    }
  }
  EXPECT_EQ(zeros, 12'239'172);
  EXPECT_EQ(computed_zeros, 12'224'168);  // every clamp, plus (1, 2) which sums to exactly zero
  EXPECT_EQ(Reference().clamped, 12'224'167);
}

TEST(BuildGameValue, BorderStaysPositiveZero) {
  const GameValueTable& t = BuiltTable();
  for (int i = -1; i <= MaxCount; ++i) {
    ASSERT_EQ(std::bit_cast<std::uint64_t>(t(-1, i)), 0u) << i;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(t(i, -1)), 0u) << i;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(t(0, i)), 0u) << i;
  }
}

TEST(BuildGameValue, GameProperties) {
  const GameValueTable& t = BuiltTable();
  for (int b = 0; b <= MaxCount; ++b) {
    for (int w = 0; w <= MaxCount; ++w) {
      const double v = t(w, b);
      ASSERT_FALSE(std::signbit(v)) << w << ", " << b;  // no negative value, no -0.0
      ASSERT_GE(v, static_cast<double>(w - b)) << w << ", " << b;
      if (w < MaxCount) {
        ASSERT_GE(t(w + 1, b), v) << w << ", " << b;
      }
      if (b < MaxCount) {
        ASSERT_LE(t(w, b + 1), v) << w << ", " << b;
      }
    }
    ASSERT_EQ(t(b, 0), static_cast<double>(b));
  }
}

TEST(BuildGameValue, SmallestWinningWhiteCount) {
  const GameValueTable& t = BuiltTable();
  const std::pair<int, int> rows[] = {{1, 1},    {2, 2},      {3, 2},      {10, 8},
                                      {100, 89}, {1000, 964}, {5000, 4917}};
  for (auto [b, first] : rows) {
    EXPECT_EQ(t(first - 1, b), 0.0) << "b = " << b;
    for (int w = first; w <= MaxCount; ++w) ASSERT_GT(t(w, b), 0.0) << w << ", " << b;
  }
}

TEST(BuildGameValue, NearestToExactFractions) {
  const GameValueTable& t = BuiltTable();
  EXPECT_EQ(t(3, 3), 17.0 / 20);
  EXPECT_EQ(t(5, 5), 47.0 / 42);
  EXPECT_EQ(t(10, 3), 1041.0 / 143);
  EXPECT_EQ(t(10, 10), 26995.0 / 16796);
}

}  // namespace
}  // namespace mirtolk
