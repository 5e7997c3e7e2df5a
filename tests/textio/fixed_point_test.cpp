// Fixed-point fields and integer fields.
// Expected texts come from the worked examples of the field rules (the report's widths)
// or are derived by hand from the exact decimal value of the float, shown in comments.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "textio_test_support.hpp"

namespace propbf::textio {
namespace {

using testing::float_of;

struct FieldRow {
  float value;
  int32_t width;
  int32_t decimals;
  const char* text;
};

void expect_fields(std::initializer_list<FieldRow> rows) {
  for (const FieldRow& row : rows) {
    EXPECT_EQ(fixed_point_field(row.value, row.width, row.decimals), row.text)
        << "value " << row.value << " in (" << row.width << ", " << row.decimals << ")";
  }
}

TEST(FixedPointField, ReportWidth12) {
  expect_fields({
      {float_of(0x3EAAAAAB), 12, 10, "0.3333333400"},  // nearest 1/3
      {float_of(0x3F2AAAAB), 12, 10, "0.6666667000"},  // nearest 2/3
      {0.1f, 12, 10, "0.1000000000"},
      {0.123456789f, 12, 10, "0.1234568000"},
      {float_of(0x3F7FFFFF), 12, 10, "0.9999999400"},  // 0.99999994
      {float_of(0x3F7FFFFE), 12, 10, "0.9999999000"},  // 0.99999988
      {float_of(0x411FFFFF), 12, 10, "9.9999990000"},  // 9.999999
      {0.0f, 12, 10, "0.0000000000"},
      {-0.0f, 12, 10, "0.0000000000"},
      {0.5f, 12, 10, "0.5000000000"},
      {1.0f, 12, 10, "1.0000000000"},
      {-0.5f, 12, 10, "-.5000000000"},
      {10.0f, 12, 10, "************"},
      {-1.0f, 12, 10, "************"},
      {-0.25f, 12, 10, "-.2500000000"},
  });
}

TEST(FixedPointField, ReportWidth17) {
  expect_fields({
      {999999.875f, 17, 10, "999999.9000000000"},
      {2.5f, 17, 10, "     2.5000000000"},
      {1000000.0f, 17, 10, "*****************"},
      {6e-11f, 17, 10, "     0.0000000001"},
      {4e-12f, 17, 10, "     0.0000000000"},
      {-4e-12f, 17, 10, "     0.0000000000"},  // too small to show: loses its sign
      {-99999.5f, 17, 10, "-99999.5000000000"},
      {-100000.0f, 17, 10, "*****************"},
      {-2.5f, 17, 10, "    -2.5000000000"},
      {-0.5f, 17, 10, "    -0.5000000000"},
  });
}

TEST(FixedPointField, NonFiniteValues) {
  const float inf = std::numeric_limits<float>::infinity();
  expect_fields({
      {inf, 17, 10, "              INF"},
      {-inf, 17, 10, "             -INF"},
      {float_of(0xFFC00000), 17, 10, "             -NaN"},  // sign bit set, as the FPU makes it
      {float_of(0x7FC00000), 17, 10, "              NaN"},
      {-inf, 12, 10, "        -INF"},
      {inf, 3, 1, "INF"},
      {-inf, 3, 1, "***"},
      {float_of(0xFFC00000), 4, 2, "-NaN"},
  });
}

TEST(FixedPointField, RoundingCarries) {
  expect_fields({
      // 9.996f = 9.99600029...: p = 4, D4 = 6 carries through the 9s: 1000 0000, E = 2.
      {9.996f, 6, 2, " 10.00"},
      {9.996f, 5, 2, "10.00"},
      {9.996f, 4, 2, "****"},
      // 0.996f = 0.99599999189...: D = 99599999, p = 3, D3 = 5 carries out: 1.00.
      {0.996f, 4, 2, "1.00"},
      // 0.125 in one decimal: D2 = 2 stays, 0.1; 0.15f = 0.1500000059...: D2 = 5, 0.2.
      {0.125f, 4, 1, " 0.1"},
      {0.15f, 4, 1, " 0.2"},
      // 0.05f = 0.0500000007...: E = -1, p = 1, D1 = 5 carries out of D1: 0.1.
      {0.05f, 4, 1, " 0.1"},
      // 0.04f = 0.0399999991...: E = -1, D1 = 3: nothing shows.
      {0.04f, 4, 1, " 0.0"},
      // Eight significant digits shown, D8 >= 5: seven rounded ones, then zeros.
      {123456.79f, 17, 10, "123456.8000000000"},  // 123456.7890625: D = 12345678, D8 = 8
  });
}

TEST(FixedPointField, NoRoomForTheIntegerPart) {
  expect_fields({
      // R = 0 (w = d + 1): no leading 0 for a value below 1.
      {0.5f, 4, 3, ".500"},
      {0.0f, 4, 3, ".000"},
      {1.0f, 4, 3, "****"},
      // Negative with R = 0 (w = d + 2): sign, point, digits; zero keeps one blank.
      {-0.5f, 5, 3, "-.500"},
      {-0.0001f, 5, 3, " .000"},
      {-4e-12f, 12, 10, " .0000000000"},
      // Negative with R < 0: no room for the sign.
      {-0.5f, 4, 3, "****"},
  });
}

TEST(FixedPointField, UnusedShapesAreSafe) {
  EXPECT_EQ(fixed_point_field(1.0f, 5, 0), "*****");
  EXPECT_EQ(fixed_point_field(1.0f, 3, 3), "***");
  EXPECT_EQ(fixed_point_field(1.0f, 0, 0), "");
  EXPECT_EQ(fixed_point_field(1.0f, -4, 2), "");
  EXPECT_EQ(fixed_point_field(1.0f, 3, -1), "***");
}

TEST(IntegerField, RightJustifiedOrAsterisks) {
  EXPECT_EQ(integer_field(42, 5), "   42");
  EXPECT_EQ(integer_field(-42, 3), "-42");
  EXPECT_EQ(integer_field(-42, 2), "**");
  EXPECT_EQ(integer_field(0, 1), "0");
  EXPECT_EQ(integer_field(std::numeric_limits<int32_t>::min(), 11), "-2147483648");
  EXPECT_EQ(integer_field(std::numeric_limits<int32_t>::min(), 10), "**********");
  EXPECT_EQ(integer_field(7, 0), "");
}

}  // namespace
}  // namespace propbf::textio
