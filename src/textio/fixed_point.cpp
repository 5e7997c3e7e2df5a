// Fixed-point fields: one float in w columns with d decimals.
//
//  1. Digits. |v| = 0.D1 D2 ... D8 ... x 10^E, with D1 != 0 (zero: all digits 0, E = 0).
//     The digits come from the exact decimal expansion of the float, cut off after D8:
//     every later digit counts as 0 (first_eight_digits in text_utilities).
//  2. Rounding (round_at_digit in text_utilities). p = E + d + 1 is the first digit the field does not show. If p <= 0
//     nothing is rounded; p above 8 is taken as 8. If Dp >= 5, Dp becomes 0 and 1 is
//     added to D(p-1), a 9 turning into 0 and carrying on to the left; a carry out of
//     D1 makes the digits 1000 0000 and raises E by 1.
//     Worked case: 0.6666666865 (the float nearest 2/3) has D = 6666666 8, E = 0;
//     in d = 10, p = 11 -> 8, D8 = 8 carries: 6666667 0, shown as 0.6666667000.
//     6e-11 in d = 10: D = 6..., E = -10, p = 1: D1 carries out, digits 1000 0000,
//     E = -9, shown as 0.0000000001.
//  3. Room. R = w - d - 1, one less for a negative value: columns for the integer part.
//  4. E > 0: E > R does not fit (w asterisks); otherwise R - E blanks, the sign, D1..DE,
//     the point and D(E+1)..D(E+d).
//  5. E <= 0, E + d <= 0: nothing shows, written as zero without a sign: R >= 1 gives
//     blanks, "0.", d zeros; R = 0 gives "." and d zeros, behind one blank for a
//     negative value; R < 0 does not fit.
//  6. E <= 0, E + d > 0: R < 0 does not fit; R >= 1 gives R - 1 blanks, the sign, "0.",
//     -E zeros and D1..D(d+E); R = 0 the same without the leading 0.
//  Non-finite values are "INF" and "NaN", "-" first when the sign bit is set, right-
//  justified (asterisks when w is too small). Negative zero is written as zero. Fields
//  with d < 1 or w < d + 1 are not used by the program and come out as w asterisks.
//
//  value          w   d   text
//  0.5            12  10  "0.5000000000"
//  -0.5           12  10  "-.5000000000"
//  10             12  10  "************"
//  999999.875     17  10  "999999.9000000000"
//  2.5            17  10  "     2.5000000000"
//  4e-12          17  10  "     0.0000000000"
//  -infinity      17  10  "             -INF"

#include <cmath>
#include <cstdint>
#include <string>

#include "textio/text_utilities.hpp"
#include "textio/textio.hpp"

namespace propbf::textio {

std::string fixed_point_field(float value, int32_t width, int32_t decimals) {
  if (width <= 0) return {};
  const std::size_t w = static_cast<std::size_t>(width);
  const std::string stars(w, '*');
  if (decimals < 1 || width < decimals + 1) return stars;

  const bool sign_bit = std::signbit(value);
  if (!std::isfinite(value)) {
    std::string text = sign_bit ? "-" : "";
    text += std::isnan(value) ? "NaN" : "INF";
    if (text.size() > w) return stars;
    return std::string(w - text.size(), ' ') + text;
  }
  const bool negative = sign_bit && value != 0.0f;  // negative zero is written as zero

  SignificantDigits sd = first_eight_digits(value);
  const int64_t dec = decimals;
  // Rounding at the first digit not shown (text_utilities: round_at_digit).
  const int64_t p = int64_t{sd.exponent} + dec + 1;
  if (p > 0) round_at_digit(sd, p > 8 ? 8 : static_cast<int>(p));
  const int* const d = sd.digit;  // d[i] is D(i+1)
  const int64_t exponent = sd.exponent;
  auto digit = [&](int64_t i) -> char {  // D(i), 1-based; beyond D8 all zeros
    return static_cast<char>('0' + (i >= 1 && i <= 8 ? d[i - 1] : 0));
  };

  const int64_t room = int64_t{width} - dec - 1 - (negative ? 1 : 0);
  std::string out;
  if (exponent > 0) {
    if (exponent > room) return stars;
    out.append(static_cast<std::size_t>(room - exponent), ' ');
    if (negative) out.push_back('-');
    for (int64_t i = 1; i <= exponent; ++i) out.push_back(digit(i));
    out.push_back('.');
    for (int64_t i = exponent + 1; i <= exponent + dec; ++i) out.push_back(digit(i));
    return out;
  }
  if (exponent + dec <= 0) {
    if (room < 0) return stars;
    const std::string zero = (room >= 1 ? "0." : ".") + std::string(static_cast<std::size_t>(dec), '0');
    return std::string(w - zero.size(), ' ') + zero;
  }
  if (room < 0) return stars;
  if (room >= 1) out.append(static_cast<std::size_t>(room - 1), ' ');
  if (negative) out.push_back('-');
  if (room >= 1) out.push_back('0');
  out.push_back('.');
  out.append(static_cast<std::size_t>(-exponent), '0');
  for (int64_t i = 1; i <= dec + exponent; ++i) out.push_back(digit(i));
  return out;
}

}  // namespace propbf::textio
