// Insertion values and message composition: E1STI, E1STR, E1STL, E1MES, C1IARG.
//
// The insertion list is one string of entries without separators, positions
// 1..insertion_end (insertion_end = 1 means empty). An entry is
//   '*' kind-letter index-digit '*' decimal-length '%' value
// e.g. the integer 50 under index 1 is *I1*2%50 and the literal NR is *L1*2%NR.
// An entry that would take the list past 300 characters is dropped silently; its
// mark then stays literal in the message.
//
// Real insertion values (E1STR) are written in scientific form with seven significant
// digits:
//   1. Take the first eight significant decimal digits D1..D8 of |v|, cut off (not
//      rounded), with |v| = 0.D1D2...D8... x 10^E, as the fixed-point writer takes them.
//   2. Round at D8 as the fixed-point writer rounds: if D8 >= 5, add 1 to D7, a 9
//      becoming 0 and carrying to the left; a carry out of D1 gives the digits 1000000
//      and E + 1. If D8 <= 4 the seven stay as they are.
//   3. Write [-]D1.D2D3D4D5D6D7E<sign><two exponent digits>, the exponent being E - 1.
//   Worked case: the float nearest 1.0E+38 is 99999996802856...; its eight digits are
//   99999996, the 6 rounds the seven nines up to 1000000 with E raised from 38 to 39,
//   so the text is 1.000000E+38.
//   Zero of either sign is 0.000000E+00. Infinities and NaNs are INF and NaN, with a
//   leading '-' when the sign bit is set.
//
//   value        text
//   0.0          0.000000E+00
//   -1.0         -1.000000E+00
//   0.5          5.000000E-01
//   0.0025       2.500000E-03
//   1.0E+38      1.000000E+38
//
// Composition: the message starts with ".  "; a template mark %(Xd) (X one of
// ACDIKLRSZ in either case, d a digit 1..9) is replaced by the value of the first
// entry whose key *Xd* matches ignoring case; a mark without a value, and anything
// that is not a mark, is copied as written. Only the first 1024 template characters
// are read and the message never grows past 1024 characters.
#include <algorithm>
#include <cmath>

#include "errors/errors.hpp"
#include "textio/text_utilities.hpp"

