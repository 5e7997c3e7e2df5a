// `propbf evaluate` as a whole (chains, replications, intervals; no reading or writing):
//
//   BM_Threads/T         nine items in an order of eight stages, plus a three-stage
//                        hypothesis, at 5000 sweeps per stage, on T = 1 and 2 threads.
//   BM_Precision/S       the example problem in precision mode: from S = 1000 and 8000
//                        sweeps per stage until both corrected intervals are within 5%
//                        of each factor, one thread. Each doubling costs the chains'
//                        new sweeps and one pass of the corrected replications.
//   BM_FixedAtLadder/S   the same problem at the one fixed niter that gives every
//                        hypothesis at least the sweeps precision mode stopped it at (the
//                        largest of them, a step of the same doubling ladder), one thread.
//   BM_Example1000/T     the example problem at niter 1000 on T = 1 and 2 threads: mostly
//                        the fixed replications (2 kinds x 10 stage products of 100000
//                        shares, then 8 pairs of order statistics); the whole program
//                        adds its start-up (about 5 ms).
//
//   BM_PeerProblem/P     the three problems timed beside the peer (bench/problems/:
//                        0 example4, 1 order5, 2 order10), 20000 sweeps, one thread.
//   BM_TruncatedDraw/S   one truncated beta draw in situation S (see kSituations), one
//                        core; the counter "mass" is the interval's share of the
//                        distribution (from the method's table).
//   BM_ReplicationTable    one replicated stage share, Beta(1 + 8123, 1 + 11877), by the
//                        table the replications use; BM_ReplicationDeviate: the same by
//                        the gamma ratio (the chains' rejection draws use it).
//
// Counters: sweeps = stage-chain sweeps run (all hypotheses, both phases). After the
// benchmarks, one line each: the speed-up of 2 threads over 1 and, per start S,
// precision mode's time and sweeps against the fixed run's (fastest repetition of each).
//
//   bench_evaluate_bench [Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sampling/beta_functions.hpp"
#include "sampling/predictive.hpp"
#include "engine/evaluation.hpp"
#include "input/problem_file.hpp"

namespace {

using propbf::evaluate::Evaluation;
using propbf::evaluate::HypothesisResult;
using propbf::evaluate::Item;
using propbf::evaluate::CountsProblem;

CountsProblem make_problem(const std::vector<std::string>& names, const std::vector<std::int64_t>& successes,
                     std::int64_t trials, const std::vector<std::pair<std::string, std::string>>& hypotheses) {
  CountsProblem problem;
  problem.file_name = "bench";
  for (std::size_t j = 0; j < names.size(); ++j) {
    Item item;
    item.name = names[j];
    item.successes = successes[j];
    item.trials = trials;
    problem.items.push_back(item);
  }
  for (const auto& [name, text] : hypotheses) {
    propbf::evaluate::HypothesisText hypothesis;
    hypothesis.name = name;
    hypothesis.text = text;
    problem.hypotheses.push_back(hypothesis);
  }
  return problem;
}

CountsProblem eight_stages() {
  CountsProblem problem = make_problem({"a", "b", "c", "d", "e", "f", "g", "h", "i"}, {9, 8, 8, 6, 5, 5, 3, 2, 1}, 10,
                                 {{"H1", "a > b > c > d > e > f > g > h > i"}, {"H2", "a + b > c + d; e > 0.4; f < 0.7"}});
  problem.settings.niter = 5000;
  return problem;
}

CountsProblem example(std::optional<double> precision, std::int64_t niter) {
  CountsProblem problem = make_problem({"a", "b", "c", "d"}, {7, 5, 3, 9}, 10,
                                 {{"H1", "a > b > c; d > 0.5"}, {"H2", "(a + b) / 2 > 0.6 & c < d"}});
  problem.settings.niter = niter;
  problem.settings.precision = precision;
  return problem;
}

double sweeps_run(const Evaluation& evaluation) {
  double sweeps = 0.0;
  for (const HypothesisResult& h : evaluation.hypotheses) {
    sweeps += 2.0 * static_cast<double>(h.restrictions.size()) * static_cast<double>(h.niter);
  }
  return sweeps;
}

void run(benchmark::State& state, const CountsProblem& problem, int threads) {
  double sweeps = 0.0;
  for (auto _ : state) {
    const Evaluation evaluation = propbf::evaluate::evaluate_problem(problem, threads);
    sweeps = sweeps_run(evaluation);
    benchmark::DoNotOptimize(evaluation.pmp_unconstrained);
  }
  state.counters["sweeps"] = sweeps;
}

constexpr double kPrecision = 0.05;
constexpr std::int64_t kStarts[] = {1000, 8000};

// The largest niter precision mode stopped a hypothesis at: the fixed run from the same
// ladder that gives every hypothesis at least as many sweeps.
std::int64_t ladder_niter(std::int64_t start) {
  static std::map<std::int64_t, std::int64_t> found;
  if (found.count(start) == 0) {
    const Evaluation evaluation = propbf::evaluate::evaluate_problem(example(kPrecision, start), 0);
    std::int64_t largest = 0;
    for (const HypothesisResult& h : evaluation.hypotheses) largest = std::max(largest, h.niter);
    found[start] = largest;
  }
  return found[start];
}

void BM_Threads(benchmark::State& state) { run(state, eight_stages(), static_cast<int>(state.range(0))); }
BENCHMARK(BM_Threads)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3);

