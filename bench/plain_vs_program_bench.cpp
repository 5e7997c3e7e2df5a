// The plain step-by-step method beside the program, on four problem shapes of the
// size most hypotheses have, and a phase profile of one run of each. Times are CPU
// seconds (user + system), with the wall seconds of the whole processes beside them.
//
//   bench_plain_vs_program_bench [REPEATS]   whole processes side by side, best of
//                                            REPEATS (default 5), and the ratios
//   bench_plain_vs_program_bench --profile   the phases of a run of each shape (each
//                                            phase the fastest of three runs)
//
// The plain method is the program's own steps with the literal parts: the literal
// stage sampler, one RNBET call per beta deviate, SVRGN's full sort of both replicated
// factors. It runs as a process of this binary (--plain-run, in the current folder),
// the program as the real propbf binary, each in its own folder with the same
// input.txt; both must leave the same output.txt and console bytes. The in-process
// columns time the same steps inside this process, without process start and exit.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "driver/problem.hpp"
#include "driver/replications.hpp"
#include "driver/report.hpp"
#include "driver/run.hpp"
#include "driver/sampler.hpp"
#include "errors/errors.hpp"
#include "numeric/machine.hpp"
#include "numeric/sort.hpp"
#include "random/beta_sequence.hpp"
#include "random/random.hpp"
#include "textio/textio.hpp"

namespace {

namespace fs = std::filesystem;
namespace d = propbf::driver;
namespace io = propbf::textio;
namespace nl = propbf::numlib;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU seconds of this process so far. The machine is shared, so wall times of the
// same run vary by tens of per cent while CPU times stay within a few.
double process_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---------------------------------------------------------------------------------
// The four shapes
// ---------------------------------------------------------------------------------

struct Shape {
  std::string name;
  std::string input;
};

// p1 > p2 > ... > pJ (T = J - 1), a decreasing start, observations in `x`.
std::string ordering(const std::vector<int>& x, int niter) {
  const size_t items = x.size();
  std::ostringstream in;
  in << "strict ordering of " << items << " items\n" << items << ' ' << items - 1 << ' ' << niter << "\nr\n";
  for (size_t t = 0; t + 1 < items; ++t) {
    for (size_t j = 0; j < items; ++j) in << (j == t ? 1 : j == t + 1 ? -1 : 0) << ' ';
    in << "0\n";
  }
  in << "start\n";
  for (size_t j = 0; j < items; ++j) in << 0.95 - 0.9 * static_cast<double>(j) / static_cast<double>(items) << ' ';
  in << "\nx\n";
  for (int v : x) in << v << ' ';
  in << '\n';
  return in.str();
}

std::vector<Shape> shapes() {
  std::vector<Shape> list;
  list.push_back({"examples/input.txt (J 4, T 3, 10000 sweeps)",
                  slurp(fs::path(PROPBF_SOURCE_DIR) / "examples" / "input.txt")});
  // An ordering, a contrast of pairs, a threshold, a weighted contrast and a sum.
  list.push_back({"J 10, T 5 mixed, 20000 sweeps",
                  "ten items, five mixed restrictions\n10 5 20000\nr\n"
                  "1 -1 0 0 0 0 0 0 0 0 0\n"
                  "0 0 1 1 -1 -1 0 0 0 0 0\n"
                  "0 0 0 0 0 0 1 0 0 0 0.3\n"
                  "0 0 0 0 0 0 0 0.5 0.5 -1 -0.1\n"
                  "1 1 1 -1 -1 0 0 0 0 0 0.2\n"
                  "start\n0.8 0.6 0.7 0.6 0.3 0.4 0.5 0.6 0.6 0.5\n"
                  "x\n1 0 1 1 0 0 1 1 0 1\n"});
  list.push_back({"J 10 strict ordering (T 9), 20000 sweeps", ordering({1, 1, 1, 0, 1, 0, 1, 0, 0, 0}, 20000)});
  list.push_back({"J 20 strict ordering (T 19), 20000 sweeps",
                  ordering({1, 1, 1, 1, 0, 1, 1, 0, 1, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0}, 20000)});
  return list;
}

// ---------------------------------------------------------------------------------
// Runs
// ---------------------------------------------------------------------------------

// The plain method, step by step, in the current folder; closes the files at the end.
void plain_steps() {
  io::open_unit(io::kInputFile, "input.txt");
  io::open_unit(io::kOutputFile, "output.txt");
  d::Problem problem;
  d::Workspace workspace;
  d::read_problem(problem, workspace);
  const float c = d::run_phase(problem, d::Phase::Complexity, workspace.pi.data(), workspace.chit.data(),
                               d::SamplerChoice::Literal);
  const float f = d::run_phase(problem, d::Phase::Fit, workspace.pi.data(), workspace.fhit.data(),
                               d::SamplerChoice::Literal);
  d::BayesFactors factors{};
  d::literal_replicate_factors(problem, workspace, c, f, factors);
  d::write_report(c, f, factors);
  problem = d::Problem{};
  workspace = d::Workspace{};
}

struct RunEnded {
  int status;
};
[[noreturn]] void throw_run_ended(int status) { throw RunEnded{status}; }

void reset_library_state() {
  io::close_all_files();
  nl::reset_error_state_for_testing();
  nl::reset_random_state_for_testing();
  nl::reset_units_for_testing();
}

// Prepares `folder` with input.txt and no output.txt.
void prepare(const fs::path& folder, const std::string& input) {
  fs::create_directories(folder);
  std::ofstream(folder / "input.txt", std::ios::binary | std::ios::trunc) << input;
  fs::remove(folder / "output.txt");
}

struct Timing {
  double cpu;   // user + system seconds
  double wall;  // seconds
};

// Runs `argv` in `folder` with standard output to folder/console.txt and standard
// error to folder/stderr.txt.
Timing run_process(const fs::path& folder, const std::vector<std::string>& argv) {
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    const int out = open("console.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0) _exit(127);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  const double wall = seconds_since(start);
  std::ofstream(folder / "status.txt") << (WIFEXITED(status) ? WEXITSTATUS(status) : -1) << '\n';
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec); };
  return {seconds(usage.ru_utime) + seconds(usage.ru_stime), wall};
}

