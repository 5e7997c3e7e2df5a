// The stage sampler: the literal and the fast implementation side by side, and the
// machine's bound for one chain of rounded additions.
//
//   bench_sampler_bench [Google Benchmark flags]
//       microbenchmarks: one chain of rounded double additions (the latency bound of
//       a single sum) and many independent ones, one stage of each sampler, all stages
//       of a phase at each vector width, both phases with each sampler.
//   bench_sampler_bench --side-by-side DIR
//       the whole analysis of DIR/input.txt twice in this process, once with the literal
//       sampler and once with the program's own, each in its own subfolder of DIR
//       (literal/, fast/: input.txt copied, output.txt and console.txt written there).
//       Prints one line to standard error:
//         literal_seconds fast_seconds speedup draw_terms identical
//       where identical is "yes" when output.txt and the console lines match byte for
//       byte. The run is the program's own sequence (read, both phases, replications,
//       report) with the sampler as the only difference.
//
// Draw-terms: a draw of stage t forms t-1 sums of J-1 terms each, so a stage of niter
// sweeps has niter x J x (t-1) x (J-1) of them, whatever the implementation.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "driver/problem.hpp"
#include "driver/report.hpp"
#include "driver/sampler.hpp"
#include "random/random.hpp"
#include "textio/textio.hpp"

namespace {

using propbf::driver::Phase;
using propbf::driver::Problem;

// A problem like the ones researchers state: dense rows, a start strictly inside every
// restriction, observations 0 and 1.
Problem make_problem(int32_t items, int32_t stages, int32_t niter) {
  std::mt19937 engine(12345u);
  auto unit = [&] { return static_cast<float>(engine() % 1000001u) / 1000000.0f; };
  Problem p;
  p.nitem = items;
  p.nrestr = stages;
  p.niter = niter;
  p.r.allocate(static_cast<int64_t>(items) * stages);
  p.rc.allocate(stages);
  p.initpi.allocate(items);
  p.x.allocate(items);
  for (int32_t j = 0; j < items; ++j) {
    p.initpi[j] = 0.2f + 0.6f * unit();
    p.x[j] = static_cast<int32_t>(engine() % 2u);
  }
  for (int32_t t = 0; t < stages; ++t) {
    float sum = 0.0f;
    for (int32_t j = 0; j < items; ++j) {
      const float c = std::round((unit() - 0.5f) * 200.0f) / 100.0f;
      p.r[static_cast<int64_t>(t) * items + j] = c;
      sum += c * p.initpi[j];
    }
    p.rc[t] = sum - 0.1f;
  }
  return p;
}

double stage_terms(int32_t items, int32_t stage, int32_t niter) {
  return static_cast<double>(niter) * items * (stage - 1) * (items > 0 ? items - 1 : 0);
}

double phase_terms(int32_t items, int32_t stages, int32_t niter) {
  double sum = 0.0;
  for (int32_t t = 1; t <= stages; ++t) sum += stage_terms(items, t, niter);
  return sum;
}

// Keeps the progress lines of run_phase off the benchmark's report.
class QuietConsole {
 public:
  QuietConsole() : saved_(::dup(STDOUT_FILENO)) {
    std::fflush(stdout);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
  }
  ~QuietConsole() {
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }

