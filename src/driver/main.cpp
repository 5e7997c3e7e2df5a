// propbf: Bayes factors for an informative hypothesis about item proportions.
// Reads input.txt, writes output.txt; no arguments, no questions.
#include <csignal>
#include <new>

#include "driver/run.hpp"
#include "textio/textio.hpp"

int main() {
  // A closed standard output must show up as a refused write, not kill the process.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    propbf::driver::run_analysis();
  } catch (const std::bad_alloc&) {
    propbf::textio::fatal_report(propbf::textio::kAllocationFails, propbf::textio::Statement::None, 0);
  }
}
