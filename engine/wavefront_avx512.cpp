// The wavefront in 8-lane AVX-512 vectors, chosen at run time on CPUs with AVX-512F.
#include "wavefront.hpp"

#if MIRTOLK_X86_PATHS

#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's own AVX-512 header trips this warning in its unmasked intrinsics
// (GCC bug 105593, fixed in 12.3); it is about the header, not this code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#define MIRTOLK_SIMD_TARGET __attribute__((target("avx512f")))
#include "wavefront_kernel.hpp"

namespace mirtolk::wavefront {
namespace {

struct Avx512Ops {
  static constexpr int kLanes = 8;
  using V = __m512d;
  static constexpr bool kStreamLines = true;  // a vector is one 64-byte line
  using LineShift = __m512i;

  MIRTOLK_SIMD_TARGET static V Set1(double x) { return _mm512_set1_pd(x); }
  MIRTOLK_SIMD_TARGET static V Load(const double* p) { return _mm512_loadu_pd(p); }
  MIRTOLK_SIMD_TARGET static void Store(double* p, V v) { _mm512_storeu_pd(p, v); }
  MIRTOLK_SIMD_TARGET static V Add(V a, V b) { return _mm512_add_pd(a, b); }
  MIRTOLK_SIMD_TARGET static V Sub(V a, V b) { return _mm512_sub_pd(a, b); }
  MIRTOLK_SIMD_TARGET static V Mul(V a, V b) { return _mm512_mul_pd(a, b); }
  MIRTOLK_SIMD_TARGET static V Div(V a, V b) { return _mm512_div_pd(a, b); }
  // a <= b in every lane (ordered: false where either is NaN).
  MIRTOLK_SIMD_TARGET static bool AllAtMost(V a, V b) {
    return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ) == 0xff;
  }
  // max(0, x) returns its second operand unless 0 > x: exactly `x < 0 ? +0.0 : x`,
  // -0.0 and NaN included.
  MIRTOLK_SIMD_TARGET static V ZeroIfNegative(V a) { return _mm512_max_pd(_mm512_setzero_pd(), a); }
  // Lanes m .. 7 of before, then lanes 0 .. 7 - m of rows.
  MIRTOLK_SIMD_TARGET static LineShift LineShiftFor(int m) {
    return _mm512_add_epi64(_mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0), _mm512_set1_epi64(kLanes - m));
  }
  MIRTOLK_SIMD_TARGET static V Line(V before, LineShift shift, V rows) {
    return _mm512_permutex2var_pd(before, shift, rows);
  }
  MIRTOLK_SIMD_TARGET static void Stream(double* line, V v) { _mm512_stream_pd(line, v); }
  // Every bit zero: +0.0 in every lane.
  MIRTOLK_SIMD_TARGET static bool AllZero(V v) {
    const __m512i bits = _mm512_castpd_si512(v);
    return _mm512_test_epi64_mask(bits, bits) == 0;
  }
  MIRTOLK_SIMD_TARGET static void StreamFence() { _mm_sfence(); }
  // {from[7], self[0], ..., self[6]}
  MIRTOLK_SIMD_TARGET static V ShiftIn(V self, V from) {
    return _mm512_castsi512_pd(
        _mm512_alignr_epi64(_mm512_castpd_si512(self), _mm512_castpd_si512(from), 7));
  }
  MIRTOLK_SIMD_TARGET static void Transpose(V (&r)[kLanes]) {
    // Pairs, then 128-bit quarters, then halves.
    V t[kLanes];
    for (int i = 0; i < kLanes; i += 2) {
      t[i] = _mm512_unpacklo_pd(r[i], r[i + 1]);  // columns 0 2 4 6 of rows i, i + 1
      t[i + 1] = _mm512_unpackhi_pd(r[i], r[i + 1]);  // columns 1 3 5 7
    }
    // Quarter q of t[i] holds columns 2q (or 2q + 1) of rows i, i + 1.
    constexpr int kEven = 0 | 2 << 2 | 0 << 4 | 2 << 6;  // quarters 0, 2 of a; 0, 2 of b
    constexpr int kOdd = 1 | 3 << 2 | 1 << 4 | 3 << 6;   // quarters 1, 3 of a; 1, 3 of b
    V u[kLanes];
    for (int i = 0; i < 2; ++i) {
      u[i] = _mm512_shuffle_f64x2(t[i], t[i + 2], kEven);      // rows 0-3: columns 0|4 (1|5)
      u[i + 2] = _mm512_shuffle_f64x2(t[i], t[i + 2], kOdd);   // rows 0-3: columns 2|6 (3|7)
      u[i + 4] = _mm512_shuffle_f64x2(t[i + 4], t[i + 6], kEven);  // rows 4-7
      u[i + 6] = _mm512_shuffle_f64x2(t[i + 4], t[i + 6], kOdd);
    }
    for (int i = 0; i < 4; ++i) {
      // u[i] and u[i + 4] hold one column pair for rows 0-3 and rows 4-7.
      const int column = (i & 1) + 2 * (i >> 1);  // u[0]: 0|4, u[1]: 1|5, u[2]: 2|6, u[3]: 3|7
      r[column] = _mm512_shuffle_f64x2(u[i], u[i + 4], kEven);
      r[column + 4] = _mm512_shuffle_f64x2(u[i], u[i + 4], kOdd);
    }
  }
};

constexpr int kVectors = 4;  // 32 columns

}  // namespace

Kernel Avx512Kernel() { return {kVectors * Avx512Ops::kLanes, &FillStrip<Avx512Ops, kVectors>}; }

}  // namespace mirtolk::wavefront

#endif
