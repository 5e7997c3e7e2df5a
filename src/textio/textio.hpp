// Text input and output layer: files on numbered units, free-form numeric input,
// free-form and fixed-layout output, the fatal error report and the end of the run.
//
// Units: 21 is input.txt, 23 is output.txt, kConsole ('*') and 6 are standard output,
// 5 is standard input. Every line written ends with CR LF.
//
// Writing to a unit that open_unit has not connected (kConsole, 6 or any other number)
// goes to standard output: each completed line is written at once, and a refused
// write is the "System Error:" report for WRITE on that unit. Reading a unit that is
// not connected reads standard input for unit 5 and is the "System Error:" report
// ("Bad file descriptor", READ) for any other.
//
// Every entry point holds one process-wide lock for the length of its statement.
// Failures never return: they end the process through fatal_report (exit status -1).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace propbf::textio {

inline constexpr int32_t kConsole = -1;     // the unit written as '*'
inline constexpr int32_t kStandardInput = 5;
inline constexpr int32_t kStandardOutput = 6;
inline constexpr int32_t kInputFile = 21;   // input.txt
inline constexpr int32_t kOutputFile = 23;  // output.txt

// ---------------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------------

// What a unit is opened for. It matters only for a FIFO: one the run reads
// (Reading) is opened for reading only, so its end of file comes when its writers are
// gone; opened for reading and writing the run would be a writer itself and wait for
// ever. Like any reader, the open waits until the FIFO has a writer.
enum class OpenFor { ReadingAndWriting, Reading };

// Connects `unit` to the file `path`: an existing file is opened for reading and
// writing (reading only if writing is refused) without being changed; a missing one
// is created empty; a FIFO opened for Reading is opened for reading only. A
// directory, or a file the system refuses to open or create, ends the run with the
// "System Error:" report for OPEN on that unit.
void open_unit(int32_t unit, const std::string& path, OpenFor use = OpenFor::ReadingAndWriting);

// Flushes and closes every open file. Errors while flushing are ignored here; this
// is what runs before a fatal report. Also used by tests to start afresh.
void close_all_files() noexcept;

// Flushes and closes every open file and ends the process with `status`. A write
// refused while flushing ends the run with the "System Error:" report instead.
[[noreturn]] void end_run(int status);

// How the layer ends the process (end_run, fatal_report and so library_stop). The
// default is std::exit. A harness that runs the program's phases inside one process
// (the fuzz targets) installs a handler that leaves by throwing; the layer's lock is
// held by scope guards, so it is released on the way out, and every file is closed
// before the handler is called. A handler that returns is followed by std::exit.
// nullptr restores the default.
using ExitHandler = void (*)(int status);
void set_exit_handler(ExitHandler handler) noexcept;

// ---------------------------------------------------------------------------------
// The fatal error report
// ---------------------------------------------------------------------------------

enum class Statement { None, Read, Write, Open };

// Closes all files, then writes to standard error:
//   "? " banner CR LF          (banner "Run-time Error", or "System Error:" when
//                               system_error is true)
//   "? " message CR LF
//   "? " STATEMENT "(UNIT=" unit ",..." LF     (only when statement != None;
//                                               the console unit shows as '*')
// and exits with status -1.
[[noreturn]] void fatal_report(std::string_view message, Statement statement, int32_t unit,
                               bool system_error = false);

inline constexpr std::string_view kEndOfFile = "Attempt to read past end of file";
inline constexpr std::string_view kIllegalCharacter = "Illegal character in numeric input";
inline constexpr std::string_view kAllocationFails = "Runtime memory allocation fails";

// ---------------------------------------------------------------------------------
// Free-form input
// ---------------------------------------------------------------------------------

// One read step on an input unit. The constructor reads the next record (every step
// starts on a new record); take() fills targets in order, reading further records
// as needed; the step ends when the object is destroyed. A target given a null value
// (",,", "r*,", or anything after a slash) keeps its value.
// The longest record the layer reads: 64 MiB after tab expansion (carriage returns
// not counted). A longer record ends the run with the allocation report
// (kAllocationFails), whether its text is needed or not, so the storage a record takes
// is bounded whatever the file holds.
inline constexpr std::size_t kRecordLimit = std::size_t{64} << 20;

