// The fatal error report: every file is flushed and closed, three lines go to standard
// error, and the process ends with status -1.

#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string_view>

#include "textio/connections.hpp"
#include "textio/text_utilities.hpp"
#include "textio/textio.hpp"

namespace propbf::textio {
namespace {

std::string_view statement_name(Statement statement) {
  switch (statement) {
    case Statement::Read: return "READ";
    case Statement::Write: return "WRITE";
    case Statement::Open: return "OPEN";
    case Statement::None: break;
  }
  return {};
}

}  // namespace

namespace detail {

void system_failure(int error_number, Statement statement, int32_t unit) {
  fatal_report(std::strerror(error_number), statement, unit, true);
}

void allocation_failure() { fatal_report(kAllocationFails, Statement::None, 0); }

}  // namespace detail

void fatal_report(std::string_view message, Statement statement, int32_t unit, bool system_error) {
  std::lock_guard<std::recursive_mutex> hold(detail::layer_lock());
  detail::flush_and_close_all();
  // Built in a fixed buffer: this report must not depend on obtaining storage.
  char text[1024];
  std::size_t n = 0;
  auto put = [&](std::string_view s) {
    for (char ch : s) {
      if (n < sizeof text) text[n++] = ch;
    }
  };
  const std::string_view banner = system_error ? "System Error:" : "Run-time Error";
  put("? ");
  put(banner);
  put("\r\n? ");
  put(message.substr(0, 900));
  put("\r\n");
  if (statement != Statement::None) {
    DecimalBuffer digits;
    const std::string_view number = unit == kConsole ? "*" : decimal_text(unit, digits);
    put("? ");
    put(statement_name(statement));
    put("(UNIT=");
    put(number);
    put(",...\n");
  }
  detail::write_all(STDERR_FILENO, text, n, nullptr);
  detail::exit_process(-1);
}

}  // namespace propbf::textio
