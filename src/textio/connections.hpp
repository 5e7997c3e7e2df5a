// Private plumbing of the text layer: the layer lock, the unit table and the record
// and line transport that the reader and the writers share.
//
// Units and where their bytes go:
//   - a unit connected by open_unit: its file, through raw descriptors;
//   - unit 5 (standard input) when read and not connected: descriptor 0;
//   - kConsole, unit 6 and any other unit that is not connected, when written: standard
//     output, one complete line per write(2) call, nothing kept back;
//   - reading a unit that is not connected (other than 5): the "System Error:" report
//     with the system's text for EBADF.
//
// Where each job lives:
//   units.cpp         the lock, the unit table, opening and closing files
//   blocks.cpp        block input (records) and block output (lines) on descriptors
//   run_end.cpp       the end of the run and the exit handler
//   fatal_report.cpp  the fatal error report and its two shorthands
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "textio/textio.hpp"

namespace propbf::textio::detail {

inline constexpr std::size_t kBlockSize = 8192;  // input and output buffer of a file

// The one lock of the layer, re-entrant: a fatal report may be reached while a
// statement holds it. Never destroyed: the process may end (std::exit) while a
// statement holds it.
std::recursive_mutex& layer_lock();

// ---------------------------------------------------------------------------------
// The unit table
// ---------------------------------------------------------------------------------

struct Connection {
  int32_t unit = 0;
  std::string path;
  int fd = -1;
  bool owns_fd = true;  // false for standard input
  bool regular = false;

  // Input side.
  std::vector<char> in_buffer;  // kBlockSize bytes once the first read happens
  std::size_t in_pos = 0;
  std::size_t in_len = 0;
  bool in_exhausted = false;

  // Output side.
  std::string out_buffer;  // at most kBlockSize bytes
  bool block_written = false;
  off_t out_offset = 0;  // where the next block goes in a regular file
};

struct UnitTable {
  std::map<int32_t, std::unique_ptr<Connection>> files;  // units connected by open_unit
  std::unique_ptr<Connection> standard_input;            // unit 5 once it has been read

  // The connection of a file unit, or nullptr.
  Connection* find_file(int32_t unit);
};

// The process's one unit table. It lives for the whole process and is never destroyed,
// so statements that run during static destruction (or a fatal report that ends the
// process from inside a statement) still find it. Callers hold layer_lock().
UnitTable& unit_table();

// For tests: closes every descriptor the table owns without writing pending output,
// and empties the table, as at process start.
void reset_unit_table() noexcept;

// Flushes and closes every file; the first refused write is returned as
// {unit, errno}, with errno 0 when all went well. The table is empty afterwards.
std::pair<int32_t, int> flush_and_close_all() noexcept;

// ---------------------------------------------------------------------------------
// Block input and output
// ---------------------------------------------------------------------------------

// Writes all n bytes, retrying after interruptions and partial writes. With `offset`
// the bytes go to that position (pwrite) and *offset advances. Returns 0 or an errno.
int write_all(int fd, const char* data, std::size_t n, off_t* offset);

// Writes the pending block of an output file: the first block at offset 0 of a regular
// file, which is then cut at the block's end. Returns 0 or an errno; the block is
// dropped either way, so a failed block is never tried a second time.
int flush_block(Connection& c);

// Reads the next record of `unit` into `record`: the bytes up to a line feed, carriage
// returns dropped, tabs expanded to the next column that is a multiple of 8. A last
// line without a line feed is a record. Returns false at the end of the file (no byte
// of a new record left). A refused read ends the run with the system report; a record
// longer than kRecordLimit with the allocation report.
bool read_record(int32_t unit, std::string& record);

// As read_record, but nothing of the record is kept (its length is still checked).
bool pass_record(int32_t unit);

// Sends one complete line (its CR LF included) to `unit`.
void emit_line(int32_t unit, std::string_view line);

// ---------------------------------------------------------------------------------
// Ends of the run
// ---------------------------------------------------------------------------------

// Ends the process with `status` through the installed exit handler, or std::exit.
[[noreturn]] void exit_process(int status);

// The reports of the layer; none of them returns.
[[noreturn]] void system_failure(int error_number, Statement statement, int32_t unit);
[[noreturn]] void allocation_failure();

// The first rounding of a real token: its value as the nearest double (ties to even),
// infinities and NaN as convert_real_token gives them. False for an illegal token.
bool real_token_to_double(std::string_view token, double& out);

// Significant digits of a real token kept exactly; further non-zero digits only count
// as "a little more" (no double boundary has more than 767).
inline constexpr int kMaxDigits = 800;

// The double nearest to 0.digits x 10^position, ties to even (digits: `count` significant
// digits, the first non-zero, the last non-zero unless `sticky`, which says a non-zero
// digit was cut off after them). Subnormals round at 2^-1074; too large is infinity.
double decimal_to_double(const char* digits, int count, int64_t position, bool sticky);

}  // namespace propbf::textio::detail
