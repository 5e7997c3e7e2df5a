// The hypothesis language: what each form becomes, and every class of mistake with its
// offset and message; the starting point the restrictions give.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "problem/language.hpp"
#include "engine/start_point.hpp"

namespace propbf::evaluate {
namespace {

const std::vector<std::string> kItems{"a", "b", "c", "d"};

struct Row {
  std::vector<double> coefficients;
  double constant;
  std::string text;
};

struct ParseCase {
  std::string hypothesis;
  std::vector<Row> restrictions;  // worked by hand from the grammar
};

TEST(HypothesisLanguage, ReadsLinearRestrictions) {
  const std::vector<ParseCase> cases{
      {"a > b", {{{1, -1, 0, 0}, 0, "a > b"}}},
      {"a > b > c", {{{1, -1, 0, 0}, 0, "a > b"}, {{0, 1, -1, 0}, 0, "b > c"}}},
      {"a < b", {{{-1, 1, 0, 0}, 0, "a < b"}}},
      {"d > 0.5", {{{0, 0, 0, 1}, 0.5, "d > 0.5"}}},
      {"(a + b) / 2 > c", {{{0.5, 0.5, -1, 0}, 0, "(a + b) / 2 > c"}}},
      {"a + b > 1.2 & c < d", {{{1, 1, 0, 0}, 1.2, "a + b > 1.2"}, {{0, 0, -1, 1}, 0, "c < d"}}},
      {"a>b;c>d,", {{{1, -1, 0, 0}, 0, "a>b"}, {{0, 0, 1, -1}, 0, "c>d"}}},
      {"2 * (a - 0.25) >= -b * 3 + 1e-1", {{{2, 3, 0, 0}, 0.6, "2 * (a - 0.25) >= -b * 3 + 1e-1"}}},
      {"0.3 < a <= .7", {{{1, 0, 0, 0}, 0.3, "0.3 < a"}, {{-1, 0, 0, 0}, -0.7, "a <= .7"}}},
      {"-(a - b) < 0 && c > 0.1", {{{1, -1, 0, 0}, 0, "-(a - b) < 0"}, {{0, 0, 1, 0}, 0.1, "c > 0.1"}}},
      {"- -a > +-b", {{{1, 1, 0, 0}, 0, "- -a > +-b"}}},
      // Signs do not nest: any number of them is read in a loop.
      {std::string(40000, '-') + "a > b", {{{1, -1, 0, 0}, 0, std::string(40000, '-') + "a > b"}}},
      {std::string(200, '(') + "a" + std::string(200, ')') + " > b",
       {{{1, -1, 0, 0}, 0, std::string(200, '(') + "a" + std::string(200, ')') + " > b"}}},
  };
  for (const ParseCase& c : cases) {
    const ParsedHypothesis parsed = parse_hypothesis(c.hypothesis, kItems);
    ASSERT_TRUE(parsed.ok) << c.hypothesis << ": " << parsed.error.message;
    ASSERT_EQ(parsed.restrictions.size(), c.restrictions.size()) << c.hypothesis;
    for (std::size_t k = 0; k < c.restrictions.size(); ++k) {
      for (std::size_t j = 0; j < kItems.size(); ++j) {
        EXPECT_DOUBLE_EQ(parsed.restrictions[k].coefficients[j], c.restrictions[k].coefficients[j])
            << c.hypothesis << " restriction " << k << " item " << j;
      }
      EXPECT_DOUBLE_EQ(parsed.restrictions[k].constant, c.restrictions[k].constant) << c.hypothesis;
      EXPECT_EQ(parsed.restrictions[k].text, c.restrictions[k].text) << c.hypothesis;
    }
  }
}

struct EqualityCase {
  std::string hypothesis;
  std::vector<std::string> equalities;  // "item=other" or "item=value", with their offsets below
  std::vector<std::size_t> offsets;
  std::vector<std::string> restrictions;  // texts
};

// "==" reads as "="; chains mix "=" with "<" and ">".
TEST(HypothesisLanguage, ReadsEqualitiesInChains) {
  const std::vector<EqualityCase> cases{
      {"a = b", {"0=1"}, {0}, {}},
      {"a = b = c == d", {"0=1", "1=2", "2=3"}, {0, 4, 8}, {}},
      {"a = b > c", {"0=1"}, {0}, {"b > c"}},
      {"a > b = c > d", {"1=2"}, {4}, {"a > b", "c > d"}},
      {"a = 0.5; 1 = b, c = 0", {"0=0.5", "1=1", "2=0"}, {0, 9, 16}, {}},
  };
  for (const EqualityCase& c : cases) {
    const ParsedHypothesis parsed = parse_hypothesis(c.hypothesis, kItems);
    ASSERT_TRUE(parsed.ok) << c.hypothesis << ": " << parsed.error.message;
    std::vector<std::string> equalities;
    std::vector<std::size_t> offsets;
    for (const Equality& e : parsed.equalities) {
      std::ostringstream shown;
      shown << e.item << "=";
      if (e.other) {
        shown << *e.other;
      } else {
        shown << e.value;
      }
      equalities.push_back(shown.str());
      offsets.push_back(e.offset);
    }
    std::vector<std::string> restrictions;
    for (const Restriction& r : parsed.restrictions) restrictions.push_back(r.text);
    EXPECT_EQ(equalities, c.equalities) << c.hypothesis;
    EXPECT_EQ(offsets, c.offsets) << c.hypothesis;
    EXPECT_EQ(restrictions, c.restrictions) << c.hypothesis;
  }
}

struct ErrorCase {
  const char* what;
  std::string hypothesis;
  std::size_t offset;
  std::string message;
};

TEST(HypothesisLanguage, NamesEveryMistakeWithItsPlace) {
  const std::vector<ErrorCase> cases{
      {"empty", "  ", 0, "the hypothesis is empty; expected restrictions such as 'a > b; c > 0.5'"},
      {"unknown name", "a > e", 4, "unknown item 'e'; the items are a, b, c, d"},
      {"equality of a sum", "a + b == 1", 0,
       "'=' ties single items or an item and a number in [0, 1] (e.g. 'a = b', 'a = b = c', 'a = 0.5'); 'a + b' is "
       "neither; write sums and multiples with < or >"},
      {"equality of a multiple", "a > b = 2*c", 8,
       "'=' ties single items or an item and a number in [0, 1] (e.g. 'a = b', 'a = b = c', 'a = 0.5'); '2*c' is "
       "neither; write sums and multiples with < or >"},
      {"equality of numbers", "0.5 = 0.5", 0,
       "'=' ties single items or an item and a number in [0, 1] (e.g. 'a = b', 'a = b = c', 'a = 0.5'); '0.5 = 0.5' "
       "involves no item"},
      {"point value above 1", "a > b; c = 1.5", 11,
       "the point value '1.5' lies outside [0, 1]; a proportion equals a number from 0 to 1"},
      {"negative point value", "-0.2 = d", 0,
       "the point value '-0.2' lies outside [0, 1]; a proportion equals a number from 0 to 1"},
      {"product of items", "a * b > 0.2", 2,
       "'*' multiplies two expressions that both contain items, which is not linear; multiply items by numbers only"},
      {"division by items", "1 / a > 2", 2,
       "'/' divides by an expression that contains items, which is not linear; divide by numbers only"},
      {"division by zero", "a / (1 - 1) > b", 2, "division by zero"},
      {"no comparison", "a + b", 5,
       "expected a comparison (<, > or =) after 'a + b', but found the end of the hypothesis; a restriction compares two "
       "sides, e.g. 'a > b'"},
      {"missing operand", "a > b >", 7, "expected an item name, a number or '(', but found the end of the hypothesis"},
      {"doubled comparison", "a >> b", 3, "expected an item name, a number or '(', but found '>'"},
      {"empty restriction", "a > b;; c > d", 6, "expected an item name, a number or '(', but found ';'"},
      {"unclosed parenthesis", "(a + b > c", 7, "expected ')' to close the '(' opened before, but found '>'"},
      {"stray parenthesis", "a > b)", 5,
       "expected an operator (+ - * /), a comparison (<, > or =), a separator (; & ,) or the end of the hypothesis, but "
       "found ')'"},
      {"missing operator", "a > b c", 6,
       "expected an operator (+ - * /), a comparison (<, > or =), a separator (; & ,) or the end of the hypothesis, but "
       "found 'c'"},
      {"unexpected character", "a > b % 2", 6,
       "unexpected character '%'; expected an item name, a number, + - * /, parentheses, < > or =, or ; & , between "
       "restrictions"},
      {"no item", "a > b; 1 > 0.5", 7,
       "'1 > 0.5' involves no item (its coefficients are all 0); every restriction must involve at least one item"},
      {"items cancel", "a - a > 0", 0,
       "'a - a > 0' involves no item (its coefficients are all 0); every restriction must involve at least one item"},
      {"coefficient glued to item", "2a > b", 0,
       "malformed number '2a': write a coefficient and an item with '*' between them, e.g. '2 * a'"},
      {"exponent without digits", "a > 1e", 4, "malformed number '1e': expected digits after the exponent letter"},
      {"number out of range", "a > 1e999", 4, "number '1e999' is out of range"},
      {"coefficient overflow", "1e300 * 1e300 * a > b", 6,
       "a coefficient or constant here is too large to be a finite number"},
      {"difference overflow", "1e308 * a > -1e308 * a", 0,
       "a coefficient or constant here is too large to be a finite number"},
      {"nesting too deep", std::string(15000, '(') + "a" + std::string(15000, ')') + " > b", 200,
       "parentheses nest more than 200 deep here; write the expression with fewer levels"},
  };
  for (const ErrorCase& c : cases) {
    const ParsedHypothesis parsed = parse_hypothesis(c.hypothesis, kItems);
    ASSERT_FALSE(parsed.ok) << c.what;
    EXPECT_EQ(parsed.error.offset, c.offset) << c.what;
    EXPECT_EQ(parsed.error.message, c.message) << c.what;
  }
}

// Items of categories: x has categories p, q, "r s" (parameters 0 and 1, the last read as
// 1 - x[1] - x[2]); a is an item of two (parameter 2), its bare name its first category.
TEST(HypothesisLanguage, ReadsCategories) {
  const std::vector<NamedItem> items{{"x", 0, {"p", "q", "r s"}, false}, {"a", 2, {"1", "2"}, true}};
  const std::vector<ParseCase> cases{
      {"x[1] > x[q]", {{{1, -1, 0}, 0, "x[1] > x[q]"}}},
      {"x['r s'] > 0.2", {{{-1, -1, 0}, -0.8, "x['r s'] > 0.2"}}},
      {"x[\"r s\"] < a", {{{1, 1, 1}, 1, "x[\"r s\"] < a"}}},
      {"a[2] > 0.3 > x[ p ]", {{{0, 0, -1}, -0.7, "a[2] > 0.3"}, {{-1, 0, 0}, -0.3, "0.3 > x[ p ]"}}},
  };
  for (const ParseCase& c : cases) {
    const ParsedHypothesis parsed = parse_hypothesis(c.hypothesis, items, 3);
    ASSERT_TRUE(parsed.ok) << c.hypothesis << ": " << parsed.error.message;
    ASSERT_EQ(parsed.restrictions.size(), c.restrictions.size()) << c.hypothesis;
    for (std::size_t k = 0; k < c.restrictions.size(); ++k) {
      for (std::size_t j = 0; j < 3; ++j) {
        EXPECT_DOUBLE_EQ(parsed.restrictions[k].coefficients[j], c.restrictions[k].coefficients[j])
            << c.hypothesis << " restriction " << k << " parameter " << j;
      }
      EXPECT_DOUBLE_EQ(parsed.restrictions[k].constant, c.restrictions[k].constant) << c.hypothesis;
      EXPECT_EQ(parsed.restrictions[k].text, c.restrictions[k].text) << c.hypothesis;
    }
  }
  // Complements in equalities: 1 - a, a[2].
  const ParsedHypothesis tied = parse_hypothesis("1 - a = 0.4; a[2] = a[1]", items, 3);
  ASSERT_TRUE(tied.ok) << tied.error.message;
  ASSERT_EQ(tied.equalities.size(), 2u);
  EXPECT_TRUE(tied.equalities[0].complement);
  EXPECT_EQ(tied.equalities[0].value, 0.4);
  EXPECT_TRUE(tied.equalities[1].complement);
  EXPECT_FALSE(tied.equalities[1].other_complement);
  // Categories of the larger item in equalities: to each other, to a number, to a.
  const ParsedHypothesis categories = parse_hypothesis("x[q] = x['r s'] = 0.3; a = x[1]", items, 3);
  ASSERT_TRUE(categories.ok) << categories.error.message;
  ASSERT_EQ(categories.equalities.size(), 3u);
  const auto side = [](const std::optional<Equality::Category>& c) {
    return c ? std::to_string(c->item) + "/" + std::to_string(c->category) : std::string("-");
  };
  EXPECT_EQ(side(categories.equalities[0].category) + " " + side(categories.equalities[0].other_category), "0/1 0/2");
  EXPECT_EQ(side(categories.equalities[1].category) + " " + side(categories.equalities[1].other_category), "0/2 -");
  EXPECT_FALSE(categories.equalities[1].other.has_value());
  EXPECT_EQ(categories.equalities[1].value, 0.3);
  EXPECT_EQ(side(categories.equalities[2].category) + " " + side(categories.equalities[2].other_category), "- 0/0");
  EXPECT_EQ(categories.equalities[2].item, 2u);
  const std::vector<ErrorCase> errors{
      {"bare name", "x > 0.5", 0, "item 'x' has 3 categories; name the one meant, e.g. x[1] or x[p]"},
      {"number beyond", "x[4] > 0.5", 2, "item 'x' has categories 1 to 3; '4' is none of them"},
      {"fraction", "x[1.5] > 0.5", 2, "item 'x' has categories 1 to 3; '1.5' is none of them"},
      {"unknown name", "x[s] > 0.5", 2, "item 'x' has no category 's'; its categories are p, q, r s (or their "
                                        "numbers 1 to 3)"},
      {"unclosed quote", "x[\"p] > 0", 2,
       "the quoted category name opened here is not closed; write x[\"name\"] or x['name']"},
      {"unclosed bracket", "x[1 > 0", 4, "expected ']' to close the category of item 'x', but found '>'"},
      {"no category", "x[] > 0", 2,
       "expected a category of item 'x' (its number, its name, or its name quoted) after '[', but found ']'"},
      {"equality of a multiple of a category", "2 * x[1] = a", 0,
       "'=' ties single items or an item and a number in [0, 1] (e.g. 'a = b', 'a = b = c', 'a = 0.5'); '2 * x[1]' is "
       "neither; write sums and multiples with < or >"},
  };
  for (const ErrorCase& c : errors) {
    const ParsedHypothesis parsed = parse_hypothesis(c.hypothesis, items, 3);
    ASSERT_FALSE(parsed.ok) << c.what;
    EXPECT_EQ(parsed.error.offset, c.offset) << c.what;
    EXPECT_EQ(parsed.error.message, c.message) << c.what;
  }
}

struct StartCase {
  std::string hypothesis;
  double radius;                      // of the largest ball; 0: no interior
  std::vector<std::size_t> conflict;  // without interior
};

// Rows are scaled before the linear programme: coefficients of any magnitude, and
// coefficients far apart within one restriction, leave what has an interior accepted.
TEST(StartPoint, AcceptsWhatHasAnInteriorAndNamesTheConflictOtherwise) {
  std::vector<StartCase> cases{
      {"a > b; a < 0.3; b > 0.5; a > 0.1", 0, {0, 1, 2}},
      {"a + b > 2", 0, {0}},
      {"c > 0.5; a > b; b > 0.9; a < 0.9", 0, {1, 2, 3}},
      {"1e-300 * a > 1e300", 0, {0}},
      {"a > 0.9999999999", 0, {0}},  // a ball of radius 5e-11 counts as none
      {"a < 0.00000001", 5e-9, {}},   // one of 5e-9 does
      {"a + 1e-19 * b > 1e10 * a - 199", 199 / 9999999999.0 / 2, {}},
      {"1e200 * a > 1e199", 0.45, {}},
      {"1e10 * a - 1e-10 * b > 0; b > 0.5", 0.25, {}},
      {"1e30 * a - b > 0", 0.5, {}},
      {"a > b > c > d", 0.5 / (1 + 1.5 * std::sqrt(2.0)), {}},  // d = r, gaps r sqrt(2), a = 1 - r
  };
  for (int e = 13; e <= 300; e += e < 30 ? 1 : 10) {
    cases.push_back({"a + 1e-" + std::to_string(e) + " * b > 0.5", 0.25, {}});
  }
  for (const StartCase& c : cases) {
    const ParsedHypothesis parsed = parse_hypothesis(c.hypothesis, kItems);
    ASSERT_TRUE(parsed.ok) << c.hypothesis;
    const StartPoint start = find_start_point(parsed.restrictions, kItems.size());
    EXPECT_TRUE(start.failure.empty()) << c.hypothesis;
    EXPECT_EQ(start.interior, c.radius > 0) << c.hypothesis;
    EXPECT_EQ(start.conflict, c.conflict) << c.hypothesis;
    if (!start.interior) continue;
    EXPECT_NEAR(start.radius, c.radius, 1e-9) << c.hypothesis;
    for (const Restriction& restriction : parsed.restrictions) {
      double value = 0.0;
      for (std::size_t j = 0; j < kItems.size(); ++j) value += restriction.coefficients[j] * start.centre[j];
      EXPECT_GT(value, restriction.constant) << c.hypothesis << ": " << restriction.text;
    }
  }
}

}  // namespace
}  // namespace propbf::evaluate
