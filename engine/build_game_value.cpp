// BuildGameValue and the paths it can take.
#include <algorithm>
#include <stdexcept>
#include <thread>
#include <vector>

#include "build_paths.hpp"
#include "game_value.hpp"

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

bool CpuRuns(BuildPath path) { return path == BuildPath::Plain; }

}  // namespace

std::string_view BuildPathName(BuildPath path) {
  switch (path) {
    case BuildPath::Plain:
      return "Plain";
  }
  return "?";
}

std::vector<BuildPath> AvailableBuildPaths() {
  std::vector<BuildPath> paths;
  for (BuildPath p : {BuildPath::Plain}) {
    if (CpuRuns(p)) paths.push_back(p);
  }
  return paths;
}

BuildPath FastestBuildPath() {
  static const BuildPath fastest = AvailableBuildPaths().back();
  return fastest;
}

unsigned DefaultBuildThreads() {
  return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

void BuildGameValue(GameValueTable& table, BuildPath path, unsigned /*threads*/) {
  // A path this CPU lacks would die on an illegal instruction.
  if (!CpuRuns(path)) throw std::invalid_argument("build path not available on this CPU");
  BuildPlain(table);
}

void BuildGameValue(GameValueTable& table) {
  BuildGameValue(table, FastestBuildPath(), DefaultBuildThreads());
}

}  // namespace mirtolk
