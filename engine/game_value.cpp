#include "game_value.hpp"

#include <sys/mman.h>

namespace mirtolk {

TableAllocationError::TableAllocationError(std::size_t bytes_needed)
    : bytes_needed_(bytes_needed),
      message_("not enough memory to build the table of game values: it needs " +
               std::to_string(bytes_needed) + " bytes (" +
               std::to_string((bytes_needed + (1u << 20) - 1) >> 20) + " MiB)") {}

// Anonymous pages arrive zero-filled, which is exactly the +0.0 the build
// expects, without a separate pass over 191 MiB.
GameValueTable::GameValueTable() {
  void* block =
      mmap(nullptr, TableBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) throw TableAllocationError(TableBytes);
  // Huge pages cut the cost of first touching the block several times over.
  madvise(block, TableBytes, MADV_HUGEPAGE);
  cells_ = static_cast<double*>(block);
}

GameValueTable::~GameValueTable() { munmap(cells_, TableBytes); }

void BuildGameValue(GameValueTable& table) {
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

}  // namespace mirtolk
