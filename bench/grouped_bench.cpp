// Sweeps of grouped stages (method.md, "Stages for many restrictions"): a generated
// polytope of the field's standard shape (20 parameters, rows of about 16 small integer
// coefficients, as the strict weak order polytope's 75,834), every row holding at the
// middle of the cube with room. Measured: the hit check of every row at one state, plain
// (term by term) and through the single-precision filter; sweeps of a late stage's chain
// (truncated to the first 50 rows, checking all); sweeps of the estimate chain truncated
// to every row (kept values) and to the first 50 (visits to the hypothesis).
//
//   bench_grouped_bench [Google Benchmark flags]     (rows: the benchmark's argument)
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "sampling/estimates.hpp"
#include "sampling/sampler.hpp"

namespace {

using namespace propbf::evaluate;

constexpr std::size_t kItems = 20;

// Rows g x > c with g in -2 ... 2 (each nonzero with probability 0.8) and c a little
// below g's value at the middle, the slack growing with the row's index, as a polytope's
// later facets cut less.
std::vector<Restriction> generated(std::size_t rows) {
  std::mt19937_64 random(17);
  std::uniform_int_distribution<int> coefficient(-2, 2);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<Restriction> result(rows);
  for (std::size_t k = 0; k < rows; ++k) {
    Restriction& r = result[k];
    double at_middle = 0.0;
    for (std::size_t j = 0; j < kItems; ++j) {
      const double g = unit(random) < 0.8 ? coefficient(random) : 0.0;
      r.coefficients.push_back(g);
      at_middle += 0.5 * g;
    }
    r.constant = at_middle - 0.1 - 2.0 * unit(random) * std::sqrt(static_cast<double>(k + 1) / static_cast<double>(rows));
  }
  return result;
}

void CheckPlain(benchmark::State& state) {
  const std::vector<Restriction> rows = generated(static_cast<std::size_t>(state.range(0)));
  const SparseRestrictions sparse(rows, kItems);
  const std::vector<double> x(kItems, 0.5);
  for (auto _ : state) {
    bool holds = true;
    for (std::size_t k : sparse.shared_restrictions()) {
      double value = 0.0;
      for (const SparseRestrictions::Term* t = sparse.terms_begin(k); t != sparse.terms_end(k); ++t) {
        value += t->coefficient * x[t->item];
      }
      holds = holds && value > sparse.constant(k);
    }
    benchmark::DoNotOptimize(holds);
  }
}

void CheckFilter(benchmark::State& state) {
  const std::vector<Restriction> rows = generated(static_cast<std::size_t>(state.range(0)));
  const SparseRestrictions sparse(rows, kItems);
  const std::vector<double> x(kItems, 0.5);
  for (auto _ : state) benchmark::DoNotOptimize(sparse.filter()->holds(sparse, 0, rows.size(), x));
}

void LateStageSweeps(benchmark::State& state) {
  const std::vector<Restriction> rows = generated(static_cast<std::size_t>(state.range(0)));
  const auto sparse = std::make_shared<const SparseRestrictions>(rows, kItems);
  const std::vector<double> shape(kItems, 1.0);
  const auto draws = std::make_shared<const std::vector<TruncatedBeta>>(item_draws(shape, shape));
  StageChain chain(sparse, 2, std::vector<double>(kItems, 0.5), draws, ChainSettings{0, 1, 2}, nullptr, nullptr,
                   StageRange{50, rows.size()});
  std::int64_t sweeps = 0;
  for (auto _ : state) chain.run_to(sweeps += 100);
  state.SetItemsProcessed(sweeps);
}

void EstimateSweeps(benchmark::State& state) {
  const std::vector<Restriction> rows = generated(static_cast<std::size_t>(state.range(0)));
  // A posterior of 4000 observations per parameter, inside the polytope but near some rows.
  const std::vector<double> shape_a(kItems, 2000.0);
  const std::vector<double> shape_b(kItems, 2000.0);
  EstimateChainSettings settings{1 << 30, 1, 2};
  settings.truncated = state.range(1) == 0 ? rows.size() : 50;
  const std::vector<double> start(kItems, 0.5);
  EstimateChain chain(rows, start, shape_a, shape_b, settings);
  std::int64_t sweeps = 0;
  for (auto _ : state) chain.run_to(sweeps += 100);
  state.SetItemsProcessed(sweeps);
}

}  // namespace

BENCHMARK(CheckPlain)->Arg(75834)->Unit(benchmark::kMicrosecond);
BENCHMARK(CheckFilter)->Arg(75834)->Unit(benchmark::kMicrosecond);
BENCHMARK(LateStageSweeps)->Arg(75834)->Unit(benchmark::kMillisecond);
BENCHMARK(EstimateSweeps)->Args({75834, 0})->Args({75834, 50})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
