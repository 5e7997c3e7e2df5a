// Reading restriction matrices: a matrix of the size of the field's standard case (75,834
// rows over 20 parameters, about 16 nonzeros a row, as the strict weak order polytope on
// five items of three categories) parsed and turned into restrictions.
//
//   bench_polytope_bench [Google Benchmark flags]
//   POLYTOPE_MATRIX=FILE.csv bench_polytope_bench     the same for a file of its own (its
//                                                      header naming p1[1], p2[1], ...)
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "input/polytope_file.hpp"

namespace {

using namespace propbf::evaluate;

constexpr std::size_t kParameters = 20;

std::vector<Item> items(std::size_t count) {
  std::vector<Item> result(count);
  for (std::size_t j = 0; j < count; ++j) {
    std::ostringstream name;
    name << 'p' << j + 1;
    result[j].name = name.str();
  }
  return result;
}

// Rows of small integer coefficients, each nonzero with probability 0.8, and b in 0 ... 4.
std::string generated_matrix(std::size_t rows) {
  std::mt19937_64 random(29);
  std::ostringstream out;
  for (std::size_t i = 0; i < kParameters; ++i) out << "p" << i + 1 << "[1],";
  out << "b\n";
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t i = 0; i < kParameters; ++i) {
      const int value = random() % 10 < 8 ? static_cast<int>(random() % 3) - 1 : 0;
      out << value << ',';
    }
    out << random() % 5 << '\n';
  }
  return out.str();
}

std::string matrix_text() {
  if (const char* file = std::getenv("POLYTOPE_MATRIX")) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }
  return generated_matrix(75834);
}

void BM_ReadMatrix(benchmark::State& state) {
  const std::string content = matrix_text();
  const std::vector<Item> given = items(kParameters);
  const ParameterNames names(given);
  for (auto _ : state) {
    const PolytopeTable table = parse_polytope_table("matrix.csv", content, names, PolytopeForm::Matrix);
    const PolytopeRestrictions read = matrix_restrictions("matrix.csv", table, given.size());
    benchmark::DoNotOptimize(read.restrictions.data());
    state.counters["rows"] = static_cast<double>(table.rows());
    state.counters["restrictions"] = static_cast<double>(read.restrictions.size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * content.size()));
}
BENCHMARK(BM_ReadMatrix)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
