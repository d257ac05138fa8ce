// The wavefront in plain C++, for every CPU: small arrays of lanes that the
// compiler may map onto whatever vectors the baseline offers.
#include <bit>
#include <cstdint>
#include <utility>

#define MIRTOLK_SIMD_TARGET
#include "wavefront_kernel.hpp"

namespace mirtolk::wavefront {
namespace {

struct PortableOps {
  static constexpr int kLanes = 4;
  static constexpr bool kStreamLines = false;  // a vector is half a cache line
  struct V {
    double lane[kLanes];
  };

  static V Set1(double x) {
    V r;
    for (double& l : r.lane) l = x;
    return r;
  }
  static V Load(const double* p) {
    V r;
    for (int i = 0; i < kLanes; ++i) r.lane[i] = p[i];
    return r;
  }
  static void Store(double* p, V v) {
    for (int i = 0; i < kLanes; ++i) p[i] = v.lane[i];
  }
  // Every bit zero: +0.0 in every lane.
  static bool AllZero(V v) {
    for (double l : v.lane) {
      if (std::bit_cast<std::uint64_t>(l) != 0) return false;
    }
    return true;
  }
  static V Add(V a, V b) {
    for (int i = 0; i < kLanes; ++i) a.lane[i] = a.lane[i] + b.lane[i];
    return a;
  }
  static V Sub(V a, V b) {
    for (int i = 0; i < kLanes; ++i) a.lane[i] = a.lane[i] - b.lane[i];
    return a;
  }
  static V Mul(V a, V b) {
    for (int i = 0; i < kLanes; ++i) a.lane[i] = a.lane[i] * b.lane[i];
    return a;
  }
  static V Div(V a, V b) {
    for (int i = 0; i < kLanes; ++i) a.lane[i] = a.lane[i] / b.lane[i];
    return a;
  }
  // a <= b in every lane (false where either is NaN).
  static bool AllAtMost(V a, V b) {
    for (int i = 0; i < kLanes; ++i) {
      if (!(a.lane[i] <= b.lane[i])) return false;
    }
    return true;
  }
  static V ZeroIfNegative(V a) {
    for (double& l : a.lane) l = l < 0.0 ? 0.0 : l;
    return a;
  }
  // Lanes move up by one; lane 0 takes the last lane of `from`.
  static V ShiftIn(V self, V from) {
    V r;
    r.lane[0] = from.lane[kLanes - 1];
    for (int i = 1; i < kLanes; ++i) r.lane[i] = self.lane[i - 1];
    return r;
  }
  static void Transpose(V (&rows)[kLanes]) {
    for (int i = 0; i < kLanes; ++i) {
      for (int j = i + 1; j < kLanes; ++j) std::swap(rows[i].lane[j], rows[j].lane[i]);
    }
  }
};

// Three vectors: 12 columns, enough independent divisions to keep the divider
// busy; 5000 is no multiple of 12, so the narrower last strip is exercised too.
constexpr int kVectors = 3;

}  // namespace

Kernel PortableKernel() {
  return {kVectors * PortableOps::kLanes, &FillStrip<PortableOps, kVectors>};
}

}  // namespace mirtolk::wavefront
