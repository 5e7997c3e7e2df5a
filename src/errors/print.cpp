// E1PRT: the pending message as lines on the error-message unit, then the traceback.
//
// Layout (every line ends with CR LF through the text layer):
//   (empty line)
//   " *** " TYPE-NAME(8, left-justified) " ERROR" H message-head
//   " *** " 9 blanks continuation            (as many as needed)
// H is " <code> from <name>", the name up to its first blank. The header holds at
// most 59 characters after its 19-character opening, so the message head gets
// R = 59 - |H| characters: if the message is longer it is broken before the last
// blank at or before position R, and continuation lines take at most 64 characters
// each, one leading blank skipped, broken after the last blank within reach (a word
// longer than a line is cut). Example: code 2 from RNBET with the 46-character
// message ".  PIN = -1.000000E+00.  PIN must be positive." gives a 78-character header.
//
// When the erring routine was called by another library routine (level > 2) the
// calls follow, innermost first:
//   5 blanks "Here is a traceback of subprogram calls in reverse order:"
//   5 blanks "Routine name" 20 blanks "Error type" 2 blanks "Error code"
//   5 blanks 12 '-' 20 blanks 10 '-' 2 blanks 10 '-'
//   5 blanks NAME(32) TYPE(6, right) 6 blanks CODE(6, right) ["    (Called internally)"]
#include <algorithm>
#include <span>

#include "errors/errors.hpp"
#include "machine/tables.hpp"
#include "textio/text_utilities.hpp"
#include "textio/textio.hpp"

namespace propbf::numlib {

namespace {

constexpr int32_t kHeaderRoom = 59;        // characters after " *** TYPENAME ERROR"
constexpr int32_t kContinuationRoom = 64;  // characters after " ***          "
constexpr int32_t kTracebackField = 6;

// A fixed line buffer; every line of the printer is at most 78 characters.
struct Line {
  char text[96];
  int32_t length = 0;
  void add(std::string_view part) {
    for (char c : part) {
      if (length < static_cast<int32_t>(sizeof text)) text[length++] = c;
    }
  }
  void add_blanks(int32_t count) {
    for (int32_t i = 0; i < count; ++i) add(" ");
  }
  std::string_view view() const { return {text, static_cast<size_t>(length)}; }
};

std::string_view type_name(int32_t type) {
  static constexpr std::string_view kNames[8] = {"UNKNOWN", "NOTE",     "ALERT",   "WARNING",
                                                 "FATAL",   "TERMINAL", "WARNING", "FATAL"};
  return (type >= 1 && type <= 7) ? kNames[type] : kNames[0];
}

// Adds `name` with the first-letter rule: a lower-case first letter followed by an
// upper-case one is shown in upper case (rNUN is shown as RNUN).
void add_routine_name(Line& line, std::string_view name) {
  if (name.size() >= 2 && name[0] >= 'a' && name[0] <= 'z' && name[1] >= 'A' && name[1] <= 'Z') {
    const char first = static_cast<char>(textio::ICASE(name[0]));
    line.add(std::string_view(&first, 1));
    line.add(name.substr(1));
  } else {
    line.add(name);
  }
}

void add_integer_field(Line& line, int32_t value) {
  char field[kTracebackField];
  textio::integer_field_in_place(value, std::span<char>(field, kTracebackField));
  line.add(std::string_view(field, kTracebackField));
}

void write_traceback(const ErrorState& s, int32_t unit) {
  Line line;
  line.add("     Here is a traceback of subprogram calls in reverse order:");
  textio::write_line(unit, line.view());
  line = Line{};
  line.add("     Routine name");
  line.add_blanks(20);
  line.add("Error type  Error code");
  textio::write_line(unit, line.view());
  line = Line{};
  line.add("     ------------");
  line.add_blanks(20);
  line.add("----------  ----------");
  textio::write_line(unit, line.view());
  for (int32_t level = s.level; level >= 1; --level) {
    line = Line{};
    line.add_blanks(5);
    add_routine_name(line, std::string_view(s.routine_name[level], kNameLength));
    add_integer_field(line, s.error_type[level]);
    line.add_blanks(6);
    add_integer_field(line, s.error_code[level]);
    if (level >= 2 && s.user_level[level - 1] == 0) line.add("    (Called internally)");
    textio::write_line(unit, line.view());
  }
}

void print_pending_message(ErrorState& s) {
  // UMACH(3): entry 3 of the calling thread's units, the error-message unit.
  const int32_t unit = unit_numbers().unit[3];
  const int32_t length = std::min(s.message_length, kMessageCapacity);
  const char* text = s.message_text;  // positions 1..length

  // H: " <code> from <name up to its first blank>".
  Line header;
  header.add(" *** ");
  const std::string_view name = type_name(s.error_type[s.level]);
  header.add(name);
  header.add_blanks(8 - static_cast<int32_t>(name.size()));
  header.add(" ERROR");
  const int32_t h_start = header.length;
  header.add(" ");
  textio::DecimalBuffer code_buffer;
  header.add(textio::decimal_text(s.error_code[s.level], code_buffer));
  header.add(" from ");
  const std::string_view stacked(s.routine_name[s.level], kNameLength);
  add_routine_name(header, stacked.substr(0, std::min(stacked.find(' '), stacked.size())));
  const int32_t room = kHeaderRoom - (header.length - h_start);

  int32_t head_end = length;  // last message position on the header line
  int32_t consumed = length;  // last message position used up
  if (length > room) {
    int32_t k = room;
    while (k >= 2 && text[k] != ' ') --k;
    if (k >= 2) {
      head_end = k - 1;
      consumed = k;
    } else {  // no blank to break at (composed messages always have one): cut
      head_end = room;
      consumed = room;
    }
  }
  header.add(std::string_view(text + 1, static_cast<size_t>(std::max(head_end, 0))));
  textio::write_line(unit, "");
  textio::write_line(unit, header.view());

  while (consumed < length) {
    int32_t start = consumed + 1;
    if (text[start] == ' ') ++start;  // one leading blank is skipped
    const int32_t reach = consumed + kContinuationRoom;
    int32_t end = 0;
    if (reach >= length) {
      end = length;
    } else {
      int32_t k = reach;
      while (k > start && text[k] != ' ') --k;
      end = k > start ? k : reach;  // keep the blank at the break; cut an overlong word
    }
    Line line;
    line.add(" ***          ");
    if (end >= start) line.add(std::string_view(text + start, static_cast<size_t>(end - start + 1)));
    textio::write_line(unit, line.view());
    consumed = end;
  }

  s.message_length = 0;
  s.insertion_end = 1;

  const int32_t t = s.error_type[s.level];
  if (t >= 1 && t <= 7 && s.traceback_on[t] == 1 && s.level > 2) write_traceback(s, unit);
}

}  // namespace

void E1PRT() {
  E1LOCK(1);
  ErrorState& s = error_state();
  if (s.message_length >= 1) print_pending_message(s);
  E1LOCK(0);
}

}  // namespace propbf::numlib
