#include "game_value.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace mirtolk {

TableAllocationError::TableAllocationError(std::size_t bytes_needed)
    : bytes_needed_(bytes_needed),
      message_("not enough memory to build the table of game values: it needs " +
               std::to_string(bytes_needed) + " bytes (" +
               std::to_string((bytes_needed + (1u << 20) - 1) >> 20) + " MiB)") {}

namespace {

// The kernel backs a range with huge pages only in whole 2 MiB pages on 2 MiB
// boundaries. A plain mmap of 191 MiB starts on any 4 KiB page, which leaves up
// to 4 MiB at its two ends on small pages that fault in one at a time (about a
// thousand faults, several milliseconds). So the block is mapped on a huge-page
// boundary and rounded up to whole huge pages.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kMappedBytes = (TableBytes + kHugePage - 1) / kHugePage * kHugePage;

}  // namespace

// Anonymous pages arrive zero-filled, which is exactly the +0.0 the build
// expects, without a separate pass over 191 MiB.
GameValueTable::GameValueTable() {
  // Map one huge page more than needed, then give back the unaligned ends.
  void* const raw = mmap(nullptr, kMappedBytes + kHugePage, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw TableAllocationError(TableBytes);
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = start + kMappedBytes + kHugePage;
  if (aligned > start) munmap(raw, aligned - start);
  if (end > aligned + kMappedBytes) {
    munmap(reinterpret_cast<void*>(aligned + kMappedBytes), end - (aligned + kMappedBytes));
  }
  // Huge pages cut the cost of first touching the block several times over;
  // where the system has none, small pages serve as well, only slower.
#if defined(MADV_HUGEPAGE)
  madvise(reinterpret_cast<void*>(aligned), kMappedBytes, MADV_HUGEPAGE);
#endif
  cells_ = reinterpret_cast<double*>(aligned);
}

GameValueTable::~GameValueTable() { munmap(cells_, kMappedBytes); }

}  // namespace mirtolk