namespace propbf::numlib {

namespace {

using textio::I1DX;
using textio::ICASE;

constexpr int32_t kLiteralLimit = 255;

// The text of a real insertion value (the rule above); returns its length.
int32_t render_real(float value, char (&buffer)[32]) {
  int32_t length = 0;
  const bool negative = std::signbit(value);
  if (std::isnan(value) || std::isinf(value)) {
    if (negative) buffer[length++] = '-';
    const char* word = std::isnan(value) ? "NaN" : "INF";
    for (int i = 0; i < 3; ++i) buffer[length++] = word[i];
    return length;
  }
  textio::SignificantDigits d{};  // zero is written 0.000000E+00: all digits 0, E = 1
  d.exponent = 1;
  if (value != 0.0f) {
    d = textio::first_eight_digits(value);
    textio::round_at_digit(d, 8);
    if (negative) buffer[length++] = '-';
  }
  buffer[length++] = static_cast<char>('0' + d.digit[0]);
  buffer[length++] = '.';
  for (int i = 1; i < 7; ++i) buffer[length++] = static_cast<char>('0' + d.digit[i]);
  const int32_t shown_exponent = d.exponent - 1;  // D1.D2... x 10^(E-1)
  const int32_t magnitude = shown_exponent < 0 ? -shown_exponent : shown_exponent;
  buffer[length++] = 'E';
  buffer[length++] = shown_exponent < 0 ? '-' : '+';
  buffer[length++] = static_cast<char>('0' + magnitude / 10);  // |exponent| <= 45
  buffer[length++] = static_cast<char>('0' + magnitude % 10);
  return length;
}

void append_insertion(ErrorState& s, char kind, int32_t index, std::string_view value,
                      int32_t length_for_room) {
  // Key (4) + up to three length digits + '%' = 8 characters around the value.
  if (s.insertion_end + 8 + length_for_room > kInsertionCapacity) return;
  textio::DecimalBuffer length_buffer;
  const std::string_view length_text = textio::decimal_text(static_cast<int64_t>(value.size()), length_buffer);
  int32_t position = s.insertion_end == 1 ? 1 : s.insertion_end + 1;
  char* list = s.insertion_list;
  list[position++] = '*';
  list[position++] = kind;
  list[position++] = static_cast<char>('0' + index);
  list[position++] = '*';
  for (char c : length_text) list[position++] = c;
  list[position] = '%';
  for (char c : value) list[++position] = c;
  s.insertion_end = position;
}

bool is_mark_letter(char c) {
  const int32_t upper = ICASE(c);
  return upper < 128 && std::string_view("ACDIKLRSZ").find(static_cast<char>(upper)) != std::string_view::npos;
}

// The value stored for the key *<letter><digit>*, or an empty view when there is
// none (or its length is 0, which composes like a missing value).
std::string_view find_insertion(const ErrorState& s, char letter, char digit) {
  const int32_t end = std::clamp(s.insertion_end, 1, kInsertionCapacity);
  const std::string_view list(s.insertion_list + 1, static_cast<size_t>(end));
  const char key[4] = {'*', letter, digit, '*'};
  const int32_t found = I1DX(list, std::string_view(key, 4));
  if (found == 0) return {};
  size_t at = static_cast<size_t>(found - 1) + 4;
  int32_t length = 0;
  int32_t digits = 0;
  while (at < list.size() && digits < 3 && list[at] >= '0' && list[at] <= '9') {
    length = length * 10 + (list[at] - '0');
    ++at;
    ++digits;
  }
  if (digits == 0 || at >= list.size() || list[at] != '%') return {};
  ++at;
  const size_t available = list.size() - at;
  return list.substr(at, std::min(static_cast<size_t>(length), available));
}

void compose(ErrorState& s, std::string_view message_template) {
  const int32_t n = static_cast<int32_t>(std::min<size_t>(message_template.size(), kMessageCapacity));
  char* text = s.message_text;  // positions 1..1024
  int32_t j = 0;
  const auto put = [&](char c) {
    if (j >= kMessageCapacity) return false;
    text[++j] = c;
    return true;
  };
  put('.');
  put(' ');
  put(' ');
  // Template position i counts from 1: its character is message_template[i - 1].
  const auto at = [&](int32_t i) { return message_template[static_cast<size_t>(i - 1)]; };
  int32_t i = 1;
  bool full = false;
  while (i <= n - 4 && !full) {
    const bool mark = at(i) == '%' && at(i + 1) == '(' && is_mark_letter(at(i + 2)) &&
                      at(i + 3) >= '1' && at(i + 3) <= '9' && at(i + 4) == ')';
    const std::string_view value = mark ? find_insertion(s, at(i + 2), at(i + 3)) : std::string_view{};
    if (!value.empty()) {
      const int32_t room = kMessageCapacity - j;
      const int32_t count = std::min(static_cast<int32_t>(value.size()), room);
      std::copy_n(value.data(), count, text + j + 1);
      j += count;
      full = count < static_cast<int32_t>(value.size());
      i += 5;
    } else {
      full = !put(at(i));
      ++i;
    }
  }
  while (!full && i <= n) full = !put(at(i++));
  s.message_length = j;
}

}  // namespace

void E1STI(int32_t index, int32_t value) {
  ErrorState& s = error_state();
  E1INIT();
  if (index < 1 || index > 9) return;
  textio::DecimalBuffer buffer;
  const std::string_view text = textio::decimal_text(value, buffer);
  append_insertion(s, 'I', index, text, static_cast<int32_t>(text.size()));
}

void E1STR(int32_t index, float value) {
  ErrorState& s = error_state();
  E1INIT();
  if (index < 1 || index > 9) return;
  char buffer[32];
  const int32_t length = render_real(value, buffer);
  append_insertion(s, 'R', index, std::string_view(buffer, static_cast<size_t>(length)), length);
}

void E1STL(int32_t index, std::string_view text) {
  ErrorState& s = error_state();
  E1INIT();
  if (index == 0 || index < -9 || index > 9) return;
  const std::string_view cut = text.substr(0, std::min<size_t>(text.size(), kLiteralLimit));
  std::string_view value = cut;
  if (index > 0) {
    // Trailing blanks go; an empty or all-blank text is kept as one blank.
    value = textio::without_trailing_blanks(cut);
    if (value.empty()) value = " ";
  }
  append_insertion(s, 'L', index < 0 ? -index : index, value, static_cast<int32_t>(cut.size()));
}

void E1MES(int32_t type, int32_t code, std::string_view message_template) {
  ErrorState& s = error_state();
  E1INIT();
  if (type != -1) {
    s.error_type[s.level] = type;
    // Only -1..7 are types. Anything else (above 7, and also below -1) is a misuse of
    // the machine: reported under the level's code as it stood, shown as UNKNOWN, and
    // the run stops.
    if (type > 7 || type < -1) {
      static constexpr std::string_view kText = ".  Error from E1MES.  Illegal error type specified.";
      std::copy(kText.begin(), kText.end(), s.message_text + 1);
      s.message_length = static_cast<int32_t>(kText.size());
      E1PRT();
      library_stop();
    }
  }
  if (code >= 0) s.error_code[s.level] = code;
  if (type == 0 || code == 0) {  // the routine clears its error
    s.message_length = 0;
    s.insertion_end = 1;
    return;
  }
  // An empty or one-blank template re-posts the pending message under the new type/code.
  if (!message_template.empty() && message_template != " ") compose(s, message_template);
  const int32_t t = s.error_type[s.level];
  if (t == 6) s.pending_type6 = 1;
  if (t == 7) s.pending_type7 = 1;
  if (t >= 5 && t <= 7 && s.print_on[t] == 1) E1PRT();
  s.insertion_end = 1;
}

void C1IARG(int32_t value, std::string_view name, int32_t low, int32_t high, int32_t& code) {
  if (high < low) {  // one-sided: only the lower bound counts
    if (value < low) {
      E1STI(1, value);
      E1STI(2, low);
      E1STL(1, name);
      E1MES(5, code, "%(L1) = %(I1).  %(L1) must be greater than or equal to %(I2).");
    }
  } else if (value < low || value > high) {
    E1STI(1, value);
    E1STI(2, low);
    E1STI(3, high);
    E1STL(1, name);
    E1MES(5, code,
          "%(L1) = %(I1).  %(L1) must be greater than or equal to %(I2) and less than or equal to "
          "%(I3).");
  }
  code = static_cast<int32_t>(static_cast<uint32_t>(code) + 1u);  // wraps instead of overflowing
}

}  // namespace propbf::numlib
