// Builds the table along one path and writes its 200,160,032 bytes, in memory
// order, to standard output: `make cross-check` hashes them on each CPU and
// holds every path against the plain build on x86-64.
//   table_bytes --paths          the paths this CPU runs, one a line
//   table_bytes PATH [THREADS]   the table built along PATH (default threads:
//                                what the program would use)
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "build_paths.hpp"
#include "game_value.hpp"

namespace {

std::optional<mirtolk::BuildPath> PathNamed(std::string_view name) {
  for (mirtolk::BuildPath p : mirtolk::AvailableBuildPaths()) {
    if (mirtolk::BuildPathName(p) == name) return p;
  }
  return std::nullopt;
}

int Usage() {
  std::fputs("usage: table_bytes --paths | table_bytes PATH [THREADS] > FILE\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--paths") {
    for (mirtolk::BuildPath p : mirtolk::AvailableBuildPaths()) {
      std::printf("%s\n", std::string(mirtolk::BuildPathName(p)).c_str());
    }
    return 0;
  }
  if (argc < 2 || argc > 3) return Usage();
  const auto path = PathNamed(argv[1]);
  if (!path) {
    std::fprintf(stderr, "table_bytes: no path %s on this CPU\n", argv[1]);
    return 2;
  }
  unsigned threads = mirtolk::DefaultBuildThreads();
  if (argc == 3) {
    const std::string_view text = argv[2];
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), threads);
    if (error != std::errc() || end != text.data() + text.size() || threads == 0) return Usage();
  }
  if (isatty(STDOUT_FILENO)) {
    std::fputs("table_bytes: 191 MiB of binary; send them to a file or a pipe\n", stderr);
    return 2;
  }

  mirtolk::GameValueTable table;
  mirtolk::BuildGameValue(table, *path, threads);
  if (std::fwrite(table.data(), 1, mirtolk::TableBytes, stdout) != mirtolk::TableBytes ||
      std::fflush(stdout) != 0) {
    std::perror("table_bytes: writing the table");
    return 1;
  }
  return 0;
}
