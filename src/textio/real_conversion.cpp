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
// Decimal to double. The value is 0.d1d2...dn x 10^P with d1 != 0. At most
// kMaxDigits significant digits are kept exactly; any further non-zero digit only
// says "a little more" (sticky). No double boundary (representable value or midpoint)
// has more than 767 significant digits, so the cut-off never moves a rounding
// decision. With D the integer of the kept digits and q = P - n the value is D x 10^q,
// a ratio N / M of two big integers. A shift s makes floor(N 2^s / M) a quotient of
// 55 or 56 bits, found by binary long division; its lowest bits, the remainder and
// the sticky digit give the round-to-nearest-even result, with subnormals rounded at
// 2^-1074 and overflow giving infinity.

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

constexpr int kMaxDigits = 800;        // significant digits kept exactly
constexpr int64_t kExponentCap = 1000000000;  // larger exponents all act alike
constexpr int64_t kInfinityPosition = 310;    // 0.d x 10^P >= 1e309 > DBL_MAX
constexpr int64_t kZeroPosition = -324;       // 0.d x 10^P < 1e-324 < 2^-1075

// Unsigned big integer with a fixed capacity; 160 x 32 bits hold every operand the
// conversion forms (at most about 3800 bits).
class Big {
 public:
  static constexpr int kLimbs = 160;

  bool is_zero() const { return size_ == 0; }

  void set_small(uint32_t v) {
    size_ = 0;
    if (v != 0) limb_[size_++] = v;
  }

  void multiply_add(uint32_t factor, uint32_t addend) {
    uint64_t carry = addend;
    for (int i = 0; i < size_; ++i) {
      uint64_t t = static_cast<uint64_t>(limb_[i]) * factor + carry;
      limb_[i] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    if (carry != 0) limb_[size_++] = static_cast<uint32_t>(carry);
  }

  void multiply_by_power_of_five(int64_t k) {
    constexpr uint32_t kFive13 = 1220703125;  // 5^13, the largest power of 5 below 2^32
    for (; k >= 13; k -= 13) multiply_add(kFive13, 0);
    uint32_t rest = 1;
    for (; k > 0; --k) rest *= 5;
    multiply_add(rest, 0);
  }

  int bit_length() const {
    if (size_ == 0) return 0;
    return 32 * (size_ - 1) + (32 - std::countl_zero(limb_[size_ - 1]));
  }

  void shift_left(int bits) {
    if (size_ == 0 || bits == 0) return;
    int words = bits / 32;
    int rest = bits % 32;
    int new_size = size_ + words + 1;
    for (int i = new_size - 1; i >= 0; --i) {
      int src = i - words;
      uint32_t high = src >= 0 && src < size_ ? limb_[src] : 0;
      uint32_t low = src - 1 >= 0 && src - 1 < size_ ? limb_[src - 1] : 0;
      limb_[i] = rest == 0 ? high : (high << rest) | (low >> (32 - rest));
    }
    size_ = new_size;
    trim();
  }

  void shift_right_one() {
    for (int i = 0; i < size_; ++i) {
      uint32_t next = i + 1 < size_ ? limb_[i + 1] : 0;
      limb_[i] = (limb_[i] >> 1) | (next << 31);
    }
    trim();
  }

  // Three-way comparison.
  friend int compare(const Big& a, const Big& b) {
    if (a.size_ != b.size_) return a.size_ < b.size_ ? -1 : 1;
    for (int i = a.size_ - 1; i >= 0; --i) {
      if (a.limb_[i] != b.limb_[i]) return a.limb_[i] < b.limb_[i] ? -1 : 1;
    }
    return 0;
  }

  // *this -= b, for *this >= b.
  void subtract(const Big& b) {
    int64_t borrow = 0;
    for (int i = 0; i < size_; ++i) {
      int64_t t = static_cast<int64_t>(limb_[i]) - (i < b.size_ ? b.limb_[i] : 0) - borrow;
      borrow = t < 0 ? 1 : 0;
      limb_[i] = static_cast<uint32_t>(t + (borrow << 32));
    }
    trim();
  }

 private:
  void trim() {
    while (size_ > 0 && limb_[size_ - 1] == 0) --size_;
  }
  std::array<uint32_t, kLimbs> limb_{};
  int size_ = 0;
};

double bits_to_double(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// The double nearest to 0.digits x 10^position (digits: significant digits, the first
// non-zero, the last non-zero unless `sticky`), ties to even. `sticky`: a non-zero
// digit was cut off after the given ones.
double decimal_to_double(const char* digits, int count, int64_t position, bool sticky) {
  if (count == 0) return 0.0;
  if (position > kInfinityPosition) return std::numeric_limits<double>::infinity();
  if (position < kZeroPosition) return 0.0;

  // N / M = D x 10^q.
  const int64_t q = position - count;
  Big n;
  n.set_small(0);
  for (int i = 0; i < count; ++i) n.multiply_add(10, static_cast<uint32_t>(digits[i] - '0'));
  Big m;
  m.set_small(1);
  int64_t binary_scale = 0;  // the value is (N / M) x 2^binary_scale
  if (q >= 0) {
    n.multiply_by_power_of_five(q);
    binary_scale = q;
  } else {
    m.multiply_by_power_of_five(-q);
    binary_scale = q;
  }

  // Shift so that the quotient has 55 or 56 bits: N/M lies in (2^(L-1), 2^(L+1)).
  const int l = n.bit_length() - m.bit_length();
  const int s = 55 - l;  // quotient = floor(N 2^s / M)
  if (s > 0) {
    n.shift_left(s);
  } else if (s < 0) {
    m.shift_left(-s);
  }
  uint64_t quotient = 0;
  m.shift_left(55);
  for (int bit = 55; bit >= 0; --bit) {
    if (compare(n, m) >= 0) {
      n.subtract(m);
      quotient |= uint64_t{1} << bit;
    }
    m.shift_right_one();
  }
  const bool inexact = sticky || !n.is_zero();

  // The value is (quotient + fraction) x 2^(binary_scale - s); bit j of the quotient
  // weighs 2^(j + low) with low = binary_scale - s.
  const int64_t low = binary_scale - s;
  const int bits = std::bit_width(quotient);  // 55 or 56
  int64_t drop = bits - 53;                       // keep 53 bits ...
  if (low + drop < -1074) drop = -1074 - low;     // ... but nothing below 2^-1074
  if (drop > bits) return 0.0;                    // below half the least subnormal

  uint64_t kept = drop >= 64 ? 0 : quotient >> drop;
  const uint64_t half = uint64_t{1} << (drop - 1);
  const uint64_t rest = quotient & ((half << 1) - 1);
  if (rest > half || (rest == half && (inexact || (kept & 1) != 0))) ++kept;
  int64_t exponent = low + drop;  // the result is kept x 2^exponent
  if (kept == (uint64_t{1} << 53)) {
    kept >>= 1;
    ++exponent;
  }
  if (kept == 0) return 0.0;
  if (kept < (uint64_t{1} << 52)) return bits_to_double(kept);  // subnormal: exponent is -1074
  const int64_t biased = exponent + 52 + 1023;
  if (biased >= 2047) return std::numeric_limits<double>::infinity();
  return bits_to_double((static_cast<uint64_t>(biased) << 52) | (kept & ((uint64_t{1} << 52) - 1)));
}

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
  const double value = decimal_to_double(digits, count, position + exponent, sticky);
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
