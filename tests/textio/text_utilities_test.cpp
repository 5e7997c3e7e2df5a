// The text utilities: decimal digits of integers, integer fields, the eight cut-off
// significant digits of a float, and the character helpers. The digit rows are the
// exact decimal values of the floats, shown in comments.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <string>

#include "textio/text_utilities.hpp"
#include "textio_test_support.hpp"

namespace propbf::textio {
namespace {

using testing::float_of;

TEST(IntegerDigits, ZeroNegativeAndTheExtremes) {
  const struct {
    int64_t value;
    const char* text;
  } rows[] = {
      {0, "0"},
      {-7, "-7"},
      {50, "50"},
      {2147483647, "2147483647"},
      {std::numeric_limits<int32_t>::min(), "-2147483648"},
      {std::numeric_limits<int64_t>::min(), "-9223372036854775808"},
  };
  for (const auto& row : rows) {
    DecimalBuffer buffer;
    EXPECT_EQ(decimal_text(row.value, buffer), row.text);
  }
  DecimalBuffer buffer;
  EXPECT_EQ(decimal_digits(~static_cast<unsigned __int128>(0), buffer),
            "340282366920938463463374607431768211455");  // 2^128 - 1
}

TEST(Characters, CaseSearchAndAssignment) {
  EXPECT_EQ(ICASE('a'), 'A');
  EXPECT_EQ(ICASE('z'), 'Z');
  EXPECT_EQ(ICASE('1'), '1');
  EXPECT_EQ(I1DX("*L1*2%NR*I1*1%5", "*i1*"), 9);
  EXPECT_EQ(I1DX("ab", "abc"), 0);
  EXPECT_EQ(I1DX("abc", ""), 0);
  std::array<char, 4> name{};
  M1VECH("AB", name);
  EXPECT_EQ(std::string(name.data(), 4), "AB  ");
  M1VECH("ABCDEF", name);
  EXPECT_EQ(std::string(name.data(), 4), "ABCD");
}

TEST(IntegerDigits, FieldFillsWithAsterisksWhenTooNarrow) {
  std::string field(6, '?');
  integer_field_in_place(-12345, std::span<char>(field.data(), 6));
  EXPECT_EQ(field, "-12345");
  integer_field_in_place(-123456, std::span<char>(field.data(), 6));
  EXPECT_EQ(field, "******");
}

std::string digits_of(const SignificantDigits& sd) {
  std::string s;
  for (int d : sd.digit) s.push_back(static_cast<char>('0' + d));
  return s;
}

TEST(FirstEightDigits, CutOffNotRounded) {
  struct Row {
    uint32_t bits;
    const char* digits;
    int32_t exponent;
    const char* exact;  // the float's exact value, for the reader of this table
  } rows[] = {
      {0x3F800000, "10000000", 1, "1"},
      {0x3DCCCCCD, "10000000", 0, "0.100000001490116119384765625"},
      {0x3EAAAAAB, "33333334", 0, "0.3333333432674407958984375"},
      {0x3F2AAAAB, "66666668", 0, "0.666666686534881591796875"},
      {0x3F7FFFFF, "99999994", 0, "0.999999940395355224609375"},
      {0x4CEB79A3, "12345679", 9, "123456792"},
      {0x4B800000, "16777216", 8, "16777216"},
      {0x71800000, "12676506", 31, "2^100 = 1267650600228229401496703205376"},
      {0x7F7FFFFF, "34028234", 39, "3.40282346638528859811704183484516925440e38"},
      {0x00000001, "14012984", -44, "2^-149 = 1.40129846432481707092...e-45"},
      {0x00800000, "11754943", -37, "2^-126 = 1.17549435082228750797e-38"},
      {0xC0200000, "25000000", 1, "-2.5"},
      {0x3A83126F, "10000000", -2, "0.001000000047497451305389404296875"},
  };
  for (const Row& row : rows) {
    SignificantDigits sd = first_eight_digits(float_of(row.bits));
    EXPECT_EQ(digits_of(sd), row.digits) << row.exact;
    EXPECT_EQ(sd.exponent, row.exponent) << row.exact;
  }
}

TEST(FirstEightDigits, ZeroIsAllZeros) {
  for (float zero : {0.0f, -0.0f}) {
    SignificantDigits sd = first_eight_digits(zero);
    EXPECT_EQ(digits_of(sd), "00000000");
    EXPECT_EQ(sd.exponent, 0);
  }
}

}  // namespace
}  // namespace propbf::textio
