// What the table's build costs next to what its memory costs. Each iteration
// allocates a fresh block the way the program does (fresh anonymous pages,
// huge pages asked for) and times allocation plus one whole build; freeing the
// block is left out of the time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>

#include "build_paths.hpp"
#include "game_value.hpp"

namespace mirtolk {
namespace {

template <class Fill>
void TimeFreshBlocks(benchmark::State& state, Fill fill) {
  std::optional<GameValueTable> table;
  for (auto _ : state) {
    table.emplace();
    fill(*table);
    benchmark::DoNotOptimize(table->data());
    benchmark::ClobberMemory();
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TableBytes));
}

// The plain loop in build order.
void BM_ReferenceBuild(benchmark::State& state) {
  TimeFreshBlocks(state, [](GameValueTable& t) { BuildGameValue(t, BuildPath::Plain, 1); });
}

// What the program runs.
void BM_BuildGameValue(benchmark::State& state) {
  TimeFreshBlocks(state, [](GameValueTable& t) { BuildGameValue(t); });
}

// The memory alone: every byte of a fresh block written once.
void BM_FreshBlockFill(benchmark::State& state) {
  TimeFreshBlocks(state, [](GameValueTable& t) { std::memset(t.data(), 1, TableBytes); });
}

BENCHMARK(BM_ReferenceBuild)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildGameValue)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreshBlockFill)->UseRealTime()->Unit(benchmark::kMillisecond);

// The console report, followed by the two ratios the build is held to, from
// the medians when the run has repetitions and from the single runs otherwise.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      if (median || single) ms_[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
  }

  void PrintRatios() const {
    const auto reference = ms_.find("BM_ReferenceBuild");
    const auto build = ms_.find("BM_BuildGameValue");
    const auto fill = ms_.find("BM_FreshBlockFill");
    std::printf("\nBuild path: %s, %u threads\n", std::string(BuildPathName(FastestBuildPath())).c_str(),
                DefaultBuildThreads());
    if (build == ms_.end()) return;
    if (reference != ms_.end()) {
      std::printf("BM_ReferenceBuild / BM_BuildGameValue = %.1f (at least 10)\n",
                  reference->second / build->second);
    }
    if (fill != ms_.end()) {
      std::printf("BM_BuildGameValue / BM_FreshBlockFill = %.2f (at most 1.5)\n",
                  build->second / fill->second);
    }
  }

 private:
  std::map<std::string, double> ms_;
};

}  // namespace
}  // namespace mirtolk

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  mirtolk::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
