// The stage sampler as the program runs it. Every floating-point operation of the
// literal sampler (sampler_literal.cpp) happens here too, on the same operands and in the
// same order; only the bookkeeping around it differs, so the results are the same bits.
//
// What is rearranged, and why no rounding changes:
//
//  * Carried prefix. For the draw of item j, row k's sum runs over the items before j
//    (already redrawn in this sweep) and then over the items after j. The part before j
//    is the same chain of rounded additions for every later item of the sweep, so it is
//    carried: once item j is drawn, its term is added to the carried sum. The items after
//    j are added on top of it for each draw; their start value differs from draw to draw,
//    and with it the roundings, so that part is not summed ahead.
//  * Slacks from the carried sums. After the last item the carried sum of a row is the
//    full row sum over the new state, which is what the hit test needs: the slack of every
//    restriction tested in the stage comes from its carried sum minus its constant.
//  * Products once per value. coefficient x value is exact in double (24 + 24 significant
//    bits); it is formed when the value changes, not at every draw. A zero value, which
//    the sums skip, contributes -0.0 instead: x + (-0.0) is x for every double x that is
//    not a signalling NaN, and a sum never is one (it is either +0 or the result of an
//    arithmetic operation). So the skip holds without a branch.
//  * Rows side by side. The rows are independent chains; they run as vectors of doubles
//    (2, 4 or 8 lanes). Converting a float vector to double and back and adding doubles
//    round every lane exactly as the scalar instructions do (round to nearest; no fused
//    operations: the build sets -ffp-contract=off and nothing here asks for FMA).
//  * Stages side by side. A stage takes exactly niter x J deviates whatever happens, so
//    where each stage starts in the generator's sequence is known in advance (the
//    generator jumps ahead by powers of 16807). Several consecutive stages therefore run
//    in lockstep, sweep by sweep and item by item, each with its own state, its own
//    position in the sequence and its own hit share: their chains are independent and
//    fill each other's latency. The generator's step is done in 64-bit integers, exactly
//    as the generator does it, and the seed after the group's last deviate is stored back.
//
// Layout of a group of stages first .. first + count - 1. Stage t bounds its draws by
// rows 1 .. t-1 ("bounding rows") and tests rows 1 .. t after each sweep; row t is its
// "test row". All bounding rows of the group are laid out one stage after another, padded
// to a multiple of 8, followed by the test rows (one per stage), again padded. Per item j
// the coefficients of all these rows form one contiguous line, and so do the products.
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "driver/sampler.hpp"
#include "driver/sampler_rules.hpp"
#include "random/random.hpp"

// The kernels below pass vector types between inlined helpers of different instruction
// sets; they are all inlined into one function per instruction set, so no call with the
// changed argument-passing convention remains.
#pragma GCC diagnostic ignored "-Wpsabi"
// GCC 12's AVX-512 conversion intrinsics start from a deliberately undefined vector,
// which the flow analysis reports once they are inlined.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace propbf::driver {

namespace {

constexpr int64_t kRowPad = 8;   // rows are padded to a multiple of the widest vector
constexpr int64_t kAlign = 64;   // bytes
// A group takes stages until it holds this many bounding rows (at least one stage):
// enough independent chains to keep the adders busy, little enough to stay in cache.
constexpr int64_t kGroupRows = 256;
// ... and while its storage stays below this many bytes (or one stage needs more).
constexpr int64_t kGroupBytes = int64_t{256} << 20;

int64_t round_up(int64_t n, int64_t step) { return (n + step - 1) / step * step; }

// Storage aligned for the widest vector loads, left uninitialised: the group set-up
// writes every element that is read before the sweeps write it.
template <class T>
class AlignedBuffer {
 public:
  AlignedBuffer() = default;
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  ~AlignedBuffer() { std::free(data_); }