 private:
  int saved_;
};

// ---------------------------------------------------------------------------------
// The bound: one chain of additions, each formed in double from the float partial sum
// and an exact product, rounded back to float. Every addition waits for the previous
// one, so this is the latency of one step; a sampler that adds its terms one chain at a
// time cannot go faster than this many terms per second.
void BM_ChainOfRoundedAdditions(benchmark::State& state) {
  std::vector<double> terms(1024);
  std::mt19937 engine(7u);
  for (double& t : terms) t = static_cast<double>(static_cast<float>(engine() % 1000u) / 1000.0f) * 0.5;
  float sum = 0.0f;
  for (auto _ : state) {
    for (double t : terms) {
      sum = static_cast<float>(static_cast<double>(sum) + t);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["additions"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * terms.size(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ChainOfRoundedAdditions);

// The same additions in K independent chains (rows), as the fast sampler runs them: the
// chains overlap, so this approaches the machine's throughput for these additions in
// the default (portable) instruction set.
void BM_IndependentChains(benchmark::State& state) {
  const int64_t chains = state.range(0);
  std::vector<double> terms(1024 * chains);
  std::mt19937 engine(7u);
  for (double& t : terms) t = static_cast<double>(static_cast<float>(engine() % 1000u) / 1000.0f) * 0.5;
  std::vector<float> sums(static_cast<size_t>(chains), 0.0f);
  for (auto _ : state) {
    const double* t = terms.data();
    for (int i = 0; i < 1024; ++i, t += chains) {
      for (int64_t k = 0; k < chains; ++k) {
        sums[static_cast<size_t>(k)] = static_cast<float>(static_cast<double>(sums[static_cast<size_t>(k)]) + t[k]);
      }
    }
    benchmark::DoNotOptimize(sums.data());
  }
  state.counters["additions"] = benchmark::Counter(static_cast<double>(state.iterations()) * 1024.0 * chains,
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(BM_IndependentChains)->Arg(2)->Arg(8)->Arg(32);

// One stage (the argument) of a J = 20, T = 20 problem, 200 sweeps.
template <bool kFast>
void BM_Stage(benchmark::State& state) {
  const int32_t stage = static_cast<int32_t>(state.range(0));
  const Problem problem = make_problem(20, 20, 200);
  std::vector<float> pi(20);
  QuietConsole quiet;
  for (auto _ : state) {
    propbf::numlib::RNSET(1);
    float share = 0.0f;
    if (kFast) {
      propbf::numlib::UniformStream stream = propbf::numlib::reserve_uniforms();
      propbf::driver::fast_stage_shares(problem, Phase::Fit, stage, 1, pi.data(), &share,
                                        propbf::driver::chosen_vector_width(stage - 1), stream);
    } else {
      share = propbf::driver::literal_stage_share(problem, Phase::Fit, stage, pi.data());
    }
    benchmark::DoNotOptimize(share);
  }
  state.counters["draw_terms"] = benchmark::Counter(
      stage_terms(20, stage, problem.niter) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_TEMPLATE(BM_Stage, false)->Name("BM_Stage/literal")->Arg(2)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Stage, true)->Name("BM_Stage/fast")->Arg(2)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);

// All stages of a phase run as one group, with each vector width (2, 4, 8 doubles).
void BM_GroupByWidth(benchmark::State& state) {
  const auto width = static_cast<propbf::driver::VectorWidth>(state.range(0));
  const int32_t items = static_cast<int32_t>(state.range(1));
  const int32_t stages = static_cast<int32_t>(state.range(2));
  if (!propbf::driver::vector_width_supported(width)) {
    state.SkipWithError("vector width not supported here");
    return;
  }
  const Problem problem = make_problem(items, stages, 200);
  std::vector<float> pi(static_cast<size_t>(items)), shares(static_cast<size_t>(stages));
  for (auto _ : state) {
    propbf::numlib::RNSET(1);
    propbf::numlib::UniformStream stream = propbf::numlib::reserve_uniforms();
    propbf::driver::fast_stage_shares(problem, Phase::Fit, 1, stages, pi.data(), shares.data(), width, stream);
    benchmark::DoNotOptimize(shares.data());
  }
  state.counters["draw_terms"] = benchmark::Counter(
      phase_terms(items, stages, problem.niter) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GroupByWidth)
    ->ArgNames({"width", "J", "T"})
    ->ArgsProduct({{0, 1, 2}, {5, 20, 40}, {3, 6, 20}})
    ->Unit(benchmark::kMillisecond);

// Both phases of a J = 20, T = 20 problem, 200 sweeps: the literal sampler stage by
// stage, and the program's own (stages in groups).
template <bool kFast>
void BM_BothPhases(benchmark::State& state) {
  const Problem problem = make_problem(20, 20, 200);
  std::vector<float> pi(20), hits(20);
  QuietConsole quiet;
  for (auto _ : state) {
    propbf::numlib::RNSET(1);
    for (Phase phase : {Phase::Complexity, Phase::Fit}) {
      const float product =
          propbf::driver::run_phase(problem, phase, pi.data(), hits.data(),
                                    kFast ? propbf::driver::SamplerChoice::Fast : propbf::driver::SamplerChoice::Literal);
      benchmark::DoNotOptimize(product);
    }
  }
  state.counters["draw_terms"] = benchmark::Counter(
      2.0 * phase_terms(20, 20, problem.niter) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_TEMPLATE(BM_BothPhases, false)->Name("BM_BothPhases/literal")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_BothPhases, true)->Name("BM_BothPhases/fast")->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------
// The whole analysis with a given sampler, in the current folder: the program's own
// sequence of steps, ending with the files closed instead of the process.
double whole_run(propbf::driver::SamplerChoice sampler) {
  namespace d = propbf::driver;
  namespace io = propbf::textio;
  const auto start = std::chrono::steady_clock::now();
  io::open_unit(io::kInputFile, "input.txt");
  io::open_unit(io::kOutputFile, "output.txt");
  d::Problem problem;
  d::Workspace workspace;
  d::read_problem(problem, workspace);
  const float c = d::run_phase(problem, Phase::Complexity, workspace.pi.data(), workspace.chit.data(), sampler);
  const float f = d::run_phase(problem, Phase::Fit, workspace.pi.data(), workspace.fhit.data(), sampler);
  d::BayesFactors factors{};
  d::replicate_factors(problem, workspace, c, f, factors);
  d::write_report(c, f, factors);
  problem = d::Problem{};
  workspace = d::Workspace{};
  io::close_all_files();
  const auto end = std::chrono::steady_clock::now();
  return std::chrono::duration<double>(end - start).count();
}

std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the analysis in `folder` with `sampler`, the console lines going to
// folder/console.txt. Returns the seconds taken.
double run_in(const std::filesystem::path& folder, propbf::driver::SamplerChoice sampler) {
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(folder.parent_path() / "input.txt", folder / "input.txt",
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::remove(folder / "output.txt");
  const auto here = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  const int console = ::open("console.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(console, STDOUT_FILENO);
  ::close(console);
  const double seconds = whole_run(sampler);
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  std::filesystem::current_path(here);
  return seconds;
}

int side_by_side(const std::filesystem::path& dir) {
  // The counts line of the input, for the draw-terms.
  std::ifstream in(dir / "input.txt");
  std::string line;
  std::getline(in, line);
  double items = 0, stages = 0, niter = 0;
  in >> items >> stages >> niter;
  const double terms = niter > 0 ? 2.0 * niter * items * (items > 0 ? items - 1 : 0) * stages * (stages - 1) / 2.0 : 0.0;

  const double literal = run_in(dir / "literal", propbf::driver::SamplerChoice::Literal);
  const double fast = run_in(dir / "fast", propbf::driver::SamplerChoice::Fast);
  const bool identical = slurp(dir / "literal" / "output.txt") == slurp(dir / "fast" / "output.txt") &&
                         slurp(dir / "literal" / "console.txt") == slurp(dir / "fast" / "console.txt") &&
                         !slurp(dir / "fast" / "output.txt").empty();
  std::fprintf(stderr, "%.3f %.3f %.2f %.6g %s\n", literal, fast, literal / fast, terms, identical ? "yes" : "no");
  return identical ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--side-by-side") == 0) return side_by_side(argv[2]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
