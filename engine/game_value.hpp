// The table of optimal expected final scores of the urn game.
#pragma once

#include <cfloat>
#include <cstddef>
#include <new>
#include <string>

// Every operation of the table must round to double on its own. Where the
// compiler evaluates in a wider format (x87 on 32-bit x86: FLT_EVAL_METHOD 2),
// intermediate results would keep extra bits and the table would differ.
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "The table needs floating point evaluated in double (FLT_EVAL_METHOD == 0); on 32-bit x86 build with -msse2 -mfpmath=sse"
#endif

namespace mirtolk {

// The largest count of either colour: the last count the table computes in
// each direction and the largest count a query accepts.
inline constexpr int MaxCount = 5000;

// Each index runs from -1 to MaxCount; the -1 border is never written and
// stays +0.0, so a count of -1 reads 0.
inline constexpr int TableSide = MaxCount + 2;
inline constexpr std::size_t TableCells = std::size_t{TableSide} * TableSide;
inline constexpr std::size_t TableBytes = TableCells * sizeof(double);

// The table's block could not be had. Distinct from a plain bad_alloc so that
// start-up can tell the user what was needed.
class TableAllocationError : public std::bad_alloc {
 public:
  explicit TableAllocationError(std::size_t bytes_needed);
  const char* what() const noexcept override { return message_.c_str(); }
  std::size_t bytes_needed() const noexcept { return bytes_needed_; }

 private:
  std::size_t bytes_needed_;
  std::string message_;
};

// GameValue: one contiguous block, white count varying fastest, so cell
// (w - 1, b) sits one position before (w, b) and (w, b - 1) one TableSide
// before it. Every cell is +0.0 from construction until BuildGameValue.
class GameValueTable {
 public:
  GameValueTable();  // throws TableAllocationError
  ~GameValueTable();
  GameValueTable(const GameValueTable&) = delete;
  GameValueTable& operator=(const GameValueTable&) = delete;

  static constexpr std::size_t Index(int white, int black) noexcept {
    return static_cast<std::size_t>(white + 1) +
           std::size_t{TableSide} * static_cast<std::size_t>(black + 1);
  }

  // No range check: callers keep both counts within -1..MaxCount.
  double operator()(int white, int black) const noexcept { return cells_[Index(white, black)]; }

  double* data() noexcept { return cells_; }
  const double* data() const noexcept { return cells_; }

 private:
  double* cells_;
};

// Fills a table that is still all +0.0, along the fastest path this CPU runs
// and on all its cores (build_paths.hpp); every thread has finished when it
// returns. Runs once per table: each cell adds to its previous content, so a
// second run would give wrong values.
void BuildGameValue(GameValueTable& table);

}  // namespace mirtolk