  static int64_t bytes_for(int64_t count) {
    return round_up((count > 0 ? count : 1) * static_cast<int64_t>(sizeof(T)), kAlign);
  }
  bool allocate(int64_t count) {
    data_ = static_cast<T*>(std::aligned_alloc(kAlign, static_cast<size_t>(bytes_for(count))));
    return data_ != nullptr;
  }
  T* get() { return data_; }
  const T* get() const { return data_; }
  T& operator[](int64_t i) { return data_[i]; }
  const T& operator[](int64_t i) const { return data_[i]; }

 private:
  T* data_ = nullptr;
};

// Extents of a group of stages first .. first + count - 1 (see the layout above).
struct GroupLayout {
  int64_t items = 0;
  int64_t stages = 0;
  int64_t bounding = 0;    // bounding rows
  int64_t bound_rows = 0;  // padded count of bounding rows
  int64_t rows = 0;        // bound_rows + padded count of test rows

  GroupLayout(int32_t item_count, int32_t first, int32_t count) : items(item_count), stages(count) {
    for (int32_t s = 0; s < count; ++s) bounding += first + s - 1;
    bound_rows = round_up(bounding, kRowPad);
    rows = bound_rows + round_up(count, kRowPad);
  }
  int64_t coefficients() const { return items * rows; }
  int64_t magnitudes() const { return items * bound_rows; }
  int64_t products() const { return items * bound_rows; }
  int64_t values() const { return rows + 8; }
  int64_t list_entries() const { return items * bounding; }
  int64_t list_starts() const { return 2 * items * stages + 1; }
  int64_t states() const { return stages * items; }

  // Everything StageGroup allocates for this layout.
  int64_t bytes() const {
    return AlignedBuffer<float>::bytes_for(coefficients()) + AlignedBuffer<float>::bytes_for(magnitudes()) +
           AlignedBuffer<double>::bytes_for(products()) + 3 * AlignedBuffer<float>::bytes_for(rows) +
           AlignedBuffer<float>::bytes_for(values()) + AlignedBuffer<int64_t>::bytes_for(stages) +
           AlignedBuffer<int32_t>::bytes_for(list_entries()) + AlignedBuffer<int64_t>::bytes_for(list_starts()) +
           AlignedBuffer<float>::bytes_for(states()) + AlignedBuffer<int64_t>::bytes_for(stages) +
           stages * static_cast<int64_t>(sizeof(HitTally));
  }
};

// One group of stages with everything its sweeps touch.
struct StageGroup {
  int32_t items = 0;
  int32_t stages = 0;
  int32_t first = 0;       // first stage, 1-based
  int64_t bound_rows = 0;  // padded count of bounding rows
  int64_t rows = 0;        // bound_rows + padded count of test rows

  AlignedBuffer<float> coefficient;  // [item][row]: r(k, j) of the row's restriction k
  AlignedBuffer<float> magnitude;    // [item][bounding row]: |r(k, j)|
  AlignedBuffer<float> constant;     // [row]: rc(k)
  AlignedBuffer<double> product;     // [item][bounding row]: r(k, j) x pi_j, or -0.0
  AlignedBuffer<float> carried;      // [row]: the carried (prefix) sum
  AlignedBuffer<float> value_store;  // 8 guard floats, then values()
  AlignedBuffer<float> bound;        // [row]: lowup of a bounding row, later the slack

  AlignedBuffer<int64_t> first_row;  // [stage]: its first bounding row
  // For item j and stage s (entry j * stages + s): the bounding rows with a positive
  // coefficient of j (they raise `low`), then those with a negative one (they lower
  // `up`), each in ascending restriction order. list_start[2e] .. list_start[2e+1] and
  // list_start[2e+1] .. list_start[2e+2].
  AlignedBuffer<int32_t> list;
  AlignedBuffer<int64_t> list_start;

  AlignedBuffer<float> pi;        // [stage][item]
  AlignedBuffer<int64_t> seed;    // [stage]: generator seed before its next deviate
  std::vector<HitTally> share;    // [stage]: crestr

