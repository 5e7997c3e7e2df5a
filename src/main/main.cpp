// propbf: Bayes factors for an informative hypothesis about item proportions.
// Reads input.txt, writes output.txt; no arguments, no questions.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>

#include "driver/run.hpp"
#include "command/command.hpp"
#include "textio/textio.hpp"

namespace {

// Descriptors 0, 1 and 2 must be open before any file is: a closed one would be the
// next descriptor open(2) hands out, and the console lines (or the fatal report) would
// then land in input.txt or output.txt. Each closed one is connected to /dev/null.
// Taken in order, the lowest free descriptor is always the one being filled.
void connect_closed_standard_descriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int opened;
    do {
      opened = ::open("/dev/null", O_RDWR);
    } while (opened < 0 && errno == EINTR);
    if (opened < 0) {
      // Without /dev/null no file may be opened safely: end before touching any.
      const int reason = errno;
      propbf::textio::fatal_report(std::strerror(reason), propbf::textio::Statement::Open,
                                   fd == STDIN_FILENO ? propbf::textio::kStandardInput
                                                      : propbf::textio::kStandardOutput,
                                   true);
    }
    if (opened != fd) {  // not expected, as every lower descriptor is open
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

// OpenMP's idle threads spin for a few milliseconds after each parallel round before
// they sleep. An evaluation has several short rounds with serial work between them, and
// on machines whose cores share a physical core or a host, the spinning slows the thread
// at work: a short run took a third longer than with sleeping waits, and long runs gain
// nothing from the spin. So the program asks for sleeping waits unless the environment
// says otherwise. It must be set before the runtime reads its settings: g++ builds link
// libgomp statically (CMakeLists.txt), so that its reading of the environment is one of
// this program's constructors, and this one, with a priority, runs before those without;
// clang's runtime reads the environment at its first use.
__attribute__((constructor(101))) void prefer_sleeping_waits() { ::setenv("OMP_WAIT_POLICY", "passive", 0); }

}  // namespace

int main(int argc, char** argv) {
  // With arguments: the command line of `propbf evaluate`, --help and --version.
  // Without: the run of input.txt, exactly as it always was.
  if (argc > 1) return propbf::evaluate::run_command_line(argc, argv);
  connect_closed_standard_descriptors();
  // A closed standard output must show up as a refused write, not kill the process;
  // so must a write beyond the file-size limit (ulimit -f).
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    propbf::driver::run_analysis();
  } catch (const std::bad_alloc&) {
    propbf::textio::fatal_report(propbf::textio::kAllocationFails, propbf::textio::Statement::None, 0);
  }
}