// Runs `body` in `folder` inside this process, console lines to folder/console.txt.
template <class Body>
double run_in_process(const fs::path& folder, Body body) {
  const fs::path here = fs::current_path();
  fs::current_path(folder);
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int console = open("console.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(console, STDOUT_FILENO);
  close(console);
  const double start = process_cpu_seconds();
  body();
  const double seconds = process_cpu_seconds() - start;
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  fs::current_path(here);
  return seconds;
}

double program_in_process(const fs::path& folder) {
  return run_in_process(folder, [] {
    io::set_exit_handler(throw_run_ended);
    try {
      d::run_analysis();
    } catch (const RunEnded&) {
    }
    io::set_exit_handler(nullptr);
    reset_library_state();
  });
}

double plain_in_process(const fs::path& folder) {
  return run_in_process(folder, [] {
    plain_steps();
    reset_library_state();
  });
}

bool same_bytes(const fs::path& a, const fs::path& b) {
  for (const char* name : {"output.txt", "console.txt"}) {
    if (slurp(a / name) != slurp(b / name)) return false;
  }
  return !slurp(a / "output.txt").empty();
}

std::string self_path() { return fs::read_symlink("/proc/self/exe").string(); }

int side_by_side(int repeats) {
  const fs::path root = fs::temp_directory_path() / ("propbf-side-by-side-" + std::to_string(getpid()));
  std::printf("| problem | plain CPU s | program CPU s | ratio | plain wall s | program wall s | wall ratio | "
              "plain in-process CPU s | program in-process CPU s | in-process ratio | same bytes |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|:---:|\n");
  bool all_same = true;
  for (const Shape& shape : shapes()) {
    const fs::path plain = root / "plain";
    const fs::path program = root / "program";
    prepare(plain, shape.input);
    prepare(program, shape.input);
    double best[6] = {1e30, 1e30, 1e30, 1e30, 1e30, 1e30};
    for (int r = 0; r < repeats; ++r) {
      const Timing p = run_process(plain, {self_path(), "--plain-run"});
      const Timing q = run_process(program, {PROPBF_BINARY});
      best[0] = std::min(best[0], p.cpu);
      best[1] = std::min(best[1], q.cpu);
      best[4] = std::min(best[4], p.wall);
      best[5] = std::min(best[5], q.wall);
    }
    const bool processes_same = same_bytes(plain, program) &&
                                slurp(plain / "status.txt") == slurp(program / "status.txt") &&
                                slurp(plain / "stderr.txt") == slurp(program / "stderr.txt");
    for (int r = 0; r < repeats; ++r) {
      best[2] = std::min(best[2], plain_in_process(plain));
      best[3] = std::min(best[3], program_in_process(program));
    }
    const bool same = processes_same && same_bytes(plain, program);
    all_same = all_same && same;
    std::printf("| %s | %.4f | %.4f | %.2f | %.4f | %.4f | %.2f | %.4f | %.4f | %.2f | %s |\n", shape.name.c_str(),
                best[0], best[1], best[0] / best[1], best[4], best[5], best[4] / best[5], best[2], best[3],
                best[2] / best[3], same ? "yes" : "NO");
    std::fflush(stdout);
  }
  fs::remove_all(root);
  return all_same ? 0 : 1;
}

// ---------------------------------------------------------------------------------
// Phase profile
// ---------------------------------------------------------------------------------

struct Profile {
  double read = 0, complexity = 0, fit = 0, replications = 0, beta = 0, shares = 0, sorts = 0, write = 0;
  double in_process = 0, process = 0;
};

// One run of the program's (plain = false) or the plain method's steps in the current
// folder, each phase timed; the replication phase is timed whole, and its parts are
// timed again from the same generator position: the beta deviates alone, the deviates
// with the products (the replicated complexity and fit), and the two order statistics.
Profile profile_steps(bool plain) {
  Profile p;
  double start = process_cpu_seconds();
  io::open_unit(io::kInputFile, "input.txt");
  io::open_unit(io::kOutputFile, "output.txt");
  d::Problem problem;
  d::Workspace workspace;
  d::read_problem(problem, workspace);
  p.read = (process_cpu_seconds() - start);
  const d::SamplerChoice sampler = plain ? d::SamplerChoice::Literal : d::SamplerChoice::Fast;
  start = process_cpu_seconds();
  const float c = d::run_phase(problem, d::Phase::Complexity, workspace.pi.data(), workspace.chit.data(), sampler,
                               workspace.group_byte_limit);
  p.complexity = (process_cpu_seconds() - start);
  start = process_cpu_seconds();
  const float f = d::run_phase(problem, d::Phase::Fit, workspace.pi.data(), workspace.fhit.data(), sampler,
                               workspace.group_byte_limit);
  p.fit = (process_cpu_seconds() - start);

  const int32_t seed = nl::random_state().seed;
  d::BayesFactors factors{};
  start = process_cpu_seconds();
  if (plain) {
    d::literal_replicate_factors(problem, workspace, c, f, factors);
  } else {
    d::replicate_factors(problem, workspace, c, f, factors);
  }
  p.replications = (process_cpu_seconds() - start);
  const int32_t seed_after = nl::random_state().seed;

  // The parts, again from the same seed.
  const int32_t stages = problem.restrictions();
  std::vector<float> pins(2 * static_cast<size_t>(stages)), qins(pins.size());
  for (int32_t t = 0; t < stages; ++t) {
    d::replication_shapes(workspace.chit[t], problem.niter, pins[2 * t], qins[2 * t]);
    d::replication_shapes(workspace.fhit[t], problem.niter, pins[2 * t + 1], qins[2 * t + 1]);
  }
  if (stages > 0) {
    std::vector<float> block(pins.size() * 1000);
    nl::RNSET(seed);
    nl::RepeatedBetaDraws draws(pins.data(), qins.data(), 2 * stages);
    start = process_cpu_seconds();
    for (int32_t first = 0; first < d::kReplications; first += 1000) {
      if (plain) {
        nl::RepeatedBetaDraws::draw_plain(pins.data(), qins.data(), 2 * stages, 1000, block.data());
      } else {
        draws.draw(1000, block.data());
      }
    }
    p.beta = (process_cpu_seconds() - start);
  }
  std::vector<float> ctot(d::kReplications), ftot(d::kReplications), bfu(d::kReplications), bfc(d::kReplications),
      work(d::kReplications);
  nl::RNSET(seed);
  start = process_cpu_seconds();
  if (plain) {
    // The literal loop's products over its own RNBET calls.
    std::vector<float> shares(pins.size());
    for (int32_t i = 0; i < d::kReplications; ++i) {
      nl::RepeatedBetaDraws::draw_plain(pins.data(), qins.data(), 2 * stages, 1, shares.data());
      float ft = 1.0f, ct = 1.0f;
      for (int32_t t = 0; t < stages; ++t) {
        ft = ft * shares[2 * t + 1];
        ct = ct * shares[2 * t];
      }
      ftot[i] = ft;
      ctot[i] = ct;
    }
  } else {
    d::draw_replicated_shares(problem, workspace, ctot.data(), ftot.data());
  }
  p.shares = (process_cpu_seconds() - start);
  if (nl::random_state().seed != seed_after) std::fprintf(stderr, "profile: the parts drew differently\n");
  for (int32_t i = 0; i < d::kReplications; ++i) {
    bfu[i] = ftot[i] / ctot[i];
    bfc[i] = bfu[i] / ((1.0f - ftot[i]) / (1.0f - ctot[i]));
  }
  float lower = 0, upper = 0;
  start = process_cpu_seconds();
  for (const std::vector<float>* v : {&bfu, &bfc}) {
    if (plain) {
      nl::SVRGN(d::kReplications, v->data(), work.data());
    } else {
      nl::order_statistics(d::kReplications, v->data(), work.data(), d::kLowerPosition, d::kUpperPosition, lower,
                           upper);
    }
  }
  p.sorts = (process_cpu_seconds() - start);

  start = process_cpu_seconds();
  d::write_report(c, f, factors);
  problem = d::Problem{};
  workspace = d::Workspace{};
  io::close_all_files();
  p.write = (process_cpu_seconds() - start);
  return p;
}

Profile fastest_of(const Profile& a, const Profile& b) {
  return {std::min(a.read, b.read),         std::min(a.complexity, b.complexity),
          std::min(a.fit, b.fit),           std::min(a.replications, b.replications),
          std::min(a.beta, b.beta),         std::min(a.shares, b.shares),
          std::min(a.sorts, b.sorts),       std::min(a.write, b.write),
          std::min(a.in_process, b.in_process), std::min(a.process, b.process)};
}

// Each phase the fastest of three runs; start-up and exit as the CPU time of a process
// whose input.txt is empty (it ends at its first read), the fastest of five.
int profile() {
  const fs::path root = fs::temp_directory_path() / ("propbf-profile-" + std::to_string(getpid()));
  std::printf("| problem | method | process CPU s | start-up and exit | read | complexity sweeps | fit sweeps | "
              "replications | beta deviates | products | sorts | rest of replications | write |\n");
  std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const Shape& shape : shapes()) {
    for (bool plain : {true, false}) {
      const fs::path folder = root / (plain ? "plain" : "program");
      const std::vector<std::string> command =
          plain ? std::vector<std::string>{self_path(), "--plain-run"} : std::vector<std::string>{PROPBF_BINARY};
      double startup = 1e30;
      for (int r = 0; r < 5; ++r) {
        prepare(folder, "");
        startup = std::min(startup, run_process(folder, command).cpu);
      }
      Profile best{1e30, 1e30, 1e30, 1e30, 1e30, 1e30, 1e30, 1e30, 1e30, 1e30};
      for (int r = 0; r < 3; ++r) {
        prepare(folder, shape.input);
        Profile p;
        p.process = run_process(folder, command).cpu;
        prepare(folder, shape.input);
        p.in_process = run_in_process(folder, [&] {
          const double process = p.process;
          p = profile_steps(plain);
          p.process = process;
          reset_library_state();
        });
        best = fastest_of(best, p);
      }
      const double products = std::max(0.0, best.shares - best.beta);
      const double rest = std::max(0.0, best.replications - best.shares - best.sorts);
      const auto ms = [](double s) { return s * 1e3; };
      std::printf("| %s | %s | %.4f | %.1f ms | %.1f ms | %.1f ms | %.1f ms | %.1f ms | %.1f ms | %.1f ms | %.1f ms | "
                  "%.1f ms | %.1f ms |\n",
                  shape.name.c_str(), plain ? "plain" : "program", best.process, ms(startup), ms(best.read),
                  ms(best.complexity), ms(best.fit), ms(best.replications), ms(best.beta), ms(products),
                  ms(best.sorts), ms(rest), ms(best.write));
      std::fflush(stdout);
    }
  }
  fs::remove_all(root);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--plain-run") == 0) {
    plain_steps();
    io::end_run(0);
  }
  if (argc == 2 && std::strcmp(argv[1], "--profile") == 0) return profile();
  const int repeats = argc == 2 ? std::max(1, std::atoi(argv[1])) : 5;
  return side_by_side(repeats);
}
