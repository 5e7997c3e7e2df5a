// The fast sampler's vector operations, one set per instruction set, for its kernel
// (sampler_fast.cpp). Converting a float vector to double and back and adding doubles
// round every lane exactly as the scalar instructions do (round to nearest; no fused
// operations: the build sets -ffp-contract=off and nothing here asks for FMA).
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace propbf::driver::simd {

// F holds kWidth floats (in its low
// lanes), D kWidth doubles.

#define PROPBF_SSE_OPS static inline

struct Sse2 {
  static constexpr int64_t kWidth = 2;
  using F = __m128;
  using D = __m128d;
  PROPBF_SSE_OPS F load_f(const float* p) {
    return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
  }
  PROPBF_SSE_OPS void store_f(float* p, F v) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(v)); }
  PROPBF_SSE_OPS D load_d(const double* p) { return _mm_load_pd(p); }
  PROPBF_SSE_OPS void store_d(double* p, D v) { _mm_store_pd(p, v); }
  // One rounded addition per lane: float sum widened, plus the exact product, rounded.
  PROPBF_SSE_OPS F add(F sum, D product) { return _mm_cvtpd_ps(_mm_add_pd(_mm_cvtps_pd(sum), product)); }
  // coefficient x value, or -0.0 where the value is zero.
  PROPBF_SSE_OPS D term(F coefficient, F value) {
    const D v = _mm_cvtps_pd(value);
    const D product = _mm_mul_pd(_mm_cvtps_pd(coefficient), v);
    const D zero = _mm_cmpeq_pd(v, _mm_setzero_pd());
    return _mm_or_pd(_mm_andnot_pd(zero, product), _mm_and_pd(zero, _mm_set1_pd(-0.0)));
  }
  PROPBF_SSE_OPS F sub(F a, F b) { return _mm_sub_ps(a, b); }
  PROPBF_SSE_OPS F div(F a, F b) { return _mm_div_ps(a, b); }
};

// The 4- and 8-lane kernels are chosen at run time on x86. A build that defines
// PROPBF_NO_WIDE_KERNELS runs the 2-lane kernel only, which gives the same bits.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(PROPBF_NO_WIDE_KERNELS)
#define PROPBF_HAVE_WIDE 1
#define PROPBF_AVX2_OPS __attribute__((target("avx2"))) static inline
#define PROPBF_AVX512_OPS __attribute__((target("avx512f"))) static inline

struct Avx2 {
  static constexpr int64_t kWidth = 4;
  using F = __m128;
  using D = __m256d;
  PROPBF_AVX2_OPS F load_f(const float* p) { return _mm_load_ps(p); }
  PROPBF_AVX2_OPS void store_f(float* p, F v) { _mm_store_ps(p, v); }
  PROPBF_AVX2_OPS D load_d(const double* p) { return _mm256_load_pd(p); }
  PROPBF_AVX2_OPS void store_d(double* p, D v) { _mm256_store_pd(p, v); }
  PROPBF_AVX2_OPS F add(F sum, D product) { return _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(sum), product)); }
  PROPBF_AVX2_OPS D term(F coefficient, F value) {
    const D v = _mm256_cvtps_pd(value);
    const D product = _mm256_mul_pd(_mm256_cvtps_pd(coefficient), v);
    return _mm256_blendv_pd(product, _mm256_set1_pd(-0.0), _mm256_cmp_pd(v, _mm256_setzero_pd(), _CMP_EQ_OQ));
  }
  PROPBF_AVX2_OPS F sub(F a, F b) { return _mm_sub_ps(a, b); }
  PROPBF_AVX2_OPS F div(F a, F b) { return _mm_div_ps(a, b); }
};

struct Avx512 {
  static constexpr int64_t kWidth = 8;
  using F = __m256;
  using D = __m512d;
  PROPBF_AVX512_OPS F load_f(const float* p) { return _mm256_load_ps(p); }
  PROPBF_AVX512_OPS void store_f(float* p, F v) { _mm256_store_ps(p, v); }
  PROPBF_AVX512_OPS D load_d(const double* p) { return _mm512_load_pd(p); }
  PROPBF_AVX512_OPS void store_d(double* p, D v) { _mm512_store_pd(p, v); }
  // The conversions are the zero-masked forms with every lane selected: the same
  // instructions, but without the deliberately undefined source vector of the plain
  // intrinsics, which GCC's flow analysis reports once inlined.
  PROPBF_AVX512_OPS D widen(F v) { return _mm512_maskz_cvtps_pd(0xFF, v); }
  PROPBF_AVX512_OPS F narrow(D v) { return _mm512_maskz_cvtpd_ps(0xFF, v); }
  PROPBF_AVX512_OPS F add(F sum, D product) { return narrow(_mm512_add_pd(widen(sum), product)); }
  PROPBF_AVX512_OPS D term(F coefficient, F value) {
    const D v = widen(value);
    const D product = _mm512_mul_pd(widen(coefficient), v);
    return _mm512_mask_blend_pd(_mm512_cmp_pd_mask(v, _mm512_setzero_pd(), _CMP_EQ_OQ), product,
                                _mm512_set1_pd(-0.0));
  }
  PROPBF_AVX512_OPS F sub(F a, F b) { return _mm256_sub_ps(a, b); }
  PROPBF_AVX512_OPS F div(F a, F b) { return _mm256_div_ps(a, b); }
};
#endif

}  // namespace propbf::driver::simd
