// The uniform and beta generators: cost per deviate at the calls the analysis makes
// (RNUN with a count of 1, RNBET with a count of 1 at its shapes 1 + h, 1 + n - h with
// n = 100000), at the batch method, and the replications' repeated draws through a
// cycle of shapes. Every benchmark starts from a fixed seed.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "concurrency/executor.hpp"
#include "random/beta_sequence.hpp"
#include "random/random.hpp"

namespace {

using namespace propbf::numlib;
namespace concurrency = propbf::concurrency;

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

// The replications' cycle of the bundled example (three stages, complexity and fit):
// the plain loop of RNBET(1, ...) calls beside RepeatedBetaDraws, 1000 cycles a block.
const std::vector<float> kExamplePins{815.0f, 2758.0f, 5001.5f};
const std::vector<float> kExampleQins{9187.0f, 7244.0f, 5000.5f};

template <bool kArranged>
void BM_ExampleCycle(benchmark::State& state) {
  const int32_t count = static_cast<int32_t>(kExamplePins.size());
  std::vector<float> out(1000 * static_cast<std::size_t>(count));
  RepeatedBetaDraws draws(kExamplePins.data(), kExampleQins.data(), count);
  RNSET(kSeed);
  for (auto _ : state) {
    if (kArranged) {
      draws.draw(1000, out.data());
    } else {
      RepeatedBetaDraws::draw_plain(kExamplePins.data(), kExampleQins.data(), count, 1000, out.data());
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 1000 * count);
}
BENCHMARK_TEMPLATE(BM_ExampleCycle, false)->Name("BM_ExampleCycle/plain");
BENCHMARK_TEMPLATE(BM_ExampleCycle, true)->Name("BM_ExampleCycle/arranged");

// The whole replication phase's draws for a cycle of six method-C shapes (three stages,
// complexity and fit): 100000 cycles through draw_in_blocks on one or two threads, in
// wall time.
void BM_ReplicationDraws(benchmark::State& state) {
  const std::vector<float> pins{815.0f, 2758.0f, 5001.5f, 9001.0f, 3003.0f, 6001.0f};
  const std::vector<float> qins{9187.0f, 7244.0f, 5000.5f, 1001.0f, 6999.0f, 4001.0f};
  concurrency::Executor executor(static_cast<int>(state.range(0)));
  RepeatedBetaDraws draws(pins.data(), qins.data(), static_cast<int32_t>(pins.size()));
  RNSET(kSeed);
  float sum = 0.0f;
  for (auto _ : state) {
    draws.draw_in_blocks(100000, 1365, [&](const float* block, int32_t n) { sum += block[n - 1]; }, nullptr, &executor);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * 100000 * static_cast<int64_t>(pins.size()));
}
BENCHMARK(BM_ReplicationDraws)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same split into stretches, with a second thread that never comes: the calling
// thread draws every stretch, so this shows what the split costs beside the plain
// one-thread path (BM_ReplicationDraws/1).
void BM_ReplicationDrawsSplitOnOneThread(benchmark::State& state) {
  const std::vector<float> pins{815.0f, 2758.0f, 5001.5f, 9001.0f, 3003.0f, 6001.0f};
  const std::vector<float> qins{9187.0f, 7244.0f, 5000.5f, 1001.0f, 6999.0f, 4001.0f};
  RepeatedBetaDraws draws(pins.data(), qins.data(), static_cast<int32_t>(pins.size()));
  RNSET(kSeed);
  float sum = 0.0f;
  concurrency::JobHandoff nobody;
  concurrency::Executor executor(nobody);
  for (auto _ : state) {
    draws.draw_in_blocks(100000, 1365, [&](const float* block, int32_t n) { sum += block[n - 1]; }, nullptr, &executor);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_ReplicationDrawsSplitOnOneThread)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
