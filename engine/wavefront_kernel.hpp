// Internal: the wavefront over one strip of columns, written once for every
// instruction set. A path's source file defines MIRTOLK_SIMD_TARGET (the target
// attribute its functions carry) and an Ops type (a vector of doubles and its
// operations), then includes this file. Everything here has internal linkage,
// so the copies compiled for different instruction sets never meet at link time.
#pragma once

#include <algorithm>

#include "wavefront.hpp"

// Built with ThreadSanitizer (GCC says so with a macro, Clang with a feature).
#if defined(__SANITIZE_THREAD__)
#define MIRTOLK_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MIRTOLK_TSAN 1
#endif
#endif
#ifndef MIRTOLK_TSAN
#define MIRTOLK_TSAN 0
#endif

#ifndef MIRTOLK_SIMD_TARGET
#error "define MIRTOLK_SIMD_TARGET before including wavefront_kernel.hpp"
#endif

namespace mirtolk::wavefront {
namespace {

// The rows of one column that lie inside the table, at the two ends of a strip
// where the skew leaves some lanes before row 1 or after row MaxCount.
template <class Ops>
MIRTOLK_SIMD_TARGET void StoreRowsInside(double* cells, int black, int first_white,
                                         typename Ops::V rows) {
  double lane[Ops::kLanes];
  Ops::Store(lane, rows);
  for (int i = 0; i < Ops::kLanes; ++i) {
    const int white = first_white + i;
    if (white >= 1 && white <= MaxCount) cells[GameValueTable::Index(white, black)] = lane[i];
  }
}

// A vector into the table where another thread may read it. ThreadSanitizer
// does not look at accesses wider than 16 bytes, so under it the lanes go one
// by one and it checks the hand-over on every path.
template <class Ops>
MIRTOLK_SIMD_TARGET void StoreShared(double* cells, typename Ops::V v) {
  if constexpr (MIRTOLK_TSAN) {
    double lane[Ops::kLanes];
    Ops::Store(lane, v);
    for (int i = 0; i < Ops::kLanes; ++i) cells[i] = lane[i];
  } else {
    Ops::Store(cells, v);
  }
}

// Where a vector is one whole cache line, most of a column is written with
// streaming stores of aligned lines, which skip reading the line in first.
// A column's rows are misaligned against the lines by the same amount in every
// block, so each line is the end of the block before and the start of this one.
template <class Ops, int Columns, bool = Ops::kStreamLines>
struct Lines {};

template <class Ops, int Columns>
struct Lines<Ops, Columns, true> {
  typename Ops::V before[Columns];           // the column's previous block
  typename Ops::LineShift shift[Columns];    // picks a line out of before and this block
  int misalignment[Columns];                 // rows of the line that come from before
};

// Fills columns b0 .. b0 + Vectors * kLanes - 1 (those up to MaxCount). Lane c
// holds column b0 + c; at step t it computes cell (t - c, b0 + c) from its own
// cell of step t - 1, cell (w - 1, b), and lane c - 1's cell of step t - 1,
// cell (w, b - 1). Lane 0 takes cell (w, b0 - 1) from the strip before.
//
// A lane that has not reached row 1 yet (w = t - c <= 0) computes
// ((0 + 1) * w) / s + ((0 - 1) * b) / s < 0 from the +0.0 it starts with and
// its zero neighbour, so the clamp keeps it at +0.0 (or the +0.0 shortcut
// below takes it, as x = w <= b = -y): the cell (0, b) that row 1 expects,
// with no special case for the ramp at the start of a strip.
//
// Steps go in blocks of kLanes, so that a transpose turns each vector's block
// into one vector of consecutive rows per column. A block is stored while the
// next one is computed, a few columns per step, so that the stores trickle out
// between the divisions instead of stalling them in a burst. Where a vector is
// a whole cache line the stores stream aligned lines (see Lines); elsewhere a
// prefetch a few lines ahead in each column hides the misses of so many write
// streams. The strip's last column, which the next strip reads, always gets
// plain stores, ordered before the release of the strip's progress counter.
template <class Ops, int Vectors>
MIRTOLK_SIMD_TARGET void FillStrip(const Strip& strip) {
  using V = typename Ops::V;
  constexpr int Lanes = Ops::kLanes;
  constexpr int Columns = Vectors * Lanes;
  constexpr int kPrefetchRows = 32;  // four cache lines ahead
  // The column before comes from another core when two threads follow each
  // other. Right on its heels, every line of it would be a miss on the path
  // of lane 0; some way behind, it can be prefetched in time.
  constexpr int kLagRows = 256;
  constexpr int kLeftPrefetchRows = 64;

  double* const cells = strip.cells;
  const int b0 = strip.first_column;
  const int columns = std::min(Columns, MaxCount - b0 + 1);  // the last strip may be narrower
  const double* const left = cells + GameValueTable::Index(0, b0 - 1);  // left[w] = cell (w, b0 - 1)

  const V zero = Ops::Set1(0.0);
  const V one = Ops::Set1(1.0);
  const V lanes = Ops::Set1(Lanes);
  V value[Vectors];  // each lane's cell of the previous step
  V white[Vectors];  // w = t - c
  V black[Vectors];  // b = b0 + c
  for (int v = 0; v < Vectors; ++v) {
    double w[Lanes], b[Lanes];
    for (int j = 0; j < Lanes; ++j) {
      w[j] = -(v * Lanes + j);  // step 0; each step adds 1 before use
      b[j] = b0 + v * Lanes + j;
    }
    value[v] = zero;
    white[v] = Ops::Load(w);
    black[v] = Ops::Load(b);
  }

  V block[Lanes][Vectors];    // the block being computed: step, vector
  V stored[Lanes][Vectors];   // the block before, being stored
  V by_column[Vectors][Lanes];  // `stored` transposed: vector, lane
  for (auto& step : stored) {
    for (V& v : step) v = zero;
  }
  [[maybe_unused]] Lines<Ops, Columns> lines;
  if constexpr (Ops::kStreamLines) {
    for (int c = 0; c < Columns; ++c) {
      // Column b0 + c's block of step 1 starts at row 1 - c; the table starts on a line.
      const std::size_t start = GameValueTable::Index(0, b0 + c) + 1 - c;
      lines.before[c] = zero;
      lines.misalignment[c] = static_cast<int>(start % Lanes);
      lines.shift[c] = Ops::LineShiftFor(lines.misalignment[c]);
    }
  }

  // Stores columns [first, last) of the block that began at step `t0`. Nearly
  // half the table is +0.0, in long runs at the top of the columns, and the
  // block holds +0.0 everywhere before the build: a vector whose every bit is
  // zero is already in memory and is not stored again.
  const auto store_columns = [&](int t0, int first, int last) MIRTOLK_SIMD_TARGET {
    for (int c = first; c < last && c < columns; ++c) {
      const int v = c / Lanes, j = c % Lanes;
      if (j == 0) {
        for (int i = 0; i < Lanes; ++i) by_column[v][i] = stored[i][v];
        Ops::Transpose(by_column[v]);  // lane j over the block: rows t0 - c .. t0 - c + Lanes - 1
      }
      const int first_white = t0 - c;
      if constexpr (Ops::kStreamLines) {
        if (c != Columns - 1) {
          const V line = Ops::Line(lines.before[c], lines.shift[c], by_column[v][j]);
          lines.before[c] = by_column[v][j];
          const int line_white = first_white - lines.misalignment[c];
          if (line_white >= 1 && line_white + Lanes - 1 <= MaxCount) {
            if (!Ops::AllZero(line)) Ops::Stream(cells + GameValueTable::Index(line_white, b0 + c), line);
          } else if (line_white + Lanes - 1 >= 1 && line_white <= MaxCount) {
            StoreRowsInside<Ops>(cells, b0 + c, line_white, line);
          }
          continue;
        }
      }
      if (first_white >= 1 && first_white + Lanes - 1 <= MaxCount) {
        double* const at = cells + GameValueTable::Index(first_white, b0 + c);
        if (!Ops::AllZero(by_column[v][j])) StoreShared<Ops>(at, by_column[v][j]);
        if (first_white + Lanes - 1 + kPrefetchRows <= MaxCount) __builtin_prefetch(at + kPrefetchRows, 1);
      } else if (first_white + Lanes - 1 >= 1 && first_white <= MaxCount) {
        StoreRowsInside<Ops>(cells, b0 + c, first_white, by_column[v][j]);
      }
    }
  };

  int ready = strip.before ? strip.before->rows.load(std::memory_order_acquire) : MaxCount;
  // The last column reaches row MaxCount at this step; one block more stores
  // it, and a line that ends in the block after needs one more.
  const int last_step = MaxCount + columns - 1 + (Ops::kStreamLines ? 2 : 1) * Lanes;
  // A block where every vector took the shortcut below is +0.0 throughout:
  // storing it, and the lines made of it and a block before like it, writes
  // +0.0 over +0.0, so it is left out.
  bool stored_zero = true, before_zero = true;
  for (int t0 = 1; t0 <= last_step; t0 += Lanes) {
    const bool store = !stored_zero || (Ops::kStreamLines && !before_zero);
    bool block_zero = true;
    const int needed = std::min(t0 + Lanes - 1, MaxCount);
    if (ready < needed) ready = WaitForRows(*strip.before, std::min(needed + kLagRows, MaxCount));
    if (t0 + kLeftPrefetchRows <= ready) __builtin_prefetch(left + t0 + kLeftPrefetchRows);

    // All +0.0 so far, the column before +0.0 over the block, and no row past
    // b0: every lane has x = w <= b = -y at every step, the shortcut's case
    // below, and the block is +0.0 with nothing to compute or store.
    const bool quiet = !store && t0 + Lanes - 1 <= b0 &&
                       std::all_of(left + t0, left + t0 + Lanes, [](double d) { return d == 0.0; });
    if (quiet) {
      for (V& w : white) w = Ops::Add(w, lanes);
    } else {
#pragma GCC unroll 8
      for (int i = 0; i < Lanes; ++i) {
        const int t = t0 + i;
        const V s = Ops::Set1(static_cast<double>(t + b0));
        const V from_left = Ops::Set1(t <= MaxCount ? left[t] : 0.0);
        V next[Vectors];
        for (int v = 0; v < Vectors; ++v) {
          white[v] = Ops::Add(white[v], one);
          const V column_before = Ops::ShiftIn(value[v], v == 0 ? from_left : value[v - 1]);
          const V x = Ops::Mul(Ops::Add(value[v], one), white[v]);
          const V y = Ops::Mul(Ops::Sub(column_before, one), black[v]);
          // Nearly half the cells are clamped to +0.0, in long runs at the top of
          // the columns, and the two divisions are what this loop waits for. Where
          // x <= -y in every lane (-y is exact, as is the comparison), the cell
          // is +0.0 without them: dividing by the same s > 0 keeps the order and
          // rounding to nearest is symmetric, so A = x / s <= -(y / s) = -B;
          // +0.0 + A has A's value and is never -0.0, so adding B gives at most
          // zero and never -0.0 (that needs two -0.0 operands; a nonzero exact
          // sum never rounds to zero), which the clamp turns into +0.0.
          if (Ops::AllAtMost(x, Ops::Sub(zero, y))) {
            next[v] = zero;
            continue;
          }
          block_zero = false;
          const V draw_white = Ops::Div(x, s);
          const V draw_black = Ops::Div(y, s);
          // The cell's +0.0 plus A, plus B: the same two additions as the plain loop.
          next[v] = Ops::ZeroIfNegative(Ops::Add(Ops::Add(zero, draw_white), draw_black));
        }
        for (int v = 0; v < Vectors; ++v) {
          value[v] = next[v];
          block[i][v] = next[v];
        }
        if (store) store_columns(t0 - Lanes, i * Vectors, (i + 1) * Vectors);
      }
      for (int i = 0; i < Lanes; ++i) {
        for (int v = 0; v < Vectors; ++v) stored[i][v] = block[i][v];
      }
    }
    before_zero = stored_zero;
    stored_zero = block_zero;

    // The block before is stored: the strip's last column is complete up to
    // row (t0 - Lanes) + Lanes - 1 - (Columns - 1).
    const int finished = std::min(t0 - Columns, MaxCount);
    if (finished >= 1) Publish(*strip.done, finished);
  }
  // Streaming stores are not ordered with the rest: have them all out before
  // the thread moves on, and so before the build returns.
  if constexpr (Ops::kStreamLines) Ops::StreamFence();
}

}  // namespace
}  // namespace mirtolk::wavefront
