// The hypothesis language.
//
//   hypothesis  := restriction-chain { separator restriction-chain } [ separator ]
//   separator   := ";" | "&" | ","
//   chain       := sum comparison sum { comparison sum }     a > b > c is a > b and b > c
//   comparison  := "<" | ">" | "<=" | ">="                   (<= and >= read as < and >:
//                                                             the boundary has probability 0)
//                | "=" | "=="                                an equality ("==" reads as "="); both
//                                                             its sides are single items, or an item
//                                                             and a number in [0, 1]: a = b = c,
//                                                             a = b > c, a > b = c > d, a = 0.5
//   sum         := product { ("+" | "-") product }
//   product     := factor { ("*" | "/") factor }             one side of * must be a number,
//                                                             the right side of / a number
//   factor      := ("+" | "-") factor | number | parameter | "(" sum ")"
//   parameter   := item-name [ "[" category "]" ]                a bare name: a binomial item's
//                                                             success probability
//   category    := digits | name | '"' text '"' | "'" text "'"  its number (1 ... K) or its name
//   number      := digits [ "." digits ] [ ("e" | "E") [ "+" | "-" ] digits ]  (or "." digits)
//   item-name   := letter or "_", then letters, digits or "_"
//
// Every restriction becomes  sum_j coefficient[j] * pi_j > constant; every equality ties
// one item to another item or to a point value (equalities.hpp collapses them).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace propbf::evaluate {

struct Restriction {
  std::vector<double> coefficients;  // one per item, in item order
  double constant = 0.0;             // the restriction holds when coefficients . pi > constant
  std::string text;                  // the part of the hypothesis it was written as, e.g. "a > b"
};

// pi_item = pi_other, or pi_item = value when `other` is empty; with `complement`
// (`other_complement`) the side is 1 - pi_item (1 - pi_other) instead: b1 = 1 - b2,
// b1 = b2[2].
struct Equality {
  // A side naming a category of an item of more than two categories: the item (its
  // index among the items) and the category (0-based); `item` is then unused, and
  // `other` holds the other side's item.
  struct Category {
    std::size_t item = 0;
    std::size_t category = 0;
  };
  std::optional<Category> category;
  std::optional<Category> other_category;
  std::size_t item = 0;
  std::optional<std::size_t> other;
  bool complement = false;
  bool other_complement = false;
  double value = 0.0;   // in [0, 1]
  std::string text;     // as written, e.g. "a = b"
  std::size_t offset = 0;  // where `text` begins in the hypothesis
};

// A mistake in a hypothesis: the byte offset inside the hypothesis text and the message
// (what was found and what was expected).
struct LanguageError {
  std::size_t offset = 0;
  std::string message;
};

struct ParsedHypothesis {
  std::vector<Restriction> restrictions;  // in the order written; empty on error
  std::vector<Equality> equalities;       // in the order written; empty on error
  bool ok = false;
  LanguageError error;  // meaningful when !ok
};

ParsedHypothesis parse_hypothesis(const std::string& text, const std::vector<std::string>& item_names);

// An item as the language names it: its name, its first free parameter and its K
// category names. Categories 1 ... K - 1 are the parameters first ... first + K - 2; the
// last, x[K], is read as 1 minus their sum. `bare`: the name alone stands for category 1
// (an item of two categories); otherwise it is refused and a category must be named.
// The plain overload above names binomial items: item j is parameter j, its categories
// "1" (the success probability) and "2" (its complement).
struct NamedItem {
  std::string name;
  std::size_t first = 0;
  std::vector<std::string> categories;
  bool bare = true;
};

// Restrictions have one coefficient per parameter (`parameters` of them). An equality
// ties single parameters of items of two categories, or their complements (x[2], or
// 1 - x written out), or single categories of larger items (Equality::category;
// category_equalities.hpp decides which of those have a closed form).
ParsedHypothesis parse_hypothesis(const std::string& text, const std::vector<NamedItem>& items, std::size_t parameters);

}  // namespace propbf::evaluate
