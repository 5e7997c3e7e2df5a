#include "harness.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "errors/errors.hpp"
#include "numeric/machine.hpp"
#include "random/random.hpp"
#include "textio/textio.hpp"

// AddressSanitizer keeps freed blocks out of use for a while to catch late uses; by
// default 256 MB of them, which here only cycles fresh pages through the process (each
// input frees a few blocks of 8 KB and more). 16 MB still covers many inputs. An
// ASAN_OPTIONS setting in the environment takes precedence.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

namespace propbf::fuzzing {
namespace {

struct RunEnded {
  int status;
};

[[noreturn]] void throw_run_ended(int status) { throw RunEnded{status}; }

struct MemoryFile {
  int fd = -1;
  std::string path;
};

MemoryFile input_file, output_file, console_file;

void fail(const char* what) {
  std::perror(what);
  std::abort();
}

MemoryFile make_memory_file(const char* name) {
  MemoryFile file;
  file.fd = memfd_create(name, MFD_CLOEXEC);
  if (file.fd < 0) fail("propbf fuzz: memfd_create");
  file.path = "/proc/self/fd/" + std::to_string(file.fd);
  return file;
}

// Replaces the whole content of `file` with `bytes`: written over the old content, then
// cut to length, so that the file keeps its pages from one input to the next.
void fill(const MemoryFile& file, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = pwrite(file.fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n <= 0) fail("propbf fuzz: pwrite");
    done += static_cast<size_t>(n);
  }
  if (ftruncate(file.fd, static_cast<off_t>(bytes.size())) != 0) fail("propbf fuzz: ftruncate");
}

// The content of `file`, which is left empty.
std::string take(const MemoryFile& file) {
  struct stat info {};
  if (fstat(file.fd, &info) != 0) fail("propbf fuzz: fstat");
  if (info.st_size == 0) return {};
  std::string text(static_cast<size_t>(info.st_size), '\0');
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = pread(file.fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n <= 0) fail("propbf fuzz: pread");
    done += static_cast<size_t>(n);
  }
  if (ftruncate(file.fd, 0) != 0) fail("propbf fuzz: ftruncate");
  return text;
}

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
  // Before the OpenMP runtime starts: a worker thread that spins after each two-thread
  // phase would take a processor from the fuzzing itself.
  setenv("OMP_WAIT_POLICY", "passive", 0);
  input_file = make_memory_file("input.txt");
  output_file = make_memory_file("output.txt");
  console_file = make_memory_file("console");
  // Standard output appends to the console file, so that emptying it starts it afresh.
  const int console = open(console_file.path.c_str(), O_WRONLY | O_APPEND);
  if (console < 0 || dup2(console, STDOUT_FILENO) < 0) fail("propbf fuzz: standard output");
  close(console);
  textio::set_exit_handler(throw_run_ended);
}

const std::string& input_path() { return input_file.path; }
const std::string& output_path() { return output_file.path; }

void prepare_input(std::string_view input) { fill(input_file, input); }

Ending run_guarded(void (*body)(void* context), void* context) {
  Ending ending;
  try {
    body(context);
  } catch (const RunEnded& end) {
    ending.ended = true;
    ending.status = end.status;
  }
  reset_state();
  return ending;
}

std::string take_output() { return take(output_file); }
std::string take_console() { return take(console_file); }

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "propbf fuzz: broken property: %s\n", what);
    std::abort();
  }
}

}  // namespace propbf::fuzzing
