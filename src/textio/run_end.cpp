// The end of the run: flush and close every file, then leave through the exit handler.

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "textio/connections.hpp"
#include "textio/textio.hpp"

namespace propbf::textio {
namespace {

std::atomic<ExitHandler> exit_handler{nullptr};

}  // namespace

void detail::exit_process(int status) {
  if (ExitHandler handler = exit_handler.load()) handler(status);
  std::exit(status);
}

void end_run(int status) {
  std::unique_lock<std::recursive_mutex> hold(detail::layer_lock());
  auto [unit, err] = detail::flush_and_close_all();
  if (err != 0) detail::system_failure(err, Statement::Write, unit);
  detail::exit_process(status);
}

void set_exit_handler(ExitHandler handler) noexcept { exit_handler.store(handler); }

}  // namespace propbf::textio
