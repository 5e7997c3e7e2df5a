// The integer <-> decimal text routines of the error machine, C1TCI and C1TIC.
#include "errors/errors.hpp"
#include "machine/tables.hpp"
#include "textio/text_utilities.hpp"

namespace propbf::numlib {

void C1TCI(std::string_view text, int32_t& number, int32_t& status) {
  number = 0;
  const size_t length = text.size();
  if (length < 1) {
    status = -1;
    return;
  }
  size_t i = 0;
  while (i < length && text[i] == ' ') ++i;
  if (i == length) {
    status = 1;
    return;
  }
  bool negative = false;
  size_t sign_position = 0;  // 1-based; 0 when there is no sign
  if (text[i] == '+' || text[i] == '-') {
    negative = text[i] == '-';
    sign_position = i + 1;
    ++i;
    while (i < length && text[i] == ' ') ++i;
  }
  const size_t digits_start = i;
  while (i < length && text[i] == '0') ++i;
  const int32_t largest = kIntegerConstants[5];  // IMACH(5), the largest integer
  int32_t value = 0;
  while (i < length && text[i] >= '0' && text[i] <= '9') {
    const int32_t d = text[i] - '0';
    if ((largest - d) / 10 < value) {
      number = negative ? -value : value;
      status = -2;
      return;
    }
    value = value * 10 + d;
    ++i;
  }
  if (i == digits_start) {
    // No digit at all: the sign, or the first non-blank character, is where it failed.
    status = static_cast<int32_t>(sign_position != 0 ? sign_position : i + 1);
    return;
  }
  number = negative ? -value : value;
  status = i == length ? 0 : static_cast<int32_t>(i + 1);
}

void C1TIC(int32_t number, std::span<char> text, int32_t& status) {
  if (text.empty()) {
    status = -1;
    return;
  }
  textio::DecimalBuffer buffer;
  const std::string_view rendered = textio::decimal_text(number, buffer);
  const size_t length = text.size();
  if (rendered.size() <= length) {
    textio::integer_field_in_place(number, text);
    status = 0;
    return;
  }
  // Keep the low-order characters that fit; report how many did not.
  const size_t lost = rendered.size() - length;
  for (size_t i = 0; i < length; ++i) text[i] = rendered[lost + i];
  status = static_cast<int32_t>(lost);
}

}  // namespace propbf::numlib
