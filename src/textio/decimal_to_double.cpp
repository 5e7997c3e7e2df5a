// Decimal to double, correctly rounded, for the free-form reader. The value is 0.d1d2...dn x 10^P with d1 != 0. At most
// detail::kMaxDigits significant digits are kept exactly; any further non-zero digit only
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

#include "textio/connections.hpp"

namespace propbf::textio {
namespace {

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

}  // namespace

namespace detail {

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

}  // namespace detail
}  // namespace propbf::textio
