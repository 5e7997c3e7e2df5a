// Sorting 100000 floats: SVRGN's sort beside std::sort on the same data. Each
// iteration sorts a fresh copy of the input; the copy is timed in both, so the
// figures compare like with like.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "numeric/sort.hpp"

namespace {

constexpr int32_t kCount = 100000;

enum class Shape { random, sorted, reversed };

std::vector<float> make_input(Shape shape) {
  std::vector<float> v(kCount);
  std::mt19937 gen(12345);  // fixed seed: the same data in every run and benchmark
  for (float& x : v) x = static_cast<float>(gen() >> 8) * 0x1.0p-24f;  // [0, 1)
  if (shape == Shape::sorted) std::sort(v.begin(), v.end());
  if (shape == Shape::reversed) std::sort(v.begin(), v.end(), [](float a, float b) { return a > b; });
  return v;
}

void run_svrgn_sort(benchmark::State& state, Shape shape) {
  const std::vector<float> input = make_input(shape);
  std::vector<float> work(input.size());
  for (auto _ : state) {
    std::copy(input.begin(), input.end(), work.begin());
    propbf::numlib::detail::sort_ascending_in_place(work.data(), kCount);
    benchmark::DoNotOptimize(work.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

void run_std_sort(benchmark::State& state, Shape shape) {
  const std::vector<float> input = make_input(shape);
  std::vector<float> work(input.size());
  for (auto _ : state) {
    std::copy(input.begin(), input.end(), work.begin());
    std::sort(work.begin(), work.end());
    benchmark::DoNotOptimize(work.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

void BM_SVRGN_100000_random(benchmark::State& s) { run_svrgn_sort(s, Shape::random); }
void BM_StdSort_100000_random(benchmark::State& s) { run_std_sort(s, Shape::random); }
void BM_SVRGN_100000_sorted(benchmark::State& s) { run_svrgn_sort(s, Shape::sorted); }
void BM_StdSort_100000_sorted(benchmark::State& s) { run_std_sort(s, Shape::sorted); }
void BM_SVRGN_100000_reversed(benchmark::State& s) { run_svrgn_sort(s, Shape::reversed); }
void BM_StdSort_100000_reversed(benchmark::State& s) { run_std_sort(s, Shape::reversed); }

BENCHMARK(BM_SVRGN_100000_random)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdSort_100000_random)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SVRGN_100000_sorted)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdSort_100000_sorted)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SVRGN_100000_reversed)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdSort_100000_reversed)->Unit(benchmark::kMicrosecond);

// The full routine with its error-machine calls, for the overhead of the protocol.
void BM_SVRGN_routine_100000_random(benchmark::State& state) {
  const std::vector<float> input = make_input(Shape::random);
  std::vector<float> work(input.size());
  for (auto _ : state) {
    propbf::numlib::SVRGN(kCount, input.data(), work.data());
    benchmark::DoNotOptimize(work.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_SVRGN_routine_100000_random)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
