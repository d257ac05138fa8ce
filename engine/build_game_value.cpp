// BuildGameValue: the plain loop, and the wavefront paths spread over threads.
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "build_paths.hpp"
#include "game_value.hpp"
#include "granted_cpus.hpp"
#include "wavefront.hpp"

namespace mirtolk {
namespace {

// The build order itself: every cell waits for the one just finished.
void BuildPlain(GameValueTable& table) {
  double* cell = table.data();
  constexpr std::size_t up = TableSide;  // from (w, b) to (w, b - 1) is one column back

  for (int w = 1; w <= MaxCount; ++w) cell[GameValueTable::Index(w, 0)] = w;

  for (int b = 1; b <= MaxCount; ++b) {
    for (int w = 1; w <= MaxCount; ++w) {
      const std::size_t i = GameValueTable::Index(w, b);
      const double s = w + b;
      const double draw_white = ((cell[i - 1] + 1.0) * w) / s;
      cell[i] = cell[i] + draw_white;
      const double draw_black = ((cell[i - up] - 1.0) * b) / s;
      const double t = cell[i] + draw_black;
      cell[i] = t;
      if (t < 0.0) cell[i] = 0.0;
    }
  }
}

bool CpuRuns(BuildPath path) {
  switch (path) {
    case BuildPath::Plain:
    case BuildPath::Portable:
      return true;
#if MIRTOLK_X86_PATHS
    case BuildPath::Avx2:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2");
    case BuildPath::Avx512:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx512f");
#else
    case BuildPath::Avx2:
    case BuildPath::Avx512:
      return false;
#endif
  }
  return false;
}

wavefront::Kernel KernelFor(BuildPath path) {
  switch (path) {
#if MIRTOLK_X86_PATHS
    case BuildPath::Avx512:
      return wavefront::Avx512Kernel();
    case BuildPath::Avx2:
      return wavefront::Avx2Kernel();
#endif
    default:
      return wavefront::PortableKernel();
  }
}

// Fresh pages cost the kernel a zero-fill at first touch, about as long as the
// arithmetic of the whole table, and a thread that faults stops computing
// meanwhile. So one helper thread faults the pages in with MADV_POPULATE_WRITE
// ahead of the strips, the zero-fill overlapping the arithmetic on the other
// core, and only then takes strips too. Until then the strips never wait for
// it, which keeps a busy machine from stalling one thread on the other.
// MADV_POPULATE_WRITE maps pages without writing to them, so it cannot race
// with the strips' stores; where the kernel lacks it, the strips fault their
// own pages in.
void FaultInAhead(double* cells, const std::atomic<int>& strips_taken, int columns) {
  constexpr std::uintptr_t kChunk = std::uintptr_t{2} << 20;  // one huge page
  const auto boundary = [](std::uintptr_t at) { return at & ~(kChunk - 1); };
  const auto begin = reinterpret_cast<std::uintptr_t>(cells);
  const std::uintptr_t end = begin + TableBytes;
  // The first huge page is the calling thread's: it writes column 0 there
  // before this thread has even started.
  for (std::uintptr_t at = std::min(begin + kChunk, end); at < end;) {
    // Where the strips taken so far end. Behind that their threads fault the
    // pages in themselves, and racing them for a page would make both wait.
    const int next_column =
        std::min(1 + strips_taken.load(std::memory_order_relaxed) * columns, MaxCount + 1);
    const std::uintptr_t front = begin + GameValueTable::Index(-1, next_column) * sizeof(double);
    if (at < front) at = boundary(front) + kChunk;
    if (at >= end) return;
    const std::uintptr_t stop = std::min(boundary(at) + kChunk, end);
#if defined(MADV_POPULATE_WRITE)
    if (madvise(reinterpret_cast<void*>(at), stop - at, MADV_POPULATE_WRITE) != 0) return;
#endif
    at = stop;
  }
}

// Strips are handed out in order; each thread follows the strip before its own
// through that strip's progress counter. A strip's predecessor was taken
// earlier by a thread that is running it, so every wait ends.
void BuildWavefront(GameValueTable& table, const wavefront::Kernel& kernel, unsigned threads) {
  double* const cells = table.data();
  for (int w = 1; w <= MaxCount; ++w) cells[GameValueTable::Index(w, 0)] = w;

  const int strips = (MaxCount + kernel.columns - 1) / kernel.columns;
  std::vector<wavefront::Progress> progress(static_cast<std::size_t>(strips));
  std::atomic<int> next_strip{0};

  const auto fill_strips = [&] {
    for (int k; (k = next_strip.fetch_add(1, std::memory_order_relaxed)) < strips;) {
      kernel.fill({cells, 1 + k * kernel.columns, k > 0 ? &progress[k - 1] : nullptr, &progress[k]});
    }
  };
  const auto fault_in_and_fill_strips = [&] {
    FaultInAhead(cells, next_strip, kernel.columns);
    fill_strips();
  };

  std::vector<std::thread> helpers;
  try {
    helpers.reserve(threads > 1 ? threads - 1 : 0);
    for (unsigned i = 1; i < threads; ++i) {
      if (i == 1) {
        helpers.emplace_back(fault_in_and_fill_strips);
      } else {
        helpers.emplace_back(fill_strips);
      }
    }
  } catch (const std::system_error&) {
    // Fewer threads than asked for: the strips still all get filled.
  } catch (const std::bad_alloc&) {
  }
  fill_strips();
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace

std::string_view BuildPathName(BuildPath path) {
  switch (path) {
    case BuildPath::Plain:
      return "Plain";
    case BuildPath::Portable:
      return "Portable";
    case BuildPath::Avx2:
      return "Avx2";
    case BuildPath::Avx512:
      return "Avx512";
  }
  return "?";
}

std::vector<BuildPath> AvailableBuildPaths() {
  std::vector<BuildPath> paths;
  for (BuildPath p : {BuildPath::Plain, BuildPath::Portable, BuildPath::Avx2, BuildPath::Avx512}) {
    if (CpuRuns(p)) paths.push_back(p);
  }
  return paths;
}

BuildPath FastestBuildPath() {
  static const BuildPath fastest = AvailableBuildPaths().back();
  return fastest;
}

// At most 8: the build is bound by memory well before that.
unsigned DefaultBuildThreads() {
  return cpus::ThreadsFor(cpus::AffinityCpus(), cpus::ProcessQuotaTexts(), 8);
}

void BuildGameValue(GameValueTable& table, BuildPath path, unsigned threads) {
  // A path this CPU lacks would die on an illegal instruction.
  if (!CpuRuns(path)) throw std::invalid_argument("build path not available on this CPU");
  if (path == BuildPath::Plain) {
    BuildPlain(table);
  } else {
    BuildWavefront(table, KernelFor(path), std::max(threads, 1u));
  }
}

void BuildGameValue(GameValueTable& table) {
  BuildGameValue(table, FastestBuildPath(), DefaultBuildThreads());
}

}  // namespace mirtolk