void BM_Precision(benchmark::State& state) { run(state, example(kPrecision, state.range(0)), 1); }
BENCHMARK(BM_Precision)->Arg(kStarts[0])->Arg(kStarts[1])->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3);

void BM_FixedAtLadder(benchmark::State& state) {
  const std::int64_t niter = ladder_niter(state.range(0));
  run(state, example(std::nullopt, niter), 1);
  state.counters["niter"] = static_cast<double>(niter);
}
BENCHMARK(BM_FixedAtLadder)->Arg(kStarts[0])->Arg(kStarts[1])->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3);

void BM_Example1000(benchmark::State& state) {
  run(state, example(std::nullopt, 1000), static_cast<int>(state.range(0)));
}
BENCHMARK(BM_Example1000)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);

const char* const kPeerProblems[] = {"example4", "order5", "order10"};

void BM_PeerProblem(benchmark::State& state) {
  const std::string file =
      std::string(PROPBF_SOURCE_DIR) + "/bench/problems/" + kPeerProblems[state.range(0)] + ".toml";
  const CountsProblem problem = propbf::evaluate::read_problem_file(file);
  state.SetLabel(kPeerProblems[state.range(0)]);
  run(state, problem, 1);
}
BENCHMARK(BM_PeerProblem)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3);

struct Situation {
  const char* name;
  double a, b, low, up;
  bool inversion;  // drawn by inversion whatever the method would be
};

// The situations of the draws: the complexity phase's uniform items, posteriors of ten
// trials and of fifty (order10's first item), and shapes of a million trials.
constexpr Situation kSituations[] = {
    {"uniform item", 1, 1, 0.2, 0.5, false},
    {"rejection, whole interval", 43, 9, 0.0, 1.0, false},
    {"rejection, most of the mass", 8, 4, 0.55, 0.85, false},
    {"envelope, narrow in the body", 8, 4, 0.66, 0.67, false},
    {"envelope, lower tail", 8, 4, 0.05, 0.2, false},
    {"envelope, huge shapes, far tail", 1e5, 1e5, 0.505, 0.51, false},
    {"inversion, shape below 1", 0.5, 3, 0.1, 0.5, false},
    {"inversion (the former draw), most of the mass", 8, 4, 0.55, 0.85, true},
    {"inversion (the former draw), lower tail", 8, 4, 0.05, 0.2, true},
};

void BM_TruncatedDraw(benchmark::State& state) {
  const Situation& s = kSituations[state.range(0)];
  const propbf::evaluate::TruncatedBeta draws(s.a, s.b);
  const propbf::evaluate::TruncatedMethod method =
      s.inversion ? propbf::evaluate::TruncatedMethod::Inversion : draws.method(s.low, s.up);
  propbf::evaluate::CounterStream stream(1, 0, propbf::evaluate::StreamKind::FitSweeps, 1);
  for (auto _ : state) benchmark::DoNotOptimize(draws.draw_with(method, s.low, s.up, stream));
  state.SetLabel(s.name);
  state.counters["mass"] = draws.approximate_mass(s.low, s.up);
}
BENCHMARK(BM_TruncatedDraw)->DenseRange(0, static_cast<int>(std::size(kSituations)) - 1);

