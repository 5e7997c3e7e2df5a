// Renderings of insertion values, the integer/text conversions and the text helpers.
// Real renderings are worked by hand from the exact decimal value of the float and
// the seven-digit rule (eight digits cut off, the eighth rounds the seventh).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <string>

#include "errors/errors.hpp"
#include "errors/text_helpers.hpp"

namespace propbf::numlib {
namespace {

std::string integer_text(int32_t value) {
  char buffer[16];
  return std::string(render_integer(value, buffer));
}

std::string real_text(float value) {
  char buffer[32];
  const int32_t length = render_real(value, buffer);
  return std::string(buffer, static_cast<size_t>(length));
}

TEST(IntegerRendering, ZeroNegativeAndBothExtremes) {
  EXPECT_EQ(integer_text(0), "0");
  EXPECT_EQ(integer_text(-7), "-7");
  EXPECT_EQ(integer_text(50), "50");
  EXPECT_EQ(integer_text(2147483647), "2147483647");
  EXPECT_EQ(integer_text(std::numeric_limits<int32_t>::min()), "-2147483648");
}

TEST(RealRendering, GoldenValues) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    float value;
    const char* text;
    const char* why;
  } rows[] = {
      {0.0f, "0.000000E+00", "zero"},
      {-0.0f, "0.000000E+00", "negative zero is shown without sign"},
      {-1.0f, "-1.000000E+00", "exactly -1"},
      {0.5f, "5.000000E-01", "exactly 0.5"},
      {0.0025f, "2.500000E-03", "0.0024999999441...: 24999999 rounds up to 2500000"},
      {1.0e38f, "1.000000E+38", "9.9999996802...e37: carry out of the first digit"},
      {1.0f / 3.0f, "3.333333E-01", "0.33333334326...: eighth digit 4"},
      {2.0f / 3.0f, "6.666667E-01", "0.66666668653...: eighth digit 8"},
      {0.99999994f, "9.999999E-01", "0.99999994039...: eighth digit 4"},
      {3.40282347e38f, "3.402823E+38", "largest float 3.4028234663...e38"},
      {1.17549435e-38f, "1.175494E-38", "2^-126 = 1.1754943508...e-38"},
      {1.40129846e-45f, "1.401298E-45", "smallest subnormal 1.4012984643...e-45"},
      {-123456.789f, "-1.234568E+05", "-123456.7890625: eighth digit 8"},
      {inf, "INF", "infinity"},
      {-inf, "-INF", "negative infinity"},
      {nan, "NaN", "NaN without sign bit"},
      {-nan, "-NaN", "NaN with sign bit"},
  };
  for (const auto& row : rows) EXPECT_EQ(real_text(row.value), row.text) << row.why;
}

TEST(TextToInteger, ConvertsTheLeadingInteger) {
  const struct {
    const char* text;
    int32_t number;
    int32_t status;
  } rows[] = {
      {"123", 123, 0},
      {"  -42", -42, 0},
      {"- 5", -5, 0},          // blanks between sign and digits
      {"+007", 7, 0},          // leading zeros skipped
      {"12%", 12, 3},          // first character not used
      {"12 ", 12, 3},          // trailing blanks are not skipped
      {"   ", 0, 1},           // all blank
      {"+", 0, 1},             // no digit after the sign: the sign's position
      {" - x", 0, 2},
      {"00x", 0, 3},           // only zeros before a non-digit
      {"x1", 0, 1},            // neither sign nor digit
      {"2147483647", 2147483647, 0},
      {"-2147483647", -2147483647, 0},
  };
  for (const auto& row : rows) {
    int32_t number = -1;
    int32_t status = -9;
    C1TCI(row.text, number, status);
    EXPECT_EQ(number, row.number) << '"' << row.text << '"';
    EXPECT_EQ(status, row.status) << '"' << row.text << '"';
  }
}

TEST(TextToInteger, EmptyTextAndOverflow) {
  int32_t number = -1;
  int32_t status = 0;
  C1TCI("", number, status);
  EXPECT_EQ(status, -1);
  EXPECT_EQ(number, 0);
  C1TCI("2147483648", number, status);
  EXPECT_EQ(status, -2);
  C1TCI("99999999999999", number, status);
  EXPECT_EQ(status, -2);
}

TEST(IntegerToText, RightJustifiedOrLowOrderDigits) {
  const struct {
    int32_t number;
    size_t width;
    const char* text;
    int32_t status;
  } rows[] = {
      {0, 3, "  0", 0},
      {-42, 5, "  -42", 0},
      {12345, 5, "12345", 0},
      {12345, 3, "345", 2},
      {-12, 2, "12", 1},
      {std::numeric_limits<int32_t>::min(), 11, "-2147483648", 0},
      {2147483647, 11, " 2147483647", 0},
  };
  for (const auto& row : rows) {
    std::string text(row.width, '?');
    int32_t status = -9;
    C1TIC(row.number, std::span<char>(text.data(), text.size()), status);
    EXPECT_EQ(text, row.text) << row.number;
    EXPECT_EQ(status, row.status) << row.number;
  }
  int32_t status = 0;
  C1TIC(1, std::span<char>(), status);
  EXPECT_EQ(status, -1);
}

TEST(TextHelpers, CaseSearchAndAssignment) {
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

TEST(TextHelpers, IntegerFieldFillsWithAsterisksWhenTooNarrow) {
  std::string field(6, '?');
  integer_field_in_place(-12345, std::span<char>(field.data(), 6));
  EXPECT_EQ(field, "-12345");
  integer_field_in_place(-123456, std::span<char>(field.data(), 6));
  EXPECT_EQ(field, "******");
}

}  // namespace
}  // namespace propbf::numlib