  int32_t test_row(int32_t s) const { return static_cast<int32_t>(bound_rows) + s; }
  // [row]: the new value of the item just drawn, for each row's stage.
  float* values() { return value_store.get() + 8; }
};

// Sets up the group. Returns false when its storage cannot be obtained.
bool prepare_group(const Problem& problem, int32_t first, int32_t count, StageGroup& g) {
  const int32_t items = problem.items();
  const GroupLayout layout(items, first, count);
  g.items = items;
  g.stages = count;
  g.first = first;
  g.bound_rows = layout.bound_rows;
  g.rows = layout.rows;
  const int64_t line = g.rows;
  const int64_t bound_line = g.bound_rows;

  if (!g.coefficient.allocate(layout.coefficients()) || !g.magnitude.allocate(layout.magnitudes()) ||
      !g.constant.allocate(line) || !g.product.allocate(layout.products()) || !g.carried.allocate(line) ||
      !g.value_store.allocate(layout.values()) || !g.bound.allocate(line) || !g.first_row.allocate(count) ||
      !g.list.allocate(layout.list_entries()) || !g.list_start.allocate(layout.list_starts()) ||
      !g.pi.allocate(layout.states()) || !g.seed.allocate(count)) {
    return false;
  }
  g.share.assign(static_cast<size_t>(count), HitTally(problem.niter));

  // The padding rows take part in the vector operations: their coefficients, magnitudes,
  // constants and values are zero. (The guard before the values only ever receives
  // copies.) Every other row is written below; the products, bounds and carried sums are
  // written by the sweeps before they are read.
  for (int32_t j = 0; j < items; ++j) {
    float* coefficient = g.coefficient.get() + j * line;
    float* magnitude = g.magnitude.get() + j * bound_line;
    for (int64_t r = layout.bounding; r < bound_line; ++r) coefficient[r] = magnitude[r] = 0.0f;
    for (int64_t r = bound_line + count; r < line; ++r) coefficient[r] = 0.0f;
  }
  std::memset(g.constant.get(), 0, static_cast<size_t>(line) * sizeof(float));
  std::memset(g.value_store.get(), 0, static_cast<size_t>(layout.values()) * sizeof(float));

  int64_t row = 0;
  for (int32_t s = 0; s < count; ++s) {
    const int32_t stage = first + s;
    g.first_row[s] = row;
    for (int32_t k = 0; k < stage; ++k) {
      // Rows 0 .. stage-2 bound the draws; row stage-1 is the stage's test row.
      const int64_t at = k < stage - 1 ? row + k : g.test_row(s);
      const float* r = problem.row(k);
      for (int32_t j = 0; j < items; ++j) {
        g.coefficient[j * line + at] = r[j];
        if (at < bound_line) g.magnitude[j * bound_line + at] = std::fabs(r[j]);
      }
      g.constant[at] = problem.rc[k];
    }
    row += stage - 1;
    for (int32_t j = 0; j < items; ++j) g.pi[static_cast<int64_t>(s) * items + j] = problem.initpi[j];
  }
  int64_t next = 0;
  for (int32_t j = 0; j < items; ++j) {
    for (int32_t s = 0; s < count; ++s) {
      const int64_t entry = static_cast<int64_t>(j) * count + s;
      const int64_t base = g.first_row[s];
      const int32_t earlier = first + s - 1;
      g.list_start[2 * entry] = next;
      for (int32_t k = 0; k < earlier; ++k) {
        if (problem.row(k)[j] > 0.0f) g.list[next++] = static_cast<int32_t>(base + k);
      }
      g.list_start[2 * entry + 1] = next;
      for (int32_t k = 0; k < earlier; ++k) {
        if (problem.row(k)[j] < 0.0f) g.list[next++] = static_cast<int32_t>(base + k);
      }
      // A zero or NaN coefficient sets no bound: the row is in neither list.
    }
  }
  g.list_start[2 * static_cast<int64_t>(items) * count] = next;
  return true;
}

// ----------------------------------------------------------------------------------
// Vector operations, one set per instruction set. F holds kWidth floats (in its low
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

// The 4- and 8-lane kernels are chosen at run time on x86. A build whose compiler cannot
// take the target attributes on these helpers (clang for the fuzz targets) defines
// PROPBF_NO_WIDE_KERNELS and runs the 2-lane kernel, which gives the same bits.
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
  PROPBF_AVX512_OPS F add(F sum, D product) { return _mm512_cvtpd_ps(_mm512_add_pd(_mm512_cvtps_pd(sum), product)); }
  PROPBF_AVX512_OPS D term(F coefficient, F value) {
    const D v = _mm512_cvtps_pd(value);
    const D product = _mm512_mul_pd(_mm512_cvtps_pd(coefficient), v);
    return _mm512_mask_blend_pd(_mm512_cmp_pd_mask(v, _mm512_setzero_pd(), _CMP_EQ_OQ), product,
                                _mm512_set1_pd(-0.0));
  }
  PROPBF_AVX512_OPS F sub(F a, F b) { return _mm256_sub_ps(a, b); }
  PROPBF_AVX512_OPS F div(F a, F b) { return _mm256_div_ps(a, b); }
};
#endif

