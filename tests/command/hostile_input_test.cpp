// Whole runs of `propbf evaluate` on hostile input and short resources: names and paths
// that cannot name a file, numbers beyond their range, more threads than the machine or
// an address-space limit holds, memory running out. Each ends with a message saying
// what and where, exit status 2 and nothing written; or runs, saying what it changed.
#include <gtest/gtest.h>
#include <sched.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "command/run_evaluate.hpp"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PROPBF_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PROPBF_SANITIZED 1
#endif
#endif

namespace propbf::testing {
namespace {

const std::string kCounts = "name,successes,trials\na,3,10\nb,5,10\n";
const std::string kProblem = "[items]\ndata = \"counts.csv\"\n[hypotheses]\nH = \"a > b\"\nG = \"a > 0.3\"\n"
                             "[sampling]\nniter = 1000\n";

// A folder holding counts.csv, problem.toml, a folder `folder` and the run's own files.
struct Folder {
  TemporaryFolder folder;
  Folder() {
    write_file(folder.path() / "counts.csv", kCounts);
    write_file(folder.path() / "problem.toml", kProblem);
    std::filesystem::create_directory(folder.path() / "folder");
  }
  // The names in the folder besides the three it started with.
  std::vector<std::string> written() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
      const std::string name = entry.path().filename().string();
      if (name != "counts.csv" && name != "problem.toml" && name != "folder" && name != "nul.toml") names.push_back(name);
    }
    return names;
  }
};

struct RefusalCase {
  const char* what;
  std::vector<std::string> arguments;
  std::string message;  // standard error, byte for byte (only its first line with `first_line`)
  bool first_line = false;
};

TEST(HostileInput, RefusedWithTheirPlaceAndStatusTwoWritingNothing) {
  const std::string range = "an integer from 1 to 1099511627776 (2^40)";
  const std::vector<RefusalCase> cases{
      {"empty --json", {"evaluate", "problem.toml", "--json", ""}, "propbf: --json: the file name is empty; give a file name\n"},
      {"empty --jsonl", {"evaluate", "problem.toml", "--jsonl", ""},
       "propbf: --jsonl: the file name is empty; give a file name\n"},
      {"empty --list", {"evaluate", "--list", ""}, "propbf: --list: the file name is empty; give a file name\n"},
      {"empty --data", {"evaluate", "--data", "", "--hypothesis", "H: a > b"},
       "propbf: --data: the file name is empty; give a file name\n"},
      {"--data a folder", {"evaluate", "--data", "folder", "--hypothesis", "H: a > b", "--json", "out.json"},
       "folder: cannot read the CSV file: Is a directory\n"},
      {"NUL in [items] data", {"evaluate", "nul.toml", "--json", "out.json"},
       "nul.toml:2:8: 'data' holds a NUL character (\\u0000), which no file name can hold\n"},
      {"--niter with an exponent", {"evaluate", "problem.toml", "--niter", "1e3"},
       "propbf: --niter: '1e3' is not an integer; give " + range + "\n", true},
      {"--niter above 2^40", {"evaluate", "problem.toml", "--niter", "1099511627777"},
       "propbf: --niter: 1099511627777 is out of range; give " + range + "\n", true},
      {"--max-niter above 2^40", {"evaluate", "problem.toml", "--precision", "0.1", "--max-niter", "1099511627777"},
       "propbf: --max-niter: 1099511627777 is out of range; give " + range + "\n", true},
  };
  for (const RefusalCase& c : cases) {
    Folder folder;
    write_file(folder.folder.path() / "nul.toml",
               "[items]\ndata = \"counts.csv\\u0000.txt\"\n[hypotheses]\nH = \"a > b\"\n");
    const RunResult run = run_propbf_with_arguments(folder.folder.path(), c.arguments);
    EXPECT_EQ(run.status, 2) << c.what;
    EXPECT_EQ(c.first_line ? run.err.substr(0, run.err.find('\n') + 1) : run.err, c.message) << c.what;
    EXPECT_EQ(run.out, "") << c.what;
    EXPECT_EQ(folder.written(), std::vector<std::string>{}) << c.what;
  }
}

int processors() {
  cpu_set_t mask;
  CPU_ZERO(&mask);
  return sched_getaffinity(0, sizeof mask, &mask) == 0 ? CPU_COUNT(&mask) : 0;
}

// More threads than the process may use are lowered, and the run says so: on standard
// error, at the end of the table and first in the JSON's notes.
TEST(HostileInput, ThreadsBeyondTheProcessorsAreLoweredAndSaidSo) {
  const int usable = processors();
  if (usable < 1 || usable >= 1024) GTEST_SKIP() << "the processors of this machine cannot be counted below 1024";
  Folder folder;
  const RunResult run =
      run_propbf_with_arguments(folder.folder.path(), {"evaluate", "problem.toml", "--threads", "1024", "--json", "out.json"});
  const std::string note = "--threads 1024 lowered to " + std::to_string(usable) + ": the process may use " +
                           std::to_string(usable) + (usable == 1 ? " processor" : " processors");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "propbf: " + note + "\n");
  EXPECT_TRUE(run.out.ends_with("\nnote: " + note + "\n")) << run.out;
  EXPECT_NE(read_file(folder.folder.path() / "out.json").find("\n  \"notes\": [\n    \"" + note + "\"\n  ]\n}\n"),
            std::string::npos);
  // Up to the processors, nothing is said.
  const RunResult within = run_propbf_with_arguments(folder.folder.path(), {"evaluate", "problem.toml", "--threads", "1"});
  EXPECT_EQ(within.status, 0);
  EXPECT_EQ(within.err, "");
  EXPECT_EQ(within.out.find("note: --threads"), std::string::npos);
}

