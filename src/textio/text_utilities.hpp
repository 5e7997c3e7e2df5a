// Text utilities shared by the text layer and the numerical library's error machine:
// the decimal digits of an integer, integer fields, the eight cut-off significant
// digits of a float with their one rounding rule, and the library's character and case
// helpers. None of them allocates, fails or takes the layer's lock. Positions are
// counted from 1 and 0 means "not found", as everywhere in the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace propbf::textio {

// ---------------------------------------------------------------------------------
// Decimal digits of integers
// ---------------------------------------------------------------------------------

// Room for a '-' and the 39 digits of 2^128 - 1.
inline constexpr std::size_t kDecimalBufferSize = 40;
using DecimalBuffer = char[kDecimalBufferSize];

// The decimal digits of `magnitude`, most significant first, without leading zeros
// (zero is the single digit 0). They are written at the end of `buffer`, which the
// result views.
std::string_view decimal_digits(unsigned __int128 magnitude, DecimalBuffer& buffer);

// `value` in decimal with no blanks: a '-' before the digits of a negative value.
// Every 64-bit value is written, the most negative included.
std::string_view decimal_text(int64_t value, DecimalBuffer& buffer);

// `value` right-justified in `field`, blank-filled on the left; the whole field is
// asterisks when sign and digits need more columns than it has. An empty field is
// left as it is.
void integer_field_in_place(int64_t value, std::span<char> field);

// ---------------------------------------------------------------------------------
// Significant digits of a float
// ---------------------------------------------------------------------------------

// The first eight significant decimal digits D1..D8 of |value| (digit[0] is D1), cut
// off, not rounded, and the decimal exponent E with |value| = 0.D1D2...D8... x 10^E.
// Zero gives all zeros and E = 0. Only for finite values.
struct SignificantDigits {
  int digit[8];
  int32_t exponent;
};

// The digits come from the exact decimal expansion of the float (m x 2^e, which is
// m x 5^-e / 10^-e for e < 0); every digit after D8 counts as 0.
SignificantDigits first_eight_digits(float value);

// The one rounding of the cut-off digits, at position p (1..8), the first digit that
// will not be shown: if Dp is 5 or more, Dp becomes 0 and 1 is added to D(p-1), a 9
// becoming 0 and carrying on to the left; a carry out of D1 makes the digits
// 1000 0000 and raises E by 1. If Dp is 4 or less nothing changes.
// Worked case: 0.666666686... has D = 66666668, E = 0; rounding at 8 gives 66666670.
void round_at_digit(SignificantDigits& digits, int p);

// ---------------------------------------------------------------------------------
// Characters and texts (the library's helpers keep their upper-case names)
// ---------------------------------------------------------------------------------

// ICASE: the character code of `c`, with a..z mapped to A..Z.
int32_t ICASE(char c);

// I1DX: the first position of `key` in `text`, ignoring letter case; 0 when absent,
// when `key` is empty or when it is longer than `text`.
int32_t I1DX(std::string_view text, std::string_view key);

// M1VECH: text assignment dst = src, cut or blank-filled to the length of dst.
void M1VECH(std::string_view src, std::span<char> dst);

// `text` without its trailing blanks.
std::string_view without_trailing_blanks(std::string_view text);

}  // namespace propbf::textio