// ----------------------------------------------------------------------------------
// The kernel, written once for every instruction set. It is inlined, with the vector
// operations, into one entry function per instruction set (flatten), where the
// instructions of that set are allowed.

// N vectors of bounding rows: start from the carried sums, add the terms of the items
// after the drawn one (`steps` of them, `stride` doubles apart), then form
// lowup = (rc - s) / |r1|.
template <class V, int N>
inline void bounds_block(const float* carried, const double* terms, int64_t stride, int32_t steps,
                         const float* constant, const float* magnitude, float* bound) {
  typename V::F s[N];
#pragma GCC unroll 16
  for (int n = 0; n < N; ++n) s[n] = V::load_f(carried + n * V::kWidth);
  for (int32_t i = 0; i < steps; ++i, terms += stride) {
#pragma GCC unroll 16
    for (int n = 0; n < N; ++n) s[n] = V::add(s[n], V::load_d(terms + n * V::kWidth));
  }
#pragma GCC unroll 16
  for (int n = 0; n < N; ++n) {
    const int64_t at = n * V::kWidth;
    V::store_f(bound + at, V::div(V::sub(V::load_f(constant + at), s[n]), V::load_f(magnitude + at)));
  }
}

template <class V, int kBlock>
inline void bounds_for_item(StageGroup& g, int32_t j) {
  const int64_t stride = g.bound_rows;
  const int32_t steps = g.items - 1 - j;
  // The terms of the items after j; none after the last item.
  const double* terms = g.product.get() + (steps > 0 ? (static_cast<int64_t>(j) + 1) * stride : 0);
  const float* magnitude = g.magnitude.get() + static_cast<int64_t>(j) * stride;
  const int64_t vectors = g.bound_rows / V::kWidth;
  int64_t v = 0;
  for (; v + kBlock <= vectors; v += kBlock) {
    const int64_t at = v * V::kWidth;
    bounds_block<V, kBlock>(g.carried.get() + at, terms + at, stride, steps, g.constant.get() + at,
                            magnitude + at, g.bound.get() + at);
  }
  const int64_t at = v * V::kWidth;
  const float* c = g.carried.get() + at;
  const float* k = g.constant.get() + at;
  float* b = g.bound.get() + at;
  switch (vectors - v) {
#define PROPBF_REST(n)                                                             \
  case n:                                                                          \
    if constexpr (n < kBlock) bounds_block<V, n>(c, terms + at, stride, steps, k, magnitude + at, b); \
    break;
    PROPBF_REST(1)
    PROPBF_REST(2)
    PROPBF_REST(3)
    PROPBF_REST(4)
    PROPBF_REST(5)
    PROPBF_REST(6)
    PROPBF_REST(7)
    PROPBF_REST(8)
    PROPBF_REST(9)
    PROPBF_REST(10)
    PROPBF_REST(11)
    PROPBF_REST(12)
    PROPBF_REST(13)
    PROPBF_REST(14)
    PROPBF_REST(15)
#undef PROPBF_REST
    default:
      break;
  }
}

