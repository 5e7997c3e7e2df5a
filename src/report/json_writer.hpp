// JSON text written as it is produced, straight into a string. Nothing is built in
// between: memory runs out (std::bad_alloc) only where the string grows, never inside a
// destructor or another function that may not throw, so a run short of memory ends with
// its message like any other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace propbf::evaluate {

class JsonWriter {
 public:
  // indent >= 0: one member or element a line, indented by `indent` blanks a level, a
  // blank after each ':'; below 0: all on one line, no blanks.
  JsonWriter(std::string& out, int indent) : out_(out), indent_(indent) {}

  // An object's member: its name, then exactly one value (or container) follows.
  JsonWriter& key(std::string_view name);

  void begin_object() { open('{'); }
  void end_object() { close('}'); }
  void begin_array() { open('['); }
  void end_array() { close(']'); }

  void string(std::string_view text);
  // A finite double in its shortest form that reads back exactly, always with a '.' or
  // an exponent ("0.5", "20000.0", "1e-05", "1.5e+20"); NaN and the infinities as null.
  void number(double value);
  void integer(std::int64_t value);
  void boolean(bool value);
  void null();

 private:
  void open(char bracket);
  void close(char bracket);
  void before_value();
  void new_line(std::size_t depth);

  std::string& out_;
  int indent_;
  std::vector<std::size_t> counts_;  // members or elements so far, one per open container
  bool after_key_ = false;
};

// `text` as the body of a JSON string (without the quotes): '"' and '\' escaped, control
// characters as \b \t \n \f \r or \u00XX, other UTF-8 kept; each byte sequence that is
// not UTF-8 (its longest start that could begin a character, or a single byte) becomes
// U+FFFD, as a file name may hold any bytes.
void append_json_escaped(std::string& out, std::string_view text);

// The number as JsonWriter::number writes it.
void append_json_number(std::string& out, double value);

}  // namespace propbf::evaluate
