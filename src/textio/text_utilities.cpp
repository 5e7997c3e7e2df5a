// Text utilities: decimal digits, integer fields, significant digits of a float and
// their rounding, character helpers (see text_utilities.hpp for the contracts).
#include "textio/text_utilities.hpp"

#include <algorithm>
#include <cstring>

namespace propbf::textio {

// ---------------------------------------------------------------------------------
// Decimal digits of integers
// ---------------------------------------------------------------------------------

std::string_view decimal_digits(unsigned __int128 magnitude, DecimalBuffer& buffer) {
  std::size_t start = kDecimalBufferSize;
  do {
    buffer[--start] = static_cast<char>('0' + static_cast<int>(magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  return {buffer + start, kDecimalBufferSize - start};
}

std::string_view decimal_text(int64_t value, DecimalBuffer& buffer) {
  // The magnitude is formed in unsigned arithmetic so that the most negative value has one.
  const uint64_t magnitude = value < 0 ? 0u - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const std::string_view digits = decimal_digits(magnitude, buffer);
  if (value >= 0) return digits;
  const std::size_t start = kDecimalBufferSize - digits.size() - 1;  // at most 19 digits: room left
  buffer[start] = '-';
  return {buffer + start, digits.size() + 1};
}

void integer_field_in_place(int64_t value, std::span<char> field) {
  DecimalBuffer buffer;
  const std::string_view text = decimal_text(value, buffer);
  if (text.size() > field.size()) {
    std::fill(field.begin(), field.end(), '*');
    return;
  }
  const std::size_t pad = field.size() - text.size();
  std::fill_n(field.begin(), pad, ' ');
  std::copy(text.begin(), text.end(), field.begin() + static_cast<std::ptrdiff_t>(pad));
}

// ---------------------------------------------------------------------------------
// Significant digits of a float
// ---------------------------------------------------------------------------------

namespace {

// The leading digits of an exact decimal expansion: enough for every float, whose
// longest expansion, 2^24 x 5^149 at most, has 112 digits.
struct DigitString {
  char text[128];
  std::size_t length = 0;
  void append(std::string_view part) {
    for (char c : part) {
      if (length < sizeof text) text[length++] = c;
    }
  }
};

// The decimal digits of m x 5^k (m < 2^24, k <= 149), most significant first.
void append_digits_times_power_of_five(uint32_t m, int k, DigitString& out) {
  constexpr uint32_t kLimbBase = 1000000000;     // one limb holds nine decimal digits
  uint32_t limb[16] = {m % kLimbBase, m / kLimbBase};  // m x 5^149 < 10^113: 13 limbs
  int size = limb[1] != 0 ? 2 : 1;
  while (k > 0) {
    const int step = k < 13 ? k : 13;  // 5^13 < 2^32
    uint64_t factor = 1;
    for (int i = 0; i < step; ++i) factor *= 5;
    uint64_t carry = 0;
    for (int i = 0; i < size; ++i) {
      const uint64_t t = limb[i] * factor + carry;
      limb[i] = static_cast<uint32_t>(t % kLimbBase);
      carry = t / kLimbBase;
    }
    while (carry != 0) {
      limb[size++] = static_cast<uint32_t>(carry % kLimbBase);
      carry /= kLimbBase;
    }
    k -= step;
  }
  DecimalBuffer buffer;
  out.append(decimal_digits(limb[size - 1], buffer));
  for (int i = size - 2; i >= 0; --i) {
    const std::string_view part = decimal_digits(limb[i], buffer);
    for (std::size_t z = part.size(); z < 9; ++z) out.append("0");  // a lower limb has all nine
    out.append(part);
  }
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
  DigitString digits;
  if (e >= 0) {
    DecimalBuffer buffer;
    digits.append(decimal_digits(static_cast<unsigned __int128>(m) << e, buffer));  // < 2^128
    result.exponent = static_cast<int32_t>(digits.length);
  } else {
    append_digits_times_power_of_five(m, -e, digits);
    result.exponent = static_cast<int32_t>(digits.length) + e;
  }
  for (std::size_t i = 0; i < 8; ++i) result.digit[i] = i < digits.length ? digits.text[i] - '0' : 0;
  return result;
}

void round_at_digit(SignificantDigits& digits, int p) {
  int* const d = digits.digit;  // d[i] is D(i+1)
  if (p < 1 || p > 8 || d[p - 1] < 5) return;
  d[p - 1] = 0;
  int i = p - 2;
  while (i >= 0 && d[i] == 9) d[i--] = 0;
  if (i >= 0) {
    ++d[i];
    return;
  }
  d[0] = 1;  // the carry left D1: 1000 0000, one decimal place up
  for (int k = 1; k < 8; ++k) d[k] = 0;
  ++digits.exponent;
}

// ---------------------------------------------------------------------------------
// Characters and texts
// ---------------------------------------------------------------------------------

int32_t ICASE(char c) {
  const int32_t code = static_cast<unsigned char>(c);
  return (code >= 'a' && code <= 'z') ? code - ('a' - 'A') : code;
}

int32_t I1DX(std::string_view text, std::string_view key) {
  if (key.empty() || key.size() > text.size()) return 0;
  const std::size_t last_start = text.size() - key.size();
  for (std::size_t start = 0; start <= last_start; ++start) {
    std::size_t i = 0;
    while (i < key.size() && ICASE(text[start + i]) == ICASE(key[i])) ++i;
    if (i == key.size()) return static_cast<int32_t>(start + 1);
  }
  return 0;
}

void M1VECH(std::string_view src, std::span<char> dst) {
  const std::size_t copied = std::min(src.size(), dst.size());
  std::copy_n(src.data(), copied, dst.data());
  std::fill(dst.begin() + static_cast<std::ptrdiff_t>(copied), dst.end(), ' ');
}

std::string_view without_trailing_blanks(std::string_view text) {
  std::size_t length = text.size();
  while (length > 0 && text[length - 1] == ' ') --length;
  return text.substr(0, length);
}

}  // namespace propbf::textio
