// What every layer of `propbf evaluate` says to its user: the error that carries a
// message for exit status 2, places in a file, numbers and names as text, and messages
// bounded and made safe to print. A leaf: it needs nothing of the other layers.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace propbf::evaluate {

// A mistake in the problem or on the command line. what() is the whole message as it is
// shown to the user (one or more lines, no trailing newline); the program prints it on
// standard error and ends with exit status 2.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A place in the problem file: line and column, both counted from 1 (columns in bytes).
struct SourcePosition {
  int line = 0;
  int column = 0;
};

// "FILE:LINE:COLUMN" (or "FILE" when the position is unknown).
std::string describe_position(const std::string& file_name, SourcePosition position);


// Shortest-exact text of a double with `digits` significant digits (std::to_chars,
// locale-free): "0.0833125", "4.9266", "inf", "-inf"; every NaN as "NaN".
std::string format_number(double value, int digits);

// The shortest text that reads back as `value` ("0.6", not "0.59999999999999998").
std::string shortest_text(double value);

// `text` with every control character made visible, so that no name read from a file
// can break a line or send a terminal an escape sequence: line feed, carriage return and
// tab as \n, \r and \t, the other C0 characters and DEL as \xHH, the C1 characters
// (U+0080 to U+009F) as \uHHHH. Everything else, other UTF-8 included, is kept.
std::string visible_text(std::string_view text);

// A message as the user sees it (standard error, the "error" of a record): control
// characters other than line breaks escaped as visible_text does, and bounded whatever
// the input: a line marked by a caret line below it ("    TEXT" then "    ^") shows at
// most kMessageWindow bytes around the caret, a list ending a line ("... are a, b, c")
// at most kMessageListItems entries and "and N more", and any other line longer than
// kMessageLine bytes its start and end with the number of bytes left out between them.
inline constexpr std::size_t kMessageWindow = 200;
inline constexpr std::size_t kMessageListItems = 10;
inline constexpr std::size_t kMessageLine = 400;
std::string printable_message(std::string_view message);

}  // namespace propbf::evaluate
