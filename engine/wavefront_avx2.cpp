// The wavefront in 4-lane AVX vectors, chosen at run time on CPUs with AVX2.
#include "wavefront.hpp"

#if MIRTOLK_X86_PATHS

#include <immintrin.h>

#define MIRTOLK_SIMD_TARGET __attribute__((target("avx2")))
#include "wavefront_kernel.hpp"

namespace mirtolk::wavefront {
namespace {

struct Avx2Ops {
  static constexpr int kLanes = 4;
  static constexpr bool kStreamLines = false;  // a vector is half a cache line
  using V = __m256d;

  MIRTOLK_SIMD_TARGET static V Set1(double x) { return _mm256_set1_pd(x); }
  MIRTOLK_SIMD_TARGET static V Load(const double* p) { return _mm256_loadu_pd(p); }
  MIRTOLK_SIMD_TARGET static void Store(double* p, V v) { _mm256_storeu_pd(p, v); }
  // Every bit zero: +0.0 in every lane.
  MIRTOLK_SIMD_TARGET static bool AllZero(V v) {
    const __m256i bits = _mm256_castpd_si256(v);
    return _mm256_testz_si256(bits, bits) != 0;
  }
  MIRTOLK_SIMD_TARGET static V Add(V a, V b) { return _mm256_add_pd(a, b); }
  MIRTOLK_SIMD_TARGET static V Sub(V a, V b) { return _mm256_sub_pd(a, b); }
  MIRTOLK_SIMD_TARGET static V Mul(V a, V b) { return _mm256_mul_pd(a, b); }
  MIRTOLK_SIMD_TARGET static V Div(V a, V b) { return _mm256_div_pd(a, b); }
  // a <= b in every lane (ordered: false where either is NaN).
  MIRTOLK_SIMD_TARGET static bool AllAtMost(V a, V b) {
    return _mm256_movemask_pd(_mm256_cmp_pd(a, b, _CMP_LE_OQ)) == 0xf;
  }
  // max(0, x) returns its second operand unless 0 > x: exactly `x < 0 ? +0.0 : x`,
  // -0.0 and NaN included.
  MIRTOLK_SIMD_TARGET static V ZeroIfNegative(V a) { return _mm256_max_pd(_mm256_setzero_pd(), a); }
  // {from[3], self[0], self[1], self[2]}
  MIRTOLK_SIMD_TARGET static V ShiftIn(V self, V from) {
    const V halves = _mm256_permute2f128_pd(self, from, 0x03);  // {from[2], from[3], self[0], self[1]}
    return _mm256_shuffle_pd(halves, self, 0b0101);
  }
  MIRTOLK_SIMD_TARGET static void Transpose(V (&r)[kLanes]) {
    const V t0 = _mm256_unpacklo_pd(r[0], r[1]);  // r0[0] r1[0] r0[2] r1[2]
    const V t1 = _mm256_unpackhi_pd(r[0], r[1]);  // r0[1] r1[1] r0[3] r1[3]
    const V t2 = _mm256_unpacklo_pd(r[2], r[3]);
    const V t3 = _mm256_unpackhi_pd(r[2], r[3]);
    r[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
    r[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
    r[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
    r[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
  }
};

constexpr int kVectors = 4;  // 16 columns

}  // namespace

Kernel Avx2Kernel() { return {kVectors * Avx2Ops::kLanes, &FillStrip<Avx2Ops, kVectors>}; }

}  // namespace mirtolk::wavefront

#endif
