// One finished table per test program: building it is the slow part.
#pragma once

#include "game_value.hpp"

namespace mirtolk::test {

inline const GameValueTable& BuiltTable() {
  static const GameValueTable* table = [] {
    auto* t = new GameValueTable;
    BuildGameValue(*t);
    return t;
  }();
  return *table;
}

}  // namespace mirtolk::test
