// Token conversions: integer tokens, the real-token grammar and correctly rounded
// decimal-to-binary conversion. Expected bit patterns are hand-checked IEEE values
// (sources in the comments), never output of the code under test.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "textio/connections.hpp"
#include "textio_test_support.hpp"

namespace propbf::textio {
namespace {

using testing::bits_of;

uint64_t double_bits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

uint32_t real_bits(const std::string& token) {
  float out = 12345.0f;
  EXPECT_TRUE(convert_real_token(token, out)) << token;
  return bits_of(out);
}

uint64_t double_of(const std::string& token) {
  double out = 0;
  EXPECT_TRUE(detail::real_token_to_double(token, out)) << token;
  return double_bits(out);
}

// Decimal digits of 5^n by schoolbook multiplication (independent of the code under test).
std::string power_of_five(int n) {
  std::string digits = "1";  // least significant first
  for (int k = 0; k < n; ++k) {
    int carry = 0;
    for (char& c : digits) {
      int t = (c - '0') * 5 + carry;
      c = static_cast<char>('0' + t % 10);
      carry = t / 10;
    }
    while (carry != 0) {
      digits.push_back(static_cast<char>('0' + carry % 10));
      carry /= 10;
    }
  }
  return std::string(digits.rbegin(), digits.rend());
}

TEST(IntegerToken, SignAndDigits) {
  struct Row {
    const char* token;
    int32_t value;
  } rows[] = {{"0", 0},   {"123", 123}, {"-45", -45},   {"+7", 7},
              {"007", 7}, {"-", 0},     {"+", 0},       {"2147483647", 2147483647},
              {"-2147483648", std::numeric_limits<int32_t>::min()}};
  for (const Row& row : rows) {
    int32_t out = 99;
    EXPECT_TRUE(convert_integer_token(row.token, out)) << row.token;
    EXPECT_EQ(out, row.value) << row.token;
  }
}

TEST(IntegerToken, RefusesNonDigitsAndOutOfRange) {
  for (const char* token : {"1.0", "1e3", "12a", "--1", "+-1", "1-", " 1", "0x10", "2147483648",
                            "-2147483649", "99999999999999999999999", "1*2"}) {
    int32_t out = 99;
    EXPECT_FALSE(convert_integer_token(token, out)) << token;
    EXPECT_EQ(out, 99) << "left unchanged: " << token;
  }
}

TEST(RealToken, ValidForms) {
  // Values exactly representable or far from any rounding boundary: the compiler's own
  // correctly rounded literal is the reference.
  struct Row {
    const char* token;
    float value;
  } rows[] = {{"1", 1.0f},          {"-.5", -0.5f},        {"5.", 5.0f},        {"1e-3", 1e-3f},
              {"1D-3", 1e-3f},      {"1d-3", 1e-3f},       {"1Q-3", 1e-3f},     {"1q-3", 1e-3f},
              {"1-3", 1e-3f},       {"+1.5E+3", 1500.0f},  {"1.5-3", 1.5e-3f},  {"2.5+2", 250.0f},
              {"0.1", 0.1f},        {".25e1", 2.5f},       {"1e", 1.0f},        {"1e+", 1.0f},
              {"3E", 3.0f},         {"0.000125", 1.25e-4f}, {"123456789", 123456792.0f},
              {"0", 0.0f},          {".", 0.0f},           {"", 0.0f},          {"E5", 0.0f}};
  for (const Row& row : rows) {
    EXPECT_EQ(real_bits(row.token), bits_of(row.value)) << row.token;
  }
  EXPECT_EQ(real_bits("1e-3"), 0x3A83126Fu);  // nearest float to 0.001
  EXPECT_EQ(real_bits("0.1"), 0x3DCCCCCDu);   // nearest float to 0.1
}

TEST(RealToken, SignAfterAnEmptyMantissaIsTheExponentSign) {
  // No mantissa digit: the value is zero whatever the exponent, with the first sign.
  EXPECT_EQ(real_bits("--1"), 0x80000000u);
  EXPECT_EQ(real_bits("+-1"), 0x00000000u);
  EXPECT_EQ(real_bits("-"), 0x80000000u);
  EXPECT_EQ(real_bits("-e7"), 0x80000000u);
}

TEST(RealToken, NegativeZeroKeepsItsSign) {
  EXPECT_EQ(real_bits("-0"), 0x80000000u);
  EXPECT_EQ(real_bits("-0.0e5"), 0x80000000u);
  EXPECT_EQ(real_bits("+0"), 0x00000000u);
}

TEST(RealToken, InfinityAndNan) {
  EXPECT_EQ(real_bits("Inf"), 0x7F800000u);
  EXPECT_EQ(real_bits("inf"), 0x7F800000u);
  EXPECT_EQ(real_bits("-INFINITY"), 0xFF800000u);
  EXPECT_EQ(real_bits("+ixyz"), 0x7F800000u);  // whatever follows the letter
  EXPECT_EQ(real_bits("NaN"), 0x7FC00000u);
  EXPECT_EQ(real_bits("nan"), 0x7FC00000u);
  EXPECT_EQ(real_bits("-nan"), 0x7FC00000u);  // the quiet NaN has no sign
  EXPECT_EQ(real_bits("n1.2.3"), 0x7FC00000u);
}

TEST(RealToken, IllegalForms) {
  for (const char* token : {"1..2", "1.2.", "1e5.", "1e.5", "1e5e3", "1eE3", "1.5-3-2", "1e+-3",
                            "1-+3", "-+-1", "abc", "1x", "x1", "1 2", "1,5", "1/2", "1e3x", "1.5f",
                            "0x1p3", "+e+3-"}) {
    float out = 7.0f;
    EXPECT_FALSE(convert_real_token(token, out)) << token;
    EXPECT_EQ(out, 7.0f) << "left unchanged: " << token;
  }
}

TEST(RealToken, FloatRangeEnds) {
  // FLT_MAX = 3.40282346638528859811704183484516925440e38 = 0x7F7FFFFF; the midpoint to
  // 2^128 is 3.40282356779733661637539395458142568448e38.
  EXPECT_EQ(real_bits("3.4028235e38"), 0x7F7FFFFFu);
  EXPECT_EQ(real_bits("3.4028234e38"), 0x7F7FFFFFu);
  EXPECT_EQ(real_bits("3.4028236e38"), 0x7F800000u);
  EXPECT_EQ(real_bits("-3.4028236e38"), 0xFF800000u);
  EXPECT_EQ(real_bits("340282356779733661637539395458142568448"), 0x7F800000u);  // tie: to even
  // Least subnormal 2^-149 = 1.40129846e-45; half of it 7.00649232e-46.
  EXPECT_EQ(real_bits("1e-45"), 0x00000001u);
  EXPECT_EQ(real_bits("1.4e-45"), 0x00000001u);
  EXPECT_EQ(real_bits("7.1e-46"), 0x00000001u);
  EXPECT_EQ(real_bits("7e-46"), 0x00000000u);
  EXPECT_EQ(real_bits("-7e-46"), 0x80000000u);
  // Smallest normal 2^-126 = 1.17549435e-38.
  EXPECT_EQ(real_bits("1.17549435e-38"), 0x00800000u);
}

TEST(RealToken, HalfwayCasesRoundToEven) {
  // 1 + 2^-24 = 1.000000059604644775390625 lies halfway between 1 and 1 + 2^-23.
  EXPECT_EQ(real_bits("1.000000059604644775390625"), 0x3F800000u);
  // 1 + 3 x 2^-24 lies halfway between 1 + 2^-23 (odd) and 1 + 2^-22 (even).
  EXPECT_EQ(real_bits("1.000000178813934326171875"), 0x3F800002u);
  // 1 + 2^-24 + 2^-52 (the next double up) is above the halfway point.
  EXPECT_EQ(real_bits("1.000000059604645"), 0x3F800001u);
  // 16777217 = 2^24 + 1 is halfway between 2^24 and 2^24 + 2: to the even 2^24.
  EXPECT_EQ(real_bits("16777217"), 0x4B800000u);
  EXPECT_EQ(real_bits("16777219"), 0x4B800002u);  // halfway 2^24+2 / 2^24+4: to +4
}

TEST(RealToken, RoundsTwiceThroughDouble) {
  // 1 + 2^-24 + 10^-25 is nearer to 1 + 2^-23 as a float, but the nearest double is
  // 1 + 2^-24 exactly, whose nearest float (a tie) is 1.
  EXPECT_EQ(real_bits("1.0000000596046447753906251"), 0x3F800000u);
  // One below the float overflow midpoint: the nearest double is the midpoint itself,
  // which then overflows to infinity.
  EXPECT_EQ(real_bits("340282356779733661637539395458142568447"), 0x7F800000u);
}

TEST(RealToken, ManyDigitsAndLargeExponents) {
  EXPECT_EQ(real_bits("1" + std::string(1000, '0') + "e-1000"), 0x3F800000u);
  EXPECT_EQ(real_bits("0." + std::string(1000, '0') + "1e1001"), 0x3F800000u);
  EXPECT_EQ(real_bits("0.1000000000000000055511151231257827021181583404541015625"), 0x3DCCCCCDu);
  EXPECT_EQ(real_bits("1e400"), 0x7F800000u);
  EXPECT_EQ(real_bits("-1e400"), 0xFF800000u);
  EXPECT_EQ(real_bits("1e-400"), 0x00000000u);
  EXPECT_EQ(real_bits("1e99999999999999999999"), 0x7F800000u);
  EXPECT_EQ(real_bits("1e-99999999999999999999"), 0x00000000u);
  EXPECT_EQ(real_bits("0e99999999999999999999"), 0x00000000u);
  EXPECT_EQ(real_bits(std::string(5000, '9') + "e-5000"), 0x3F800000u);  // 0.999...9 -> 1
}

TEST(DecimalToDouble, KnownValues) {
  EXPECT_EQ(double_of("0.1"), 0x3FB999999999999Aull);
  EXPECT_EQ(double_of("1"), 0x3FF0000000000000ull);
  EXPECT_EQ(double_of("1.7976931348623157e308"), 0x7FEFFFFFFFFFFFFFull);  // DBL_MAX
  EXPECT_EQ(double_of("1.7976931348623159e308"), 0x7FF0000000000000ull);  // past the midpoint
  EXPECT_EQ(double_of("2.2250738585072014e-308"), 0x0010000000000000ull);  // DBL_MIN
  EXPECT_EQ(double_of("2.2250738585072011e-308"), 0x000FFFFFFFFFFFFFull);  // largest subnormal
  EXPECT_EQ(double_of("4.9e-324"), 0x0000000000000001ull);
  EXPECT_EQ(double_of("2.4703282292062328e-324"), 0x0000000000000001ull);  // above 2^-1075
  EXPECT_EQ(double_of("2.4703282292062327e-324"), 0x0000000000000000ull);  // below 2^-1075
  EXPECT_EQ(double_of("9007199254740993"), 0x4340000000000000ull);  // 2^53 + 1: tie to 2^53
  EXPECT_EQ(double_of("9007199254740995"), 0x4340000000000002ull);  // 2^53 + 3: tie to 2^53 + 4
  EXPECT_EQ(double_of("9007199254740993.0000000000000000000000001"), 0x4340000000000001ull);
}

TEST(DecimalToDouble, ExactHalfOfTheLeastSubnormal) {
  // 2^-1075 = 5^1075 x 10^-1075: a tie between 0 and 2^-1074, to the even 0. Its 752
  // significant digits are all kept; one more non-zero digit, even past 800 digits,
  // lifts it to 2^-1074.
  const std::string five = power_of_five(1075);
  const std::string half = "0." + std::string(1075 - five.size(), '0') + five;
  EXPECT_EQ(double_of(half), 0ull);
  EXPECT_EQ(double_of(half + "1"), 1ull);
  EXPECT_EQ(double_of(half + std::string(200, '0') + "1"), 1ull);
  EXPECT_EQ(double_of(half + std::string(200, '0')), 0ull);
}

}  // namespace
}  // namespace propbf::textio