// The terms of item j from the values just drawn: stored for the later draws (bounding
// rows) and added to the carried sums (all rows).
template <class V>
inline void carry_item(StageGroup& g, int32_t j) {
  const float* coefficient = g.coefficient.get() + static_cast<int64_t>(j) * g.rows;
  double* product = g.product.get() + static_cast<int64_t>(j) * g.bound_rows;
  float* carried = g.carried.get();
  const float* value = g.values();
  int64_t at = 0;
  for (; at < g.bound_rows; at += V::kWidth) {
    const typename V::D t = V::term(V::load_f(coefficient + at), V::load_f(value + at));
    V::store_d(product + at, t);
    V::store_f(carried + at, V::add(V::load_f(carried + at), t));
  }
  for (; at < g.rows; at += V::kWidth) {
    const typename V::D t = V::term(V::load_f(coefficient + at), V::load_f(value + at));
    V::store_f(carried + at, V::add(V::load_f(carried + at), t));
  }
}

// Spreads a stage's new value of the drawn item over its rows, eight at a time. The last
// eight end exactly at the stage's last row and may reach back into the rows of earlier
// stages (or the guard before row 0); the stages are therefore spread from the last to
// the first, so that every earlier stage writes its own rows afterwards.
inline void spread_value(StageGroup& g, int32_t s, float v) {
  float* value = g.values();
  const int64_t begin = g.first_row[s];
  const int64_t end = begin + g.first + s - 1;
  const float eight[8] = {v, v, v, v, v, v, v, v};
  int64_t r = begin;
  for (; r + 8 <= end; r += 8) std::memcpy(value + r, eight, sizeof eight);
  if (r < end) std::memcpy(value + end - 8, eight, sizeof eight);
  value[g.test_row(s)] = v;
}

// Inlined integer step of the generator: seed * 16807 mod (2^31 - 1). The product is
// below 2^46; folding the bits above 31 back in is the remainder by the Mersenne modulus.
inline int64_t next_seed(int64_t seed) {
  const int64_t product = seed * numlib::kMultiplier;
  int64_t folded = (product & numlib::kModulus) + (product >> 31);
  if (folded >= numlib::kModulus) folded -= numlib::kModulus;
  return folded;
}

