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
//   factor      := ("+" | "-") factor | number | item-name | "(" sum ")"
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

// pi_item = pi_other, or pi_item = value when `other` is empty.
struct Equality {
  std::size_t item = 0;
  std::optional<std::size_t> other;
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

}  // namespace propbf::evaluate
