// Restriction matrices and vertex files: what they read as, what is refused and where,
// the facets of vertices against the same polytope's rows, and a matrix of the size of
// the field's standard case.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "input/polytope_file.hpp"

namespace propbf::evaluate {
namespace {

std::vector<Item> items(std::vector<std::string> names) {
  std::vector<Item> result;
  for (std::string& name : names) result.push_back(Item{std::move(name), 0, 0, 1.0, 1.0});
  return result;
}

PolytopeRestrictions matrix(const std::string& content, const std::vector<Item>& given) {
  const ParameterNames names(given);
  return matrix_restrictions("A.csv", parse_polytope_table("A.csv", content, names, PolytopeForm::Matrix),
                             given.size());
}

PolytopeRestrictions vertices(const std::string& content, const std::vector<Item>& given) {
  const ParameterNames names(given);
  return vertex_restrictions("V.csv", parse_polytope_table("V.csv", content, names, PolytopeForm::Vertices, true),
                             given.size());
}

struct Read {
  std::vector<double> coefficients;
  double constant;
};

void expect_rows(const PolytopeRestrictions& read, const std::vector<Read>& expected, const std::string& what) {
  ASSERT_EQ(read.restrictions.size(), expected.size()) << what;
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(read.restrictions[k].coefficients, expected[k].coefficients) << what << " row " << k;
    EXPECT_EQ(read.restrictions[k].constant, expected[k].constant) << what << " row " << k;
    if (expected[k].constant == 0.0) {
      EXPECT_FALSE(std::signbit(read.restrictions[k].constant)) << what << " row " << k;
    }
    for (double g : read.restrictions[k].coefficients) {
      if (g == 0.0) {
        EXPECT_FALSE(std::signbit(g)) << what << " row " << k;
      }
    }
  }
}

TEST(PolytopeMatrix, RowsReadAsRestrictions) {
  const auto abc = items({"a", "b", "c"});
  struct Case {
    const char* what;
    std::string content;
    std::vector<Read> expected;
    std::size_t left_out;
  };
  const std::vector<Case> cases{
      {"a > b > c, bare names", "a,b,c,b\n-1,1,0,0\n0,-1,1,0\n", {{{1, -1, 0}, 0}, {{0, 1, -1}, 0}}, 0},
      {"item[1] names, a column left out", "b[1],a[1],b\n1,-1,0\n", {{{1, -1, 0}, 0}}, 0},
      {"R's write.csv: quoted names, row names, CRLF", "\"\",\"a[1]\",\"c[1]\",\"b\"\r\n\"1\",1,1,1.5\r\n",
       {{{-1, 0, -1}, -1.5}}, 0},
      {"blanks, signs, exponents", " a , b ,b\n +2.5e-1 , -1E0 , 0.125 \n", {{{-0.25, 1, 0}, -0.125}}, 0},
      {"rows that hold on all of [0, 1] left out", "a,b,c,b\n-1,0,0,0\n1,1,1,3\n0,0,0,0\n1,0,0,0.5\n",
       {{{-1, 0, 0}, -0.5}}, 3},
  };
  for (const Case& c : cases) {
    const PolytopeRestrictions read = matrix(c.content, abc);
    expect_rows(read, c.expected, c.what);
    EXPECT_EQ(read.left_out, c.left_out) << c.what;
    EXPECT_EQ(read.facets, 0u) << c.what;
  }
}

TEST(PolytopeMatrix, MistakesNamedWithTheirPlace) {
  const auto ab = items({"a", "b"});
  struct Case {
    std::string content;
    std::string message;
  };
  const std::vector<Case> cases{
      {"", "A.csv:1:1: the file is empty; expected a header naming the parameters and then 'b'"},
      {"a,b,b\n", "A.csv:2:1: the file has no rows after its header; expected one row per restriction A θ <= b"},
      {"b[1],a\n1,2\n", "A.csv:1:6: the header's last column must be 'b', the right-hand side of A θ <= b; found 'a'"},
      {"a,x,b\n1,2,3\n", "A.csv:1:3: the header names 'x', which is no free parameter of the items; the parameters are "
                         "a[1], b[1]"},
      {"a,a[1],b\n1,2,3\n", "A.csv:1:3: the header names parameter 'a[1]' twice (as 'a' and 'a[1]'); give each column once"},
      {"a[2],b\n1,3\n", "A.csv:1:1: the header names 'a[2]', which is no free parameter of the items; the parameters "
                        "are a[1], b[1]"},
      {"b\n1\n", "A.csv:1:1: the header names no parameter; expected names such as a[1]"},
      {"a,b[1],b\n1,2\n", "A.csv:2:4: this row has 2 fields but the header has 3; expected a value here"},
      {"a,b[1],b\n1,2,3,4\n", "A.csv:2:7: this row has 4 fields but the header has 3; expected the end of the line"},
      {"a,b[1],b\n1,x,3\n", "A.csv:2:3: expected a finite number for 'b[1]', but found 'x'"},
      {"a,b[1],b\n1,,3\n", "A.csv:2:3: expected a finite number for 'b[1]', but found an empty field"},
      {"a,b[1],b\n1,2,NaN\n", "A.csv:2:5: expected a finite number for 'b', but found 'NaN'"},
      {"a,b[1],b\n1,2,inf\n", "A.csv:2:5: expected a finite number for 'b', but found 'inf'"},
      {"a,b[1],b\n1e999,2,1\n", "A.csv:2:1: expected a finite number for 'a', but found '1e999'"},
      {"a,b[1],b\n1,0x1,1\n", "A.csv:2:3: expected a finite number for 'b[1]', but found '0x1'"},
      {"a,b[1],b\n0,0,-1\n", "A.csv:2:1: this row has no nonzero coefficient and b = -1 < 0, so 0 <= b cannot hold: no "
                             "proportion satisfies it"},
      {"a,b[1],b\n\"1,2,3\n", "A.csv:2:1: malformed CSV: this quoted field is not closed (expected a '\"' before the end "
                               "of the file)"},
  };
  for (const Case& c : cases) {
    try {
      matrix(c.content, ab);
      ADD_FAILURE() << "accepted: " << c.content;
    } catch (const InputError& error) {
      EXPECT_EQ(std::string(error.what()), c.message) << c.content;
    }
  }
}

// A matrix of the standard case's size (75,834 rows over 20 parameters, most coefficients
// nonzero) reads row for row, and one over many items with few nonzeros a row as well.
TEST(PolytopeMatrix, LargeMatricesReadRowForRow) {
  std::vector<std::string> names;
  for (int j = 1; j <= 20; ++j) names.push_back(std::string(1, 'p').append(std::to_string(j)));
  const auto given = items(names);
  std::mt19937_64 random(5);
  std::string content;
  for (int j = 1; j <= 20; ++j) content.append("p").append(std::to_string(j)).append("[1],");
  content += "b\n";
  std::vector<std::vector<int>> rows;
  for (int r = 0; r < 75834; ++r) {
    std::vector<int> row;
    for (int j = 0; j <= 20; ++j) row.push_back(static_cast<int>(random() % 3) - 1 + (j == 20 ? 2 : 0));
    for (int j = 0; j <= 20; ++j) content += std::to_string(row[j]) + (j == 20 ? "\n" : ",");
    rows.push_back(row);
  }
  const PolytopeRestrictions read = matrix(content, given);
  std::size_t k = 0;
  for (const std::vector<int>& row : rows) {
    double smallest = 0.0;
    for (int j = 0; j < 20; ++j) smallest += std::min(0.0, 0.0 - row[j]);
    if (smallest >= 0.0 - row[20]) continue;
    ASSERT_LT(k, read.restrictions.size());
    for (int j = 0; j < 20; ++j) ASSERT_EQ(read.restrictions[k].coefficients[j], 0.0 - row[j]);
    ASSERT_EQ(read.restrictions[k].constant, 0.0 - row[20]);
    ++k;
  }
  EXPECT_EQ(k, read.restrictions.size());
  EXPECT_EQ(k + read.left_out, rows.size());
}

TEST(PolytopeVertices, FacetsOfTheHullAreTheRowsOfTheSamePolytope) {
  const auto abc = items({"a", "b", "c"});
  // The ordering a > b > c: its facets a <= 1 and c >= 0 hold on all of [0, 1].
  const PolytopeRestrictions order = vertices("a,b,c\n0,0,0\n1,0,0\n1,1,0\n1,1,1\n", abc);
  EXPECT_EQ(order.facets, 4u);
  EXPECT_EQ(order.left_out, 2u);
  expect_rows(order, {{{1, -1, 0}, 0}, {{0, 1, -1}, 0}}, "a > b > c");
  // A triangle in (a, b) with decimal vertices, read exactly: a + b <= 0.9, a >= 0.1,
  // b >= 0.2 (a redundant inner point dropped); each row scaled to a largest coefficient 1.
  const PolytopeRestrictions triangle = vertices("a,b\n0.1,0.2\n0.7,0.2\n0.1,0.8\n0.2,0.3\n", abc);
  EXPECT_EQ(triangle.facets, 3u);
  ASSERT_EQ(triangle.restrictions.size(), 3u);
  double sum = 0.0;
  for (const Restriction& r : triangle.restrictions) sum += r.constant;
  EXPECT_DOUBLE_EQ(sum, -0.9 + 0.1 + 0.2);
}

// A hull of lower dimension: its implicit equalities of two items or of an item and a
// number become equalities, its facets restrictions within them.
TEST(PolytopeVertices, ImplicitEqualitiesOfItemsBecomeEqualities) {
  const auto abc = items({"a", "b", "c"});
  const PolytopeRestrictions tied = vertices("a,b,c\n0,0,0\n1,1,0\n1,1,1\n", abc);
  ASSERT_EQ(tied.equalities.size(), 1u);
  EXPECT_EQ(tied.equalities[0].item + *tied.equalities[0].other, 1u);  // a and b
  EXPECT_EQ(tied.equalities[0].text, "-a + b = 0 (V.csv)");
  const PolytopeRestrictions point = vertices("a,b,c\n0.5,0.25,1\n", abc);
  ASSERT_EQ(point.equalities.size(), 3u);
  EXPECT_TRUE(point.restrictions.empty());
  double sum = 0.0;
  for (const Equality& e : point.equalities) {
    EXPECT_FALSE(e.other.has_value());
    sum += e.value;
  }
  EXPECT_EQ(sum, 1.75);
}

TEST(PolytopeVertices, RefusedWithTheReason) {
  const auto abc = items({"a", "b", "c"});
  struct Case {
    std::string content;
    std::string message;
  };
  const std::vector<Case> cases{
      {"a,b,c\n0,1,0\n1,0,0\n0,1,1\n",
       "V.csv: the vertices' hull has a lower dimension than the 3 parameters the header names: every vertex "
       "satisfies a + b = 1; a polytope with a linear equality other than one of two items or of an item and a "
       "number cannot be sampled yet"},
      {"a,b\n0,0\n1,0.5\n0.5,0.25\n", "V.csv: the vertices' hull has a lower dimension than the 2 parameters the "
                                     "header names: every vertex satisfies -0.5*a + b = 0; a polytope"},
      {"a,b,c,b\n0,0,0,1\n", "V.csv:1:7: the header names parameter 'b[1]' twice (as 'b' and 'b')"},
  };
  for (const Case& c : cases) {
    try {
      vertices(c.content, abc);
      ADD_FAILURE() << "accepted: " << c.content;
    } catch (const InputError& error) {
      EXPECT_EQ(std::string(error.what()).substr(0, c.message.size()), c.message) << c.content;
    }
  }
  // Beyond the limit, refused before cddlib runs.
  std::string many = "a,b,c\n";
  for (std::size_t v = 0; v <= kMaxVertices; ++v) many += "0.5,0.5,0.5\n";
  try {
    vertices(many, abc);
    ADD_FAILURE() << "accepted " << kMaxVertices + 1 << " vertices";
  } catch (const InputError& error) {
    EXPECT_EQ(std::string(error.what()).substr(0, 74),
              "V.csv:10002:1: the file holds more than 10000 vertices, the most a hypothe");
  }
}

}  // namespace
}  // namespace propbf::evaluate
