// The free-form read step.
//
// A step starts on a new record and fills its targets in order. For each target:
//   1. A value still owed by a repeat count is used again.
//   2. After a slash the step has ended: every later target gets a null value.
//   3. Blanks are skipped; at the end of a record the next record is read (end of file
//      here is the end-of-file report). Empty and blank records are passed over.
//   4. A slash ends the step; it stays where it is.
//   5. A comma right after a value that ended at the end of its record (the flag)
//      belongs to that value's separator: it is skipped with the blanks after it on
//      the same record, and a second comma there is a null value; anything else sends
//      the scan back to step 3. Any other comma is a null value.
//   6. Otherwise a token runs up to a blank, comma, slash, asterisk or the end of the
//      record. The flag is cleared when a token is collected.
//   7. A token ended by '*' is a repeat count r: a run of decimal digits with a value
//      from 1 to 2147483647 (anything else is an illegal character). Then:
//        r*,      gives r null values (the comma is used);
//        r*v      repeats the token v;
//        r* ...   repeats the next value that steps 3 to 6 find: a token, a null from
//                 a comma, or a slash, which ends the step.
//      A second count where the repeated value should stand is an illegal character.
//   8. How the token ended: a comma is used; a slash is left for the next target; the
//      end of the record sets the flag; after blanks, a comma on the same record is
//      used and the end of the record sets the flag.
//   9. The token is converted for the target (a repeated token once per target); a
//      token that does not convert is the illegal-character report. A null value
//      leaves the target unchanged.
// Nothing carries over from one step to the next.

#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "textio/connections.hpp"
#include "textio/textio.hpp"

namespace propbf::textio {

struct ReadStep::Scan {
  explicit Scan(int32_t unit_number) : unit(unit_number), hold(detail::layer_lock()) {}

  enum class Found { Null, Slash, Token };

  int32_t unit;
  std::unique_lock<std::recursive_mutex> hold;
  std::string record;
  std::size_t pos = 0;
  std::string token;           // the value token in hand (also the one being repeated)
  Found pending = Found::Null; // what a repeat count repeats
  int64_t repeats_left = 0;
  bool ended_at_record_end = false;  // the flag of step 5
  bool step_over = false;            // a slash was met

  void next_record() {
    if (!detail::read_record(unit, record)) fatal_report(kEndOfFile, Statement::Read, unit);
    pos = 0;
  }

  [[noreturn]] void illegal() { fatal_report(kIllegalCharacter, Statement::Read, unit); }

  bool at_end() const { return pos >= record.size(); }

  void skip_blanks() {
    while (pos < record.size() && (record[pos] == ' ' || record[pos] == '\t')) ++pos;
  }

  static bool ends_token(char c) { return c == ' ' || c == '\t' || c == ',' || c == '/' || c == '*'; }

  // Steps 3 to 8. With `count_allowed` false a repeat count is illegal.
  Found scan_value(bool count_allowed) {
    for (;;) {
      skip_blanks();
      if (at_end()) {
        next_record();
        continue;
      }
      const char c = record[pos];
      if (c == '/') return Found::Slash;
      if (c == ',') {
        ++pos;
        if (!ended_at_record_end) return Found::Null;
        ended_at_record_end = false;
        skip_blanks();
        if (!at_end() && record[pos] == ',') {
          ++pos;
          return Found::Null;
        }
        continue;
      }

      const std::size_t start = pos;
      while (pos < record.size() && !ends_token(record[pos])) ++pos;
      ended_at_record_end = false;

      if (!at_end() && record[pos] == '*') {
        if (!count_allowed) illegal();
        const int64_t count = repeat_count(start, pos);
        ++pos;  // the asterisk
        Found value;
        if (!at_end() && record[pos] == ',') {
          ++pos;
          value = Found::Null;
        } else {
          value = scan_value(false);
        }
        pending = value;
        repeats_left = count - 1;
        return value;
      }

      token.assign(record, start, pos - start);
      finish_token();
      return Found::Token;
    }
  }

  // The digits record[begin, end) before an asterisk as a repeat count.
  int64_t repeat_count(std::size_t begin, std::size_t end) {
    if (begin == end) illegal();
    int64_t value = 0;
    for (std::size_t i = begin; i < end; ++i) {
      const char c = record[i];
      if (c < '0' || c > '9') illegal();
      value = value * 10 + (c - '0');
      if (value > std::numeric_limits<int32_t>::max()) illegal();
    }
    if (value == 0) illegal();
    return value;
  }

  // Step 8: the separator after a token.
  void finish_token() {
    if (at_end()) {
      ended_at_record_end = true;
      return;
    }
    const char c = record[pos];
    if (c == ',') {
      ++pos;
      return;
    }
    if (c == ' ' || c == '\t') {
      skip_blanks();
      if (at_end()) {
        ended_at_record_end = true;
      } else if (record[pos] == ',') {
        ++pos;
      }
    }
    // A slash stays for the next target.
  }

  // The value for the next target: Token (in `token`) or Null.
  Found next_value() {
    if (repeats_left > 0) {
      --repeats_left;
      return pending;
    }
    if (step_over) return Found::Null;
    Found found = scan_value(true);
    if (found == Found::Slash) {
      step_over = true;
      repeats_left = 0;
      return Found::Null;
    }
    return found;
  }

  void take(int32_t& target) {
    if (next_value() != Found::Token) return;
    if (!convert_integer_token(token, target)) illegal();
  }

  void take(float& target) {
    if (next_value() != Found::Token) return;
    if (!convert_real_token(token, target)) illegal();
  }
};

void skip_record(int32_t unit) {
  if (!detail::pass_record(unit)) fatal_report(kEndOfFile, Statement::Read, unit);
}

ReadStep::ReadStep(int32_t unit) : scan_(nullptr) {
  // Owned locally until the first record is in: a run that ends inside (through an exit
  // handler that throws) must not keep the step's storage or the layer lock.
  std::unique_ptr<Scan> scan;
  try {
    scan = std::make_unique<Scan>(unit);
    scan->next_record();
  } catch (const std::bad_alloc&) {
    detail::allocation_failure();
  }
  scan_ = scan.release();
}

ReadStep::~ReadStep() { delete scan_; }

void ReadStep::take(int32_t& target) {
  try {
    scan_->take(target);
  } catch (const std::bad_alloc&) {
    detail::allocation_failure();
  }
}

void ReadStep::take(float& target) {
  try {
    scan_->take(target);
  } catch (const std::bad_alloc&) {
    detail::allocation_failure();
  }
}

void ReadStep::take(std::span<int32_t> targets) {
  for (int32_t& target : targets) take(target);
}

void ReadStep::take(std::span<float> targets) {
  for (float& target : targets) take(target);
}

}  // namespace propbf::textio
