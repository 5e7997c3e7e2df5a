// Fixed-point fields: one float in w columns with d decimals.
//
//  1. Digits. |v| = 0.D1 D2 ... D8 ... x 10^E, with D1 != 0 (zero: all digits 0, E = 0).
//     The digits come from the exact decimal expansion of the float (m x 2^e is
//     m x 5^-e / 10^-e for e < 0), cut off after D8: every later digit counts as 0.
//  2. Rounding. p = E + d + 1 is the first digit the field does not show. If p <= 0
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
#include <cstring>
#include <string>

#include "textio/textio.hpp"

namespace propbf::textio {
namespace {

// Decimal digits of an unsigned 128-bit integer, most significant first.
std::string decimal_digits(unsigned __int128 v) {
  char buffer[40];
  int n = 0;
  do {
    buffer[n++] = static_cast<char>('0' + static_cast<int>(v % 10));
    v /= 10;
  } while (v != 0);
  std::string out;
  while (n > 0) out.push_back(buffer[--n]);
  return out;
}

// Decimal digits of m x 5^k (m < 2^24, k <= 149), most significant first.
std::string decimal_digits_times_power_of_five(uint32_t m, int k) {
  constexpr uint32_t kBase = 1000000000;  // one limb holds nine decimal digits
  uint32_t limb[16] = {m % kBase, m / kBase};  // m x 5^149 < 10^113: 13 limbs
  int size = limb[1] != 0 ? 2 : 1;
  while (k > 0) {
    const int step = k < 13 ? k : 13;  // 5^13 < 2^32
    uint64_t factor = 1;
    for (int i = 0; i < step; ++i) factor *= 5;
    uint64_t carry = 0;
    for (int i = 0; i < size; ++i) {
      uint64_t t = limb[i] * factor + carry;
      limb[i] = static_cast<uint32_t>(t % kBase);
      carry = t / kBase;
    }
    while (carry != 0) {
      limb[size++] = static_cast<uint32_t>(carry % kBase);
      carry /= kBase;
    }
    k -= step;
  }
  std::string out = decimal_digits(limb[size - 1]);
  for (int i = size - 2; i >= 0; --i) {
    std::string part = decimal_digits(limb[i]);
    out.append(9 - part.size(), '0');
    out.append(part);
  }
  return out;
}

}  // namespace

SignificantDigits first_eight_digits(float value) {
  SignificantDigits result{};
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const uint32_t biased = (bits >> 23) & 0xFF;
  const uint32_t fraction = bits & 0x7FFFFF;
  if (biased == 0xFF) return result;  // not finite: not for this routine
  uint32_t m;
  int e;  // |value| = m x 2^e
  if (biased == 0) {
    if (fraction == 0) return result;  // zero
    m = fraction;
    e = -149;
  } else {
    m = fraction | 0x800000;
    e = static_cast<int>(biased) - 150;
  }
  std::string digits;
  if (e >= 0) {
    digits = decimal_digits(static_cast<unsigned __int128>(m) << e);  // < 2^128
    result.exponent = static_cast<int32_t>(digits.size());
  } else {
    digits = decimal_digits_times_power_of_five(m, -e);
    result.exponent = static_cast<int32_t>(digits.size()) + e;
  }
  for (int i = 0; i < 8; ++i) {
    result.digit[i] = i < static_cast<int>(digits.size()) ? digits[static_cast<std::size_t>(i)] - '0' : 0;
  }
  return result;
}

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
  int* const d = sd.digit;  // d[i] is D(i+1)
  int64_t exponent = sd.exponent;
  const int64_t dec = decimals;

  // Rounding at the first digit not shown.
  int64_t p = exponent + dec + 1;
  if (p > 0) {
    if (p > 8) p = 8;
    if (d[p - 1] >= 5) {
      d[p - 1] = 0;
      int64_t i = p - 2;
      while (i >= 0 && d[i] == 9) {
        d[i] = 0;
        --i;
      }
      if (i >= 0) {
        ++d[i];
      } else {
        d[0] = 1;
        for (int k = 1; k < 8; ++k) d[k] = 0;
        ++exponent;
      }
    }
  }
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