// A read step without targets: passes over the next record of `unit` without keeping
// any of it. End of file is the end-of-file report, as for any read step.
void skip_record(int32_t unit);

class ReadStep {
 public:
  explicit ReadStep(int32_t unit);
  ~ReadStep();
  ReadStep(const ReadStep&) = delete;
  ReadStep& operator=(const ReadStep&) = delete;

  void take(int32_t& target);
  void take(float& target);
  void take(std::span<int32_t> targets);
  void take(std::span<float> targets);

 private:
  struct Scan;
  Scan* scan_;
};

// Token conversions of the reader, exposed for tests and for the fuzz targets.
// They return false for an illegal token and leave `out` unchanged then.
bool convert_integer_token(std::string_view token, int32_t& out);
bool convert_real_token(std::string_view token, float& out);

// ---------------------------------------------------------------------------------
// Output
// ---------------------------------------------------------------------------------

// Free-form write step: a line starting with one blank; a text item is written in
// full; an integer as two blanks and its digits (one blank and '-' when negative);
// a text after an integer gets one blank first.
struct FreeItem {
  FreeItem(std::string_view text_value) : is_text(true), text(text_value) {}
  FreeItem(const char* text_value) : is_text(true), text(text_value) {}
  FreeItem(int32_t integer_value) : is_text(false), integer(integer_value) {}
  bool is_text;
  std::string_view text;
  int32_t integer = 0;
};
void write_free(int32_t unit, std::initializer_list<FreeItem> items);

// Fixed-layout write step.
struct LayoutElement {
  enum class Kind { FixedPoint, Integer, Text, Blanks, Literal, LineBreak };
  Kind kind;
  int32_t width = 0;     // FixedPoint, Integer, Text
  int32_t decimals = 0;  // FixedPoint
  int32_t count = 0;     // Blanks
  std::string_view literal{};

  static LayoutElement fixed_point(int32_t w, int32_t d) { return {Kind::FixedPoint, w, d, 0, {}}; }
  static LayoutElement integer_field(int32_t w) { return {Kind::Integer, w, 0, 0, {}}; }
  static LayoutElement text_field(int32_t w) { return {Kind::Text, w, 0, 0, {}}; }
  static LayoutElement blanks(int32_t n) { return {Kind::Blanks, 0, 0, n, {}}; }
  static LayoutElement text(std::string_view s) { return {Kind::Literal, 0, 0, 0, s}; }
  static LayoutElement line_break() { return {Kind::LineBreak, 0, 0, 0, {}}; }
};

struct FieldValue {
  enum class Kind { Real, Integer, Text };
  FieldValue(float v) : kind(Kind::Real), real(v) {}
  FieldValue(int32_t v) : kind(Kind::Integer), integer(v) {}
  FieldValue(std::string_view v) : kind(Kind::Text), text(v) {}
  Kind kind;
  float real = 0.0f;
  int32_t integer = 0;
  std::string_view text{};
};

// Starts a new line (no leading blank), processes the elements in order, each field
// taking the next value; after the last value the elements up to the next field are
// still processed; then the line is ended. Values left over when the layout is used up
// start it again on a new line. A field given a value of another kind is asterisks.
void write_fixed(int32_t unit, std::span<const LayoutElement> layout,
                 std::span<const FieldValue> values);

// A line holding exactly `text` (a fixed layout of one literal). An empty text gives
// an empty line: just CR LF.
void write_line(int32_t unit, std::string_view text);

// The field texts themselves.
std::string fixed_point_field(float value, int32_t width, int32_t decimals);
std::string integer_field(int32_t value, int32_t width);

// The digit routines behind them, shared with the error machine: text_utilities.hpp.

}  // namespace propbf::textio
