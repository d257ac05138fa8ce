// The ways the table can be built. Every path yields the same table to the
// last bit; they differ only in the order in which independent cells are
// evaluated and in how many cores take part.
#pragma once

#include <string_view>
#include <vector>

#include "game_value.hpp"

namespace mirtolk {

enum class BuildPath {
  Plain,     // the loop in build order, one cell after the other, one thread
  Portable,  // skewed wavefront over several columns, plain C++
  Avx2,      // the same wavefront in 4-lane vectors
  Avx512,    // the same wavefront in 8-lane vectors
};

std::string_view BuildPathName(BuildPath path);

// The paths this CPU can run, Plain first and the widest last.
std::vector<BuildPath> AvailableBuildPaths();

// The path BuildGameValue(table) takes: the widest this CPU runs.
BuildPath FastestBuildPath();

// How many threads BuildGameValue(table) uses: one per CPU that the calling
// thread may run on (its affinity) and that its cgroup's CPU quota pays for,
// a few at most.
unsigned DefaultBuildThreads();

// Fills a table that is still all +0.0 along the given path, which must be one
// of AvailableBuildPaths() (else std::invalid_argument). `threads` counts the
// calling thread; every thread has finished when this returns. Plain always
// runs on the calling thread alone.
void BuildGameValue(GameValueTable& table, BuildPath path, unsigned threads = DefaultBuildThreads());

}  // namespace mirtolk
