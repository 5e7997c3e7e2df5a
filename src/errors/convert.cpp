// Number/text conversions of the error machine: the renderings of integer and real
// insertion values, and the integer <-> decimal text routines C1TCI and C1TIC.
//
// Real insertion values are written in scientific form with seven significant digits:
//   1. Take the first eight significant decimal digits D1..D8 of |v|, cut off (not
//      rounded), with |v| = 0.D1D2...D8... x 10^E, exactly as the fixed-point writer
//      of the text layer takes them.
//   2. If D8 >= 5, add 1 to D7, a 9 becoming 0 and carrying to the left; a carry out
//      of D1 gives the digits 1000000 and E + 1. If D8 <= 4 the seven stay as they are.
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
#include <cmath>
#include <limits>

#include "errors/errors.hpp"
#include "numeric/machine_tables.hpp"
#include "textio/textio.hpp"

namespace propbf::numlib {

std::string_view render_integer(int32_t value, char (&buffer)[16]) {
  // Work on the magnitude as unsigned so that -2147483648 is rendered too.
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  int start = 16;
  do {
    buffer[--start] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) buffer[--start] = '-';
  return {buffer + start, static_cast<size_t>(16 - start)};
}

int32_t render_real(float value, char (&buffer)[32]) {
  int32_t length = 0;
  const bool negative = std::signbit(value);
  if (std::isnan(value) || std::isinf(value)) {
    if (negative) buffer[length++] = '-';
    const char* word = std::isnan(value) ? "NaN" : "INF";
    for (int i = 0; i < 3; ++i) buffer[length++] = word[i];
    return length;
  }
  int digit[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  int32_t exponent = 1;  // zero is written 0.000000E+00
  if (value != 0.0f) {
    const textio::SignificantDigits d = textio::first_eight_digits(value);  // shared with the fixed-point writer
    for (int i = 0; i < 8; ++i) digit[i] = d.digit[i];
    exponent = d.exponent;
    if (digit[7] >= 5) {
      int i = 6;
      while (i >= 0 && digit[i] == 9) digit[i--] = 0;
      if (i >= 0) {
        ++digit[i];
      } else {
        digit[0] = 1;
        ++exponent;
      }
    }
    if (negative) buffer[length++] = '-';
  }
  buffer[length++] = static_cast<char>('0' + digit[0]);
  buffer[length++] = '.';
  for (int i = 1; i < 7; ++i) buffer[length++] = static_cast<char>('0' + digit[i]);
  const int32_t shown_exponent = exponent - 1;  // D1.D2... x 10^(E-1)
  const int32_t magnitude = shown_exponent < 0 ? -shown_exponent : shown_exponent;
  buffer[length++] = 'E';
  buffer[length++] = shown_exponent < 0 ? '-' : '+';
  buffer[length++] = static_cast<char>('0' + magnitude / 10);  // |exponent| <= 45
  buffer[length++] = static_cast<char>('0' + magnitude % 10);
  return length;
}

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
  char buffer[16];
  const std::string_view rendered = render_integer(number, buffer);
  const size_t length = text.size();
  if (rendered.size() <= length) {
    const size_t pad = length - rendered.size();
    for (size_t i = 0; i < pad; ++i) text[i] = ' ';
    for (size_t i = 0; i < rendered.size(); ++i) text[pad + i] = rendered[i];
    status = 0;
    return;
  }
  // Keep the low-order characters that fit; report how many did not.
  const size_t lost = rendered.size() - length;
  for (size_t i = 0; i < length; ++i) text[i] = rendered[lost + i];
  status = static_cast<int32_t>(lost);
}

}  // namespace propbf::numlib
