// What the table's build costs next to what its memory costs. Each iteration
// allocates a fresh block the way the program does (fresh anonymous pages,
// huge pages asked for) and times allocation plus one whole build; freeing the
// block is left out of the time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// Google Benchmark 1.8 (Debian 13) replaced Run::error_occurred of 1.7
// (Debian 12) with Run::skipped.
template <class Run>
bool Skipped(const Run& run) {
  if constexpr (requires { run.skipped; }) {
    return run.skipped != 0;
  } else {
    return run.error_occurred;
  }
}

// Hands every report on to the display reporter Google Benchmark would have
// made itself (so --benchmark_format and --benchmark_out work as in any such
// program) and keeps the times the two ratios are taken from: the medians when
// the run has repetitions, the single runs otherwise.
class RatioReporter : public benchmark::BenchmarkReporter {
 public:
  explicit RatioReporter(benchmark::BenchmarkReporter* display) : display_(display) {}

  bool ReportContext(const Context& context) override { return display_->ReportContext(context); }

  void ReportRuns(const std::vector<Run>& runs) override {
    display_->ReportRuns(runs);
    for (const Run& run : runs) {
      if (Skipped(run)) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      if (median || single) ms_[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
  }

  void Finalize() override { display_->Finalize(); }

  // After the console table on standard output; beside any other format on
  // standard error, so that what is on standard output stays well-formed.
  void PrintRatios() const {
    std::FILE* out = dynamic_cast<benchmark::ConsoleReporter*>(display_.get()) ? stdout : stderr;
    const auto reference = ms_.find("BM_ReferenceBuild");
    const auto build = ms_.find("BM_BuildGameValue");
    const auto fill = ms_.find("BM_FreshBlockFill");
    std::fprintf(out, "\nBuild path: %s, %u threads\n", std::string(BuildPathName(FastestBuildPath())).c_str(),
                 DefaultBuildThreads());
    if (build == ms_.end()) return;
    if (reference != ms_.end()) {
      std::fprintf(out, "BM_ReferenceBuild / BM_BuildGameValue = %.1f (at least 10)\n",
                   reference->second / build->second);
    }
    if (fill != ms_.end()) {
      std::fprintf(out, "BM_BuildGameValue / BM_FreshBlockFill = %.2f (at most 1.5)\n",
                   build->second / fill->second);
    }
  }

 private:
  // Made for us and then ours, as when Google Benchmark makes it for itself.
  std::unique_ptr<benchmark::BenchmarkReporter> display_;
  std::map<std::string, double> ms_;
};

}  // namespace
}  // namespace mirtolk

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  mirtolk::RatioReporter reporter(benchmark::CreateDefaultDisplayReporter());
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