// Under an address-space limit, each thread's stack counts: with 2 GiB stacks, 4 GiB
// hold the run's own thread only.
TEST(HostileInput, ThreadsBeyondTheAddressSpaceLimitAreLoweredAndSaidSo) {
#ifdef PROPBF_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
#else
  if (processors() < 2) GTEST_SKIP() << "one processor: the request is lowered to it first";
  Folder folder;
  RunOptions options;
  options.address_space_limit = rlim_t{4} << 30;
  ::setenv("OMP_STACKSIZE", "2G", 1);
  const RunResult run = run_propbf_with_arguments(folder.folder.path(), {"evaluate", "problem.toml", "--threads", "2"},
                                                  options);
  ::unsetenv("OMP_STACKSIZE");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.err.starts_with("propbf: --threads 2 lowered to 1: the address-space limit (ulimit -v) of 4096 MiB, "))
      << run.err;
  EXPECT_TRUE(run.err.ends_with(" MiB of it free, leaves room for 1 thread with 2048 MiB stacks beside the run's data\n"))
      << run.err;
#endif
}

// A factor that is not a number makes every posterior model probability not a number:
// the table says so under the probabilities, and the JSON in its notes. (a > 0.9999 under
// a prior Beta(1, 1000) holds some 10^-4000 of it, beyond the 32 levels of a rare stage:
// complexity and fit have no hit in their last level, 0/0.)
TEST(HostileInput, ProbabilitiesThatAreNotNumbersAreExplained) {
  Folder folder;
  write_file(folder.folder.path() / "problem.toml",
             "[items]\nnames = [\"a\", \"b\"]\nsuccesses = [0, 5]\ntrials = [100, 10]\nprior_b = [1000, 1]\n"
             "[hypotheses]\n"
             "H = \"a > 0.9999\"\nG = \"b > 0.5\"\n[sampling]\nniter = 100\n");
  const RunResult run = run_propbf_with_arguments(folder.folder.path(), {"evaluate", "problem.toml", "--json", "out.json"});
  const std::string note = "the Bayes factor against the unconstrained hypothesis of H is not a number, so every "
                           "posterior model probability, a share of the sum of the factors, is not a number either";
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("  unconstrained                   NaN\n  note: " + note + "\n\nBayes factors between"),
            std::string::npos)
      << run.out;
  EXPECT_NE(read_file(folder.folder.path() / "out.json").find("\n    \"" + note + "\"\n  ]\n}\n"), std::string::npos);
}

// Under address-space limits from the smallest the program starts in to one it runs
// in, memory runs out at one step of the run after another: every run ends with the
// message and status 2 and writes nothing, or runs to its end. (A limit too small to
// load the program's libraries, or to set up its static data before main, ends it
// before any of its code runs: those are below the first limit tried.)
TEST(HostileInput, MemoryRunningOutEndsWithTheMessageAndStatusTwo) {
#ifdef PROPBF_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than any limit that would test this";
#else
  constexpr rlim_t kStep = 256 << 10;
  constexpr rlim_t kHighest = rlim_t{256} << 20;
  Folder folder;
  RunOptions options;
  rlim_t limit = 2 << 20;
  for (; limit < kHighest; limit += kStep) {
    options.address_space_limit = limit;
    if (run_propbf_with_arguments(folder.folder.path(), {"--version"}, options).status == 0) break;
  }
  ASSERT_LT(limit, kHighest) << "propbf --version does not start under " << kHighest << " bytes of address space";
  int out_of_memory = 0;
  for (;; limit += kStep) {
    ASSERT_LT(limit, kHighest) << "the run never ends within " << kHighest << " bytes of address space";
    options.address_space_limit = limit;
    const RunResult run =
        run_propbf_with_arguments(folder.folder.path(), {"evaluate", "problem.toml", "--json", "out.json"}, options);
    if (run.status == 0) {
      EXPECT_NE(run.out, "") << limit;
      break;
    }
    ++out_of_memory;
    EXPECT_EQ(run.status, 2) << limit << " bytes: " << run.err;
    EXPECT_TRUE(run.err == "propbf: problem.toml: not enough memory for this problem (lower --niter or the number of "
                           "items)\n" ||
                run.err == "propbf: not enough memory\n")
        << limit << " bytes: " << run.err;
    EXPECT_EQ(run.out, "") << limit;
    EXPECT_EQ(folder.written(), std::vector<std::string>{}) << limit;
  }
  EXPECT_GT(out_of_memory, 0);
#endif
}

}  // namespace
}  // namespace propbf::testing
