// The uniform and beta generators: cost per deviate at the calls the analysis makes
// (RNUN with a count of 1, RNBET with a count of 1 at its shapes 1 + h, 1 + n - h with
// n = 100000) and at the batch method. Every benchmark starts from a fixed seed.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "random/random.hpp"

namespace {

using namespace propbf::numlib;

constexpr int32_t kSeed = 1;
constexpr float kIterations = 100000.0f;  // n of the analysis

void BM_RnunOneDeviate(benchmark::State& state) {
  RNSET(kSeed);
  float r = 0.0f;
  for (auto _ : state) {
    RNUN(1, &r);
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RnunOneDeviate);

void BM_Rnunf(benchmark::State& state) {
  RNSET(kSeed);
  for (auto _ : state) benchmark::DoNotOptimize(RNUNF());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Rnunf);

// RNBET(1, PIN, QIN, R) in a loop, one deviate per call as the analysis draws them.
void run_single_beta(benchmark::State& state, float pin, float qin) {
  RNSET(kSeed);
  float r = 0.0f;
  for (auto _ : state) {
    RNBET(1, pin, qin, &r);
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
}

// h = 0: Beta(1, n + 1), inversion by a power.
void BM_RnbetPowerNoHits(benchmark::State& state) { run_single_beta(state, 1.0f, kIterations + 1.0f); }
BENCHMARK(BM_RnbetPowerNoHits);

// h = n / 2: Beta(50001, 50001), log-logistic rejection.
void BM_RnbetLogLogisticHalfHits(benchmark::State& state) {
  run_single_beta(state, 50001.0f, 50001.0f);
}
BENCHMARK(BM_RnbetLogLogisticHalfHits);

// h just above n, so that 1 + n - h rounds just below 1: switching method.
void BM_RnbetSwitchingShapeBelowOne(benchmark::State& state) {
  run_single_beta(state, kIterations + 1.0f, 0.99999994f);
}
BENCHMARK(BM_RnbetSwitchingShapeBelowOne);

// The batch method at 10/10, per deviate, for batches of the given size (set-up once
// per call).
void BM_RnbetBatchTenTen(benchmark::State& state) {
  const auto count = static_cast<int32_t>(state.range(0));
  std::vector<float> r(static_cast<std::size_t>(count));
  RNSET(kSeed);
  for (auto _ : state) {
    RNBET(count, 10.0f, 10.0f, r.data());
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_RnbetBatchTenTen)->Arg(5)->Arg(1000);

// Method C at the same shape, four at a time, to compare with the batch method.
void BM_RnbetLogLogisticTenTen(benchmark::State& state) {
  float r[4];
  RNSET(kSeed);
  for (auto _ : state) {
    RNBET(4, 10.0f, 10.0f, r);
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations() * 4);
}
BENCHMARK(BM_RnbetLogLogisticTenTen);

}  // namespace

BENCHMARK_MAIN();