void BM_ReplicationDeviate(benchmark::State& state) {
  const propbf::evaluate::BetaDeviate deviate(1.0 + 8123.0, 1.0 + 11877.0);
  propbf::evaluate::CounterStream stream(1, 0, propbf::evaluate::StreamKind::FitReplications, 1);
  for (auto _ : state) benchmark::DoNotOptimize(deviate(stream));
}
BENCHMARK(BM_ReplicationDeviate);

void BM_ReplicationTable(benchmark::State& state) {
  const propbf::evaluate::BetaTable deviate(1.0 + 8123.0, 1.0 + 11877.0);
  propbf::evaluate::CounterStream stream(1, 0, propbf::evaluate::StreamKind::FitReplications, 1);
  for (auto _ : state) benchmark::DoNotOptimize(deviate(stream));
}
BENCHMARK(BM_ReplicationTable);

// The replicated counts of the predictive check: a binomial draw (inversion for n p < 11,
// BTRD beyond) and a trinomial's two conditional binomials with its X^2.
void BM_BinomialDraw(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  propbf::evaluate::CounterStream stream(1, 0, propbf::evaluate::StreamKind::PredictiveReplications, 0);
  for (auto _ : state) benchmark::DoNotOptimize(propbf::evaluate::binomial_draw(n, 0.3, stream));
}
BENCHMARK(BM_BinomialDraw)->Arg(20)->Arg(1000)->Arg(1000000);

void BM_TrinomialCheck(benchmark::State& state) {
  const double theta[3] = {0.42, 0.48, 0.1};
  const std::int64_t observed[3] = {21, 24, 5};
  propbf::evaluate::CounterStream stream(1, 0, propbf::evaluate::StreamKind::PredictiveReplications, 0);
  for (auto _ : state) {
    std::int64_t replicated[3];
    propbf::evaluate::multinomial_draw(50, theta, 3, stream, replicated);
    benchmark::DoNotOptimize(propbf::evaluate::pearson_item(replicated, theta, 3) >=
                             propbf::evaluate::pearson_item(observed, theta, 3));
  }
}
BENCHMARK(BM_TrinomialCheck);

// Keeps the fastest repetition of each benchmark (and its sweeps) for the closing lines.
class Reporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      const std::string name = run.run_name.str();
      const double seconds = run.GetAdjustedRealTime() * 1e-3;  // milliseconds
      auto [at, inserted] = fastest.try_emplace(name, seconds);
      if (!inserted) at->second = std::min(at->second, seconds);
      const auto sweeps = run.counters.find("sweeps");
      if (sweeps != run.counters.end()) this->sweeps[name] = sweeps->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> fastest;
  std::map<std::string, double> sweeps;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto& t = reporter.fastest;
  if (t.count("BM_Threads/1/iterations:1/repeats:3/real_time") != 0 &&
      t.count("BM_Threads/2/iterations:1/repeats:3/real_time") != 0) {
    const double one = t.at("BM_Threads/1/iterations:1/repeats:3/real_time");
    const double two = t.at("BM_Threads/2/iterations:1/repeats:3/real_time");
    std::printf("threads: 1 thread %.3f s, 2 threads %.3f s, speed-up %.2fx (fastest of 3)\n", one, two, one / two);
  }
  for (const std::int64_t start : kStarts) {
    std::string suffix = "/";
    suffix.append(std::to_string(start)).append("/iterations:1/repeats:3/real_time");
    const std::string precision = std::string("BM_Precision").append(suffix);
    const std::string fixed = std::string("BM_FixedAtLadder").append(suffix);
    if (t.count(precision) == 0 || t.count(fixed) == 0) continue;
    std::printf("precision %.2f from niter %lld: %.3f s, %.0f sweeps; fixed niter %lld: %.3f s, %.0f sweeps; "
                "time ratio %.2f, sweep ratio %.2f (fastest of 3)\n",
                kPrecision, static_cast<long long>(start), t.at(precision), reporter.sweeps[precision],
                static_cast<long long>(ladder_niter(start)), t.at(fixed), reporter.sweeps[fixed],
                t.at(precision) / t.at(fixed), reporter.sweeps[precision] / reporter.sweeps[fixed]);
  }
  benchmark::Shutdown();
  return 0;
}