template <class V, int kBlock>
inline void run_group(StageGroup& g, const Problem& problem, Phase phase, float scale) {
  const int32_t items = g.items;
  const int32_t stages = g.stages;
  const float* initpi = problem.initpi.data();
  const int32_t* x = problem.x.data();

  // Terms of the starting state, which every stage starts from.
  for (int32_t j = 0; j < items; ++j) {
    for (int32_t s = stages - 1; s >= 0; --s) spread_value(g, s, initpi[j]);
    const float* coefficient = g.coefficient.get() + static_cast<int64_t>(j) * g.rows;
    double* product = g.product.get() + static_cast<int64_t>(j) * g.bound_rows;
    for (int64_t at = 0; at < g.bound_rows; at += V::kWidth) {
      V::store_d(product + at, V::term(V::load_f(coefficient + at), V::load_f(g.values() + at)));
    }
  }

  const double sigma = static_cast<double>(scale);
  for (int32_t sweep = 1; sweep <= problem.niter; ++sweep) {
    for (int64_t r = 0; r < g.rows; ++r) g.carried[r] = 0.0f;

    for (int32_t j = 0; j < items; ++j) {
      bounds_for_item<V, kBlock>(g, j);

      const int64_t* starts = g.list_start.get() + 2 * static_cast<int64_t>(j) * stages;
      const int32_t* list = g.list.get();
      const float* lowup = g.bound.get();
      for (int32_t s = stages - 1; s >= 0; --s) {  // last to first: see spread_value
        float low = 0.0f;
        float up = 1.0f;
        for (int64_t q = starts[2 * s]; q < starts[2 * s + 1]; ++q) {
          const float candidate = lowup[list[q]];
          low = (low > candidate) ? low : candidate;
        }
        for (int64_t q = starts[2 * s + 1]; q < starts[2 * s + 2]; ++q) {
          const float candidate = -lowup[list[q]];
          up = (candidate < up) ? candidate : up;
        }

        const int64_t seed = next_seed(g.seed[s]);
        g.seed[s] = seed;
        const float u = static_cast<float>(static_cast<double>(seed) * sigma);

        float* pi = g.pi.get() + static_cast<int64_t>(s) * items;
        if (phase == Phase::Complexity) {
          const float feval = (up - low) * u;
          pi[j] = low + feval;
        } else if (x[j] == 1) {
          const float a = up * up;
          const float b = low * low;
          const float d = (a - b) * u;
          pi[j] = std::sqrt(low * low + d);
        } else if (x[j] == 0) {
          const float a = 2.0f * up;
          float b = low * low - 2.0f * low;
          b = b + a;
          b = b - up * up;
          b = b * u;
          float c = 2.0f * low - low * low;
          c = c + b;
          const float e = 4.0f - 4.0f * c;
          pi[j] = 1.0f - 0.5f * std::sqrt(e);
        }
        spread_value(g, s, pi[j]);
      }

      carry_item<V>(g, j);
    }

    // Hit test: the carried sums are now the full row sums.
    float* slack = g.bound.get();
    for (int64_t at = 0; at < g.rows; at += V::kWidth) {
      V::store_f(slack + at, V::sub(V::load_f(g.carried.get() + at), V::load_f(g.constant.get() + at)));
    }
    for (int32_t s = 0; s < stages; ++s) {
      float small = std::numeric_limits<float>::infinity();
      const int64_t begin = g.first_row[s];
      const int64_t end = begin + g.first + s - 1;
      for (int64_t r = begin; r < end; ++r) small = (small < slack[r]) ? small : slack[r];
      const float last = slack[g.test_row(s)];
      small = (small < last) ? small : last;
      if (small > 0.0f) g.share[static_cast<size_t>(s)].add_hit();
    }
  }
}

__attribute__((flatten)) void run_group_sse2(StageGroup& g, const Problem& p, Phase phase, float scale) {
  run_group<Sse2, 8>(g, p, phase, scale);
}
#if PROPBF_HAVE_WIDE
__attribute__((flatten, target("avx2"))) void run_group_avx2(StageGroup& g, const Problem& p, Phase phase,
                                                              float scale) {
  run_group<Avx2, 8>(g, p, phase, scale);
}
__attribute__((flatten, target("avx512f"))) void run_group_avx512(StageGroup& g, const Problem& p, Phase phase,
                                                                   float scale) {
  run_group<Avx512, 12>(g, p, phase, scale);
}
#endif

}  // namespace

bool vector_width_supported(VectorWidth width) {
  switch (width) {
    case VectorWidth::Two:
      return true;
#if PROPBF_HAVE_WIDE
    case VectorWidth::Four:
      return __builtin_cpu_supports("avx2");
    case VectorWidth::Eight:
      return __builtin_cpu_supports("avx512f");
#endif
    default:
      return false;
  }
}

