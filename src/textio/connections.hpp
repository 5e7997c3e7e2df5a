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
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "textio/textio.hpp"

namespace propbf::textio::detail {

inline constexpr std::size_t kBlockSize = 8192;  // input and output buffer of a file

// The one lock of the layer, re-entrant: a fatal report may be reached while a
// statement holds it.
std::recursive_mutex& layer_lock();

// Reads the next record of `unit` into `record`: the bytes up to a line feed, carriage
// returns dropped, tabs expanded to the next column that is a multiple of 8. A last
// line without a line feed is a record. Returns false at the end of the file (no byte
// of a new record left). A refused read ends the run with the system report.
bool read_record(int32_t unit, std::string& record);

// Sends one complete line (its CR LF included) to `unit`.
void emit_line(int32_t unit, std::string_view line);

// The reports of the layer; none of them returns.
[[noreturn]] void system_failure(int error_number, Statement statement, int32_t unit);
[[noreturn]] void allocation_failure();

// The first rounding of a real token: its value as the nearest double (ties to even),
// infinities and NaN as convert_real_token gives them. False for an illegal token.
bool real_token_to_double(std::string_view token, double& out);

}  // namespace propbf::textio::detail
