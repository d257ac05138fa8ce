// Internal: what the build's driver hands to each path's column kernel.
//
// The columns b = 1..MaxCount are cut into strips of neighbouring columns. A
// kernel fills one strip in a skewed wavefront: column b0 + c runs c steps
// behind column b0, so at step t it computes cell (t - c, b0 + c). Both inputs
// of that cell were finished at step t - 1, in the same lane and in the lane
// before, and s = w + b = t + b0 is the same in every lane of a step. The
// divisions of neighbouring columns are independent and fill the vector lanes.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "game_value.hpp"

// The AVX paths carry their instruction sets as GCC and Clang target
// attributes and are chosen with __builtin_cpu_supports: 64-bit x86 with those
// compilers only. Everywhere else the portable path is the widest.
#if defined(__x86_64__) && defined(__GNUC__)
#define MIRTOLK_X86_PATHS 1
#else
#define MIRTOLK_X86_PATHS 0
#endif

#if (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mirtolk::wavefront {

// Rows finished in the last column of a strip, counted from w = 1. Written
// with release by the strip's thread after the cells are stored, read with
// acquire by the thread of the next strip before it reads them. Padded so
// that two strips' counters never share a cache line.
struct alignas(64) Progress {
  std::atomic<int> rows{0};
};

struct Strip {
  double* cells;                // the table's block
  int first_column;             // b0, from 1
  const Progress* before;       // the strip of columns before, or null when b0 - 1 is column 0
  Progress* done;               // this strip's own progress
};

struct Kernel {
  int columns;  // columns per strip
  void (*fill)(const Strip&);
};

// Tells the core that this thread is only spinning, so a sibling hyperthread
// or the power budget gets the cycles.
inline void SpinPause() {
#if (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__)
  _mm_pause();
#elif defined(__aarch64__) && defined(__GNUC__)
  __asm__ __volatile__("yield");
#endif
}

// Spins, then sleeps, until the strip before has finished `rows` rows;
// returns what it saw. Waits are short while both threads have a core, and
// spinning through them is far cheaper than sleeping; but the machine may be
// shared, and a waiter must not keep holding a core that the thread it waits
// for needs.
inline int WaitForRows(const Progress& before, int rows) {
  constexpr int kSpins = 4096;  // some tens of microseconds: several times a usual wait
  int seen = before.rows.load(std::memory_order_acquire);
  for (int spins = 0; seen < rows && spins < kSpins; ++spins) {
    SpinPause();
    seen = before.rows.load(std::memory_order_acquire);
  }
  while (seen < rows) {
    std::this_thread::sleep_for(std::chrono::microseconds(20));
    seen = before.rows.load(std::memory_order_acquire);
  }
  return seen;
}

// Publishes this strip's progress to the thread that follows it.
inline void Publish(Progress& done, int rows) { done.rows.store(rows, std::memory_order_release); }

Kernel PortableKernel();
#if MIRTOLK_X86_PATHS
Kernel Avx2Kernel();
Kernel Avx512Kernel();
#endif

}  // namespace mirtolk::wavefront