VectorWidth chosen_vector_width(int64_t bounding_rows) {
  static const bool four = vector_width_supported(VectorWidth::Four);
  static const bool eight = vector_width_supported(VectorWidth::Eight);
  // Wide vectors carry more rows per instruction but take longer per addition; with
  // few rows the chain's latency, not the adders, sets the pace.
  if (eight && bounding_rows > 80) return VectorWidth::Eight;
  if (four && bounding_rows > 16) return VectorWidth::Four;
  return VectorWidth::Two;
}

int64_t fast_group_bytes(int32_t items, int32_t first, int32_t count) {
  return GroupLayout(items > 0 ? items : 0, first, count).bytes();
}

int32_t fast_group_size(const Problem& problem, int32_t first, int64_t byte_limit) {
  const int32_t last = problem.restrictions();
  int64_t rows = 0;
  int32_t count = 0;
  while (first + count <= last) {
    const int64_t more = first + count - 1;
    if (count > 0 && rows + more > kGroupRows) break;
    // Beyond a few hundred megabytes a group is streamed from memory for every draw
    // either way; more stages side by side then gain nothing.
    if (count > 0 && fast_group_bytes(problem.items(), first, count + 1) > std::min(byte_limit, kGroupBytes)) break;
    rows += more;
    ++count;
  }
  return count;
}

bool fast_stage_shares(const Problem& problem, Phase phase, int32_t first, int32_t count, float* pi,
                       float* shares, VectorWidth width) {
  if (count <= 0) return true;
  if (problem.niter < 1) {
    // No sweeps: every stage leaves the start as it is and has no hit. Nothing to set up.
    for (int32_t s = 0; s < count; ++s) shares[s] = 0.0f;
    for (int32_t j = 0; j < problem.items(); ++j) pi[j] = problem.initpi[j];
    return true;
  }
  StageGroup g;
  if (!prepare_group(problem, first, count, g)) return false;

  float scale = 0.0f;
  const bool draws = problem.niter >= 1 && g.items >= 1;
  if (draws) {
    // As the first RNUN of the thread would: initialise (and seed from the clock if
    // nothing was seeded) before the first deviate.
    numlib::RandomState& state = numlib::random_state();
    if (!state.rnun_called) {
      numlib::R1INT(0);
      state.rnun_called = true;
    }
    scale = state.scale;
    const int64_t per_stage = static_cast<int64_t>(problem.niter) * g.items;
    g.seed[0] = state.seed;
    for (int32_t s = 1; s < count; ++s) {
      g.seed[s] = numlib::advance_seed(static_cast<int32_t>(g.seed[s - 1]), per_stage);
    }
  }

  if (!vector_width_supported(width)) width = VectorWidth::Two;
  switch (width) {
#if PROPBF_HAVE_WIDE
    case VectorWidth::Eight:
      run_group_avx512(g, problem, phase, scale);
      break;
    case VectorWidth::Four:
      run_group_avx2(g, problem, phase, scale);
      break;
#endif
    default:
      run_group_sse2(g, problem, phase, scale);
      break;
  }

  if (draws) {
    // Where RNUN would have left the generator after the last deviate of the group.
    numlib::RandomState& state = numlib::random_state();
    const int32_t last = static_cast<int32_t>(g.seed[count - 1]);
    state.work = static_cast<double>(last);
    state.seed = last;
  }
  for (int32_t s = 0; s < count; ++s) shares[s] = g.share[static_cast<size_t>(s)].share();
  const float* final_pi = g.pi.get() + static_cast<int64_t>(count - 1) * g.items;
  for (int32_t j = 0; j < g.items; ++j) pi[j] = final_pi[j];
  return true;
}

float fast_stage_share(const Problem& problem, Phase phase, int32_t stage, float* pi) {
  float share = 0.0f;
  if (!fast_stage_shares(problem, phase, stage, 1, pi, &share, chosen_vector_width(stage - 1))) {
    return literal_stage_share(problem, phase, stage, pi);
  }
  return share;
}

}  // namespace propbf::driver
