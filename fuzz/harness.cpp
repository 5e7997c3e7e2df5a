#include "harness.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "errors/errors.hpp"
#include "numeric/machine.hpp"
#include "random/random.hpp"
#include "textio/textio.hpp"

namespace propbf::fuzzing {
namespace {

struct RunEnded {
  int status;
};

[[noreturn]] void throw_run_ended(int status) { throw RunEnded{status}; }

// The private working folder; the process stays in its own folder between runs, so that
// the fuzzer's corpus folders and findings keep their relative paths.
std::filesystem::path work_folder;
int home_folder = -1;

void reset_state() {
  textio::close_all_files();
  // A stop can come while the error-output lock is held (a machine-constant index out
  // of range takes it before stopping); release every hold of this thread. Releases
  // beyond the holds are ignored.
  for (int i = 0; i < numlib::kMaxLevel + 8; ++i) numlib::E1LOCK(0);
  numlib::reset_error_state_for_testing();
  numlib::reset_random_state_for_testing();
  numlib::reset_units_for_testing();
}

}  // namespace

void set_up_process() {
  std::string pattern = (std::filesystem::temp_directory_path() / "propbf-fuzz-XXXXXX").string();
  home_folder = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (home_folder < 0 || mkdtemp(pattern.data()) == nullptr) {
    std::perror("propbf fuzz: working folder");
    std::abort();
  }
  work_folder = pattern;
  int null_out = open("/dev/null", O_WRONLY);
  if (null_out < 0 || dup2(null_out, STDOUT_FILENO) < 0) {
    std::perror("propbf fuzz: /dev/null");
    std::abort();
  }
  close(null_out);
  textio::set_exit_handler(throw_run_ended);
}

void prepare_files(const std::string& input) {
  {
    std::ofstream out(work_folder / "input.txt", std::ios::binary | std::ios::trunc);
    out << input;
  }
  std::error_code ignored;
  std::filesystem::remove(work_folder / "output.txt", ignored);
}

Ending run_guarded(void (*body)(void* context), void* context) {
  Ending ending;
  if (chdir(work_folder.c_str()) != 0) {
    std::perror("propbf fuzz: entering the working folder");
    std::abort();
  }
  try {
    body(context);
  } catch (const RunEnded& end) {
    ending.ended = true;
    ending.status = end.status;
  }
  reset_state();
  if (fchdir(home_folder) != 0) {
    std::perror("propbf fuzz: leaving the working folder");
    std::abort();
  }
  return ending;
}

std::string read_output() {
  std::ifstream in(work_folder / "output.txt", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "propbf fuzz: broken property: %s\n", what);
    std::abort();
  }
}

}  // namespace propbf::fuzzing
