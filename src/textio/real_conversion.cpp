// Token conversions of the free-form reader.
//
// Integer tokens: an optional + or - sign, then decimal digits only. A sign alone is 0.
// A value outside -2147483648 .. 2147483647 is refused (never wrapped).
//
// Real tokens, in this order:
//   1. optional sign; then a first character I or i is an infinity (with the sign),
//      N or n the quiet NaN 0x7FC00000 (whatever the sign), whatever follows;
//   2. mantissa: digits with at most one decimal point, digits may be missing on
//      either side of it, and may be missing altogether (the value is then 0);
//   3. optional exponent: a letter E, D or Q in either case, then at most one sign, then
//      digits; or a sign directly after the mantissa, then digits (1.5-3 is 1.5e-3).
//      Missing exponent digits mean exponent 0;
//   4. nothing may follow: a second point, a point in the exponent, a second exponent
//      letter, a further sign or any other character refuses the token.
// The decimal value becomes the nearest double (ties to even), and that double the
// nearest float. Rounding twice is deliberate: it is how values have always been read.
// "-0" gives -0.0f.
//
// The decimal value itself is converted by detail::decimal_to_double (decimal_to_double.cpp).

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "textio/connections.hpp"
#include "textio/textio.hpp"

namespace propbf::textio {
namespace {

using detail::kMaxDigits;
constexpr int64_t kExponentCap = 1000000000;  // larger exponents all act alike

bool is_digit(char c) { return c >= '0' && c <= '9'; }

float quiet_nan() {
  constexpr uint32_t kQuietNan = 0x7FC00000;  // sign 0, exponent all ones, top fraction bit
  float f;
  std::memcpy(&f, &kQuietNan, sizeof f);
  return f;
}

}  // namespace

bool convert_integer_token(std::string_view token, int32_t& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
    negative = token[i] == '-';
    ++i;
  }
  const int64_t limit = negative ? int64_t{2147483648} : int64_t{2147483647};
  int64_t value = 0;
  for (; i < token.size(); ++i) {
    if (!is_digit(token[i])) return false;
    value = value * 10 + (token[i] - '0');
    if (value > limit) return false;
  }
  out = static_cast<int32_t>(negative ? -value : value);
  return true;
}

namespace detail {

bool real_token_to_double(std::string_view token, double& out) {
  const std::size_t n = token.size();
  std::size_t i = 0;
  bool negative = false;
  if (i < n && (token[i] == '+' || token[i] == '-')) {
    negative = token[i] == '-';
    ++i;
  }
  if (i < n && (token[i] == 'I' || token[i] == 'i')) {
    const double inf = std::numeric_limits<double>::infinity();
    out = negative ? -inf : inf;
    return true;
  }
  if (i < n && (token[i] == 'N' || token[i] == 'n')) {
    out = std::numeric_limits<double>::quiet_NaN();
    return true;
  }

  // Mantissa: the value is 0.digits x 10^position.
  char digits[kMaxDigits];
  int count = 0;
  bool sticky = false;
  int64_t position = 0;
  bool seen_point = false;
  for (; i < n; ++i) {
    const char c = token[i];
    if (c == '.') {
      if (seen_point) return false;
      seen_point = true;
    } else if (is_digit(c)) {
      if (count == 0 && !sticky && c == '0') {
        if (seen_point) --position;  // a leading zero after the point
      } else {
        if (count < kMaxDigits) {
          digits[count++] = c;
        } else if (c != '0') {
          sticky = true;
        }
        if (!seen_point) ++position;
      }
    } else {
      break;
    }
  }

  // Exponent.
  int64_t exponent = 0;
  if (i < n) {
    const char c = token[i];
    bool exponent_negative = false;
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd' || c == 'Q' || c == 'q') {
      ++i;
      if (i < n && (token[i] == '+' || token[i] == '-')) {
        exponent_negative = token[i] == '-';
        ++i;
      }
    } else if (c == '+' || c == '-') {
      exponent_negative = c == '-';
      ++i;
    } else {
      return false;
    }
    for (; i < n && is_digit(token[i]); ++i) {
      exponent = exponent * 10 + (token[i] - '0');
      if (exponent > kExponentCap) exponent = kExponentCap;
    }
    if (i < n) return false;
    if (exponent_negative) exponent = -exponent;
  }

  while (count > 0 && digits[count - 1] == '0') --count;  // trailing zeros say nothing
  // |position| is bounded by the token length; clamp the sum before it can overflow.
  if (position > kExponentCap) position = kExponentCap;
  if (position < -kExponentCap) position = -kExponentCap;
  const double value = detail::decimal_to_double(digits, count, position + exponent, sticky);
  out = negative ? -value : value;
  return true;
}

}  // namespace detail

bool convert_real_token(std::string_view token, float& out) {
  double value;
  if (!detail::real_token_to_double(token, value)) return false;
  if (value != value) {
    out = quiet_nan();  // 0x7FC00000 whatever the sign
  } else {
    out = static_cast<float>(value);  // nearest float: the second rounding
  }
  return true;
}

}  // namespace propbf::textio
