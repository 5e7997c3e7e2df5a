// The fast sampler's kernel, written once for every instruction set (included by
// sampler_fast.cpp, inside its anonymous namespace, once per set of target attributes).
// It is inlined, with the vector operations, into one entry function per instruction set
// (flatten), where the instructions of that set are allowed.

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

// Spreads a stage's new value of the drawn item over its rows, four at a time (one
// unaligned vector store; SSE is part of every x86-64). The last four end exactly at the
// stage's last row and may reach back into the rows of earlier stages (or the guard
// before row 0); the stages are therefore spread from the last to the first, so that
// every earlier stage writes its own rows afterwards.
inline void spread_value(StageGroup& g, int32_t s, float v) {
  float* value = g.values();
  const int64_t begin = g.first_row[s];
  const int64_t end = begin + g.first + s - 1;
  const __m128 four = _mm_set1_ps(v);
  int64_t r = begin;
  for (; r + 4 <= end; r += 4) _mm_storeu_ps(value + r, four);
  if (r < end) _mm_storeu_ps(value + end - 4, four);
  value[g.test_row(s)] = v;
}

template <class V, int kBlock>
inline void run_group(StageGroup& g, const Problem& problem, Phase phase) {
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

  for (int32_t sweep = 1; sweep <= problem.niter; ++sweep) {
    for (int64_t r = 0; r < g.rows; ++r) g.carried[r] = 0.0f;

    for (int32_t j = 0; j < items; ++j) {
      bounds_for_item<V, kBlock>(g, j);

      const int64_t* starts = g.list_start.get() + 2 * static_cast<int64_t>(j) * stages;
      const int32_t* list = g.list.get();
      const float* lowup = g.bound.get();
      for (int32_t s = stages - 1; s >= 0; --s) {  // last to first: see spread_value
        ItemInterval interval;
        for (int64_t q = starts[2 * s]; q < starts[2 * s + 1]; ++q) interval.raise_low(lowup[list[q]]);
        for (int64_t q = starts[2 * s + 1]; q < starts[2 * s + 2]; ++q) interval.lower_up(lowup[list[q]]);

        const float u = g.stream[static_cast<size_t>(s)].next();
        float* pi = g.pi.get() + static_cast<int64_t>(s) * items;
        pi[j] = drawn_value(phase, x[j], interval, u, pi[j]);
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
      SmallestSlack small;
      const int64_t begin = g.first_row[s];
      const int64_t end = begin + g.first + s - 1;
      for (int64_t r = begin; r < end; ++r) small.take(slack[r]);
      small.take(slack[g.test_row(s)]);
      if (small.hit()) g.share[static_cast<size_t>(s)].add_hit();
    }
  }
}
