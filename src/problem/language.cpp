// The hypothesis language: a scanner and a recursive-descent parser that turns each
// restriction into one row of coefficients and a constant (grammar in language.hpp).
#include "problem/language.hpp"

#include <algorithm>
#include <charconv>
#include <map>
#include <cmath>
#include <string_view>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>

namespace propbf::evaluate {
namespace {

enum class Kind {
  Name, Number, Plus, Minus, Star, Slash, Open, Close, Less, Greater, Equal, Separator, End,
  OpenBracket, CloseBracket, Quoted  // a category: x[2], x[b], x["a>b"]
};

struct Token {
  Kind kind = Kind::End;
  std::size_t begin = 0;  // byte offsets in the hypothesis text
  std::size_t end = 0;
  double number = 0.0;  // for Kind::Number
};

struct Failure {
  LanguageError error;
};

[[noreturn]] void fail(std::size_t offset, std::string message) { throw Failure{{offset, std::move(message)}}; }

// 'text' (built by appending: g++ 12 warns falsely about "'" + std::string at -O3).
std::string quoted(std::string_view text) {
  std::string result;
  result.reserve(text.size() + 2);
  result.push_back('\'');
  result.append(text);
  result.push_back('\'');
  return result;
}

bool is_name_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_char(char c) { return is_name_start(c) || is_digit(c); }

std::vector<Token> scan(std::string_view text) {
  std::vector<Token> tokens;
  std::size_t at = 0;
  while (at < text.size()) {
    const char c = text[at];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++at;
      continue;
    }
    Token token;
    token.begin = at;
    if (is_name_start(c)) {
      while (at < text.size() && is_name_char(text[at])) ++at;
      token.kind = Kind::Name;
    } else if (is_digit(c) || (c == '.' && at + 1 < text.size() && is_digit(text[at + 1]))) {
      while (at < text.size() && is_digit(text[at])) ++at;
      if (at < text.size() && text[at] == '.') {
        ++at;
        while (at < text.size() && is_digit(text[at])) ++at;
      }
      if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        std::size_t exponent = at + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
        if (exponent >= text.size() || !is_digit(text[exponent])) {
          fail(token.begin, "malformed number '" + std::string(text.substr(token.begin, exponent - token.begin)) +
                                "': expected digits after the exponent letter");
        }
        at = exponent;
        while (at < text.size() && is_digit(text[at])) ++at;
      }
      if (at < text.size() && (is_name_char(text[at]) || text[at] == '.')) {
        std::size_t stop = at;
        while (stop < text.size() && (is_name_char(text[stop]) || text[stop] == '.')) ++stop;
        fail(token.begin, "malformed number '" + std::string(text.substr(token.begin, stop - token.begin)) +
                              "': write a coefficient and an item with '*' between them, e.g. '2 * a'");
      }
      token.kind = Kind::Number;
      const auto [end, status] = std::from_chars(text.data() + token.begin, text.data() + at, token.number);
      if (status != std::errc() || end != text.data() + at || !std::isfinite(token.number)) {
        fail(token.begin, "number '" + std::string(text.substr(token.begin, at - token.begin)) + "' is out of range");
      }
    } else {
      ++at;
      switch (c) {
        case '+': token.kind = Kind::Plus; break;
        case '-': token.kind = Kind::Minus; break;
        case '*': token.kind = Kind::Star; break;
        case '/': token.kind = Kind::Slash; break;
        case '(': token.kind = Kind::Open; break;
        case '[': token.kind = Kind::OpenBracket; break;
        case ']': token.kind = Kind::CloseBracket; break;
        case '"':
        case '\'': {
          // A quoted category name: its bytes up to the same quote.
          const std::size_t close = text.find(c, at);
          if (close == std::string_view::npos) {
            fail(token.begin, "the quoted category name opened here is not closed; write x[\"name\"] or x['name']");
          }
          at = close + 1;
          token.kind = Kind::Quoted;
          break;
        }
        case ')': token.kind = Kind::Close; break;
        case ';':
        case ',': token.kind = Kind::Separator; break;
        case '&':
          token.kind = Kind::Separator;
          if (at < text.size() && text[at] == '&') ++at;  // "&&" reads as "&"
          break;
        case '<':
        case '>':
          token.kind = c == '<' ? Kind::Less : Kind::Greater;
          if (at < text.size() && text[at] == '=') ++at;  // "<=" and ">=" read as "<" and ">"
          break;
        case '=':
          token.kind = Kind::Equal;
          if (at < text.size() && text[at] == '=') ++at;
          break;
        default: {
          std::string shown = (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f)
                                  ? "a non-ASCII or control byte"
                                  : quoted(std::string_view(&c, 1));
          fail(token.begin, "unexpected character " + shown +
                                "; expected an item name, a number, + - * /, parentheses, < > or =, or ; & , between restrictions");
        }
      }
    }
    token.end = at;
    tokens.push_back(token);
  }
  tokens.push_back(Token{Kind::End, text.size(), text.size(), 0.0});
  return tokens;
}

// The deepest nesting of parentheses a hypothesis may use. The parser descends once per
// level; the limit keeps its stack small whatever the text (signs before a factor are
// read in a loop and do not nest).
constexpr std::size_t kMaxNesting = 200;

// The most coefficients (restrictions times items) a hypothesis may have: 2^27, 1 GiB.
// Every sweep of its last stage reads them all, for every item drawn.
constexpr std::size_t kMaxCoefficients = std::size_t{1} << 27;

// A linear expression in the items: coefficients . pi + constant, kept sparse (the items
// written in it, by index), so that its size follows the text, not the item count, and
// adding a short expression to a long one costs the short one's length. Every item not
// listed has the coefficient 0 (zeros in the restrictions are written as +0, whatever
// their sign would be here).
struct Linear {
  std::map<std::size_t, double> terms;
  double constant = 0.0;
  bool has_items = false;  // an item name occurs in it (even if its coefficients cancel)
  // Written as one item's name alone (with or without a category): the item and the
  // category (0-based); cleared by any sign, operator or parentheses around it.
  std::optional<std::pair<std::size_t, std::size_t>> reference;
  std::size_t begin = 0;   // the text it was written as
  std::size_t end = 0;

  void scale(double factor) {
    for (auto& term : terms) term.second *= factor;
    constant *= factor;
  }
  void divide(double divisor) {
    for (auto& term : terms) term.second /= divisor;
    constant /= divisor;
  }
  void negate() {
    for (auto& term : terms) term.second = -term.second;
    constant = -constant;
  }
  // this += factor * other, item by item. Returns whether every value it changed is finite.
  bool add(double factor, const Linear& other) {
    bool finite = true;
    for (const auto& [j, coefficient] : other.terms) {
      const auto [at, inserted] = terms.try_emplace(j, 0.0);
      at->second += factor * coefficient;
      finite = finite && std::isfinite(at->second);
    }
    constant += factor * other.constant;
    return finite && std::isfinite(constant);
  }
};

constexpr const char* kNotFinite = "a coefficient or constant here is too large to be a finite number";

class Parser {
 public:
  Parser(std::string_view text, const std::vector<NamedItem>& items, std::size_t parameters)
      : text_(text), items_(items), parameters_(parameters), tokens_(scan(text)) {
    index_.reserve(items.size());
    for (std::size_t j = 0; j < items.size(); ++j) index_.emplace(items[j].name, j);
  }

  std::vector<Restriction> hypothesis(std::vector<Equality>& equalities) {
    std::vector<Restriction> restrictions;
    if (peek().kind == Kind::End) fail(0, "the hypothesis is empty; expected restrictions such as 'a > b; c > 0.5'");
    while (true) {
      chain(restrictions, equalities);
      if (peek().kind == Kind::Separator) {
        next();
        if (peek().kind == Kind::End) break;  // one separator may end the hypothesis
        continue;
      }
      if (peek().kind == Kind::End) break;
      fail(peek().begin, "expected an operator (+ - * /), a comparison (<, > or =), a separator (; & ,) or the end of the "
                         "hypothesis, but found " + describe(peek()));
    }
    return restrictions;
  }

 private:
  const Token& peek() const { return tokens_[position_]; }
  const Token& next() { return tokens_[position_++]; }

  std::string describe(const Token& token) const {
    if (token.kind == Kind::End) return "the end of the hypothesis";
    return quoted(text_.substr(token.begin, token.end - token.begin));
  }

  std::string source(const Linear& value) const {
    return std::string(text_.substr(value.begin, value.end - value.begin));
  }

  // A side written as a single name or number needs no parentheses in a suggestion.
  std::string operand(const Linear& value) const {
    const std::string written = source(value);
    for (char c : written) {
      if (!is_name_char(c) && c != '.') return "(" + written + ")";
    }
    return written;
  }

  void chain(std::vector<Restriction>& restrictions, std::vector<Equality>& equalities) {
    Linear left = sum();
    if (!is_comparison(peek().kind)) {
      fail(peek().begin, "expected a comparison (<, > or =) after '" + source(left) + "', but found " +
                             describe(peek()) + "; a restriction compares two sides, e.g. 'a > b'");
    }
    while (is_comparison(peek().kind)) {
      const Token sign = next();
      Linear right = sum();
      if (sign.kind == Kind::Equal) {
        equalities.push_back(equality(left, right));
        left = std::move(right);
        continue;
      }
      const bool greater = sign.kind == Kind::Greater;
      if ((restrictions.size() + 1) * std::max<std::size_t>(parameters_, 1) > kMaxCoefficients) {
        fail(left.begin, "the hypothesis has more than " + std::to_string(restrictions.size()) +
                             " restrictions over " + std::to_string(parameters_) + " items, more than " +
                             std::to_string(kMaxCoefficients) + " coefficients in all");
      }
      restrictions.push_back(greater ? restriction(left, right) : restriction(right, left));
      left = std::move(right);
    }
  }

  static bool is_comparison(Kind kind) { return kind == Kind::Less || kind == Kind::Greater || kind == Kind::Equal; }

  // A side written as one category of an item of more than two categories.
  std::optional<Equality::Category> lone_category(const Linear& side) const {
    if (!side.reference || items_[side.reference->first].categories.size() <= 2) return std::nullopt;
    return Equality::Category{side.reference->first, side.reference->second};
  }

  // The parameter a side written as one item name stands for (an item of two
  // categories: its first category), and whether the side is its complement instead
  // (its second category, x[2], or 1 - x written out); a category of a larger item is
  // lone_category's.
  std::optional<std::pair<std::size_t, bool>> lone_item(const Linear& side) const {
    if (side.reference) {
      const auto [j, category] = *side.reference;
      const NamedItem& item = items_[j];
      if (item.categories.size() > 2) return std::nullopt;
      return std::pair{item.first, category != 0};
    }
    // 1 - x: the constant 1 and the coefficient -1 on one parameter of an item of two.
    if (!side.has_items || side.constant != 1.0) return std::nullopt;
    std::optional<std::size_t> parameter;
    for (const auto& [p, coefficient] : side.terms) {
      if (coefficient == 0.0) continue;
      if (coefficient != -1.0 || parameter) return std::nullopt;
      parameter = p;
    }
    if (!parameter) return std::nullopt;
    for (const NamedItem& item : items_) {
      if (item.first == *parameter && item.categories.size() == 2) return std::pair{*parameter, true};
    }
    return std::nullopt;
  }

  // A side written as one number (a sign allowed).
  bool lone_number(const Linear& side) const {
    if (side.has_items) return false;
    std::size_t at = side.begin;
    while (at < side.end && (text_[at] == '-' || text_[at] == '+' || text_[at] == ' ' || text_[at] == '\t')) ++at;
    for (; at < side.end; ++at) {
      const char c = text_[at];
      if (!is_digit(c) && c != '.' && c != 'e' && c != 'E' && c != '+' && c != '-') return false;
    }
    return true;
  }

  Equality equality(const Linear& left, const Linear& right) const {
    Equality result;
    result.offset = left.begin;
    result.text = std::string(text_.substr(left.begin, right.end - left.begin));
    const std::optional<std::pair<std::size_t, bool>> left_item = lone_item(left);
    const std::optional<std::pair<std::size_t, bool>> right_item = lone_item(right);
    const std::optional<Equality::Category> left_category = lone_category(left);
    const std::optional<Equality::Category> right_category = lone_category(right);
    const char* accepted = "'=' ties single items or an item and a number in [0, 1] (e.g. 'a = b', 'a = b = c', "
                           "'a = 0.5'); ";
    for (const Linear* side : {&left, &right}) {
      if (lone_item(*side) || lone_category(*side) || lone_number(*side)) continue;
      fail(side->begin, accepted + ("'" + source(*side) + "' is neither; write sums and multiples with < or >"));
    }
    const bool left_named = left_item || left_category;
    const bool right_named = right_item || right_category;
    if (!left_named && !right_named) {
      fail(left.begin, accepted + ("'" + result.text + "' involves no item"));
    }
    const Linear& point = left_named ? right : left;
    // The first side naming an item is the equality's own; the other, `other`.
    if (left_named) {
      result.category = left_category;
      if (left_item) result.item = left_item->first, result.complement = left_item->second;
    } else {
      result.category = right_category;
      if (right_item) result.item = right_item->first, result.complement = right_item->second;
    }
    if (left_named && right_named) {
      result.other_category = right_category;
      if (right_item) result.other = right_item->first, result.other_complement = right_item->second;
      if (right_category) result.other = right_category->item;
    } else {
      result.value = point.constant;
      if (!(result.value >= 0.0 && result.value <= 1.0)) {
        fail(point.begin, "the point value '" + source(point) + "' lies outside [0, 1]; a proportion equals a "
                          "number from 0 to 1");
      }
      result.value += 0.0;  // -0 as +0
    }
    return result;
  }

  // larger > smaller, as coefficients . pi > constant.
  Restriction restriction(const Linear& larger, const Linear& smaller) const {
    Restriction result;
    Linear difference = larger;
    const bool finite = difference.add(-1.0, smaller);
    // a + (-1 * b) is a - b exactly.
    result.coefficients.assign(parameters_, 0.0);
    bool any = false;
    for (const auto& [j, coefficient] : difference.terms) {
      result.coefficients[j] = coefficient == 0.0 ? 0.0 : coefficient;
      any = any || coefficient != 0.0;
    }
    result.constant = smaller.constant - larger.constant;
    const std::size_t begin = std::min(larger.begin, smaller.begin);
    const std::size_t end = std::max(larger.end, smaller.end);
    result.text = std::string(text_.substr(begin, end - begin));
    if (!finite || !std::isfinite(result.constant)) fail(begin, kNotFinite);
    if (!any) {
      fail(begin, "'" + result.text + "' involves no item (its coefficients are all 0); every restriction must "
                  "involve at least one item");
    }
    return result;
  }

  Linear constant_value(double value, std::size_t begin, std::size_t end) const {
    Linear result;
    result.constant = value;
    result.begin = begin;
    result.end = end;
    return result;
  }

  static void check_finite(const Linear& value, std::size_t offset) {
    bool finite = std::isfinite(value.constant);
    for (const auto& term : value.terms) finite = finite && std::isfinite(term.second);
    if (!finite) fail(offset, kNotFinite);
  }

  Linear sum() {
    Linear value = product();
    while (peek().kind == Kind::Plus || peek().kind == Kind::Minus) {
      const Token sign = next();
      const Linear right = product();
      const double factor = sign.kind == Kind::Plus ? 1.0 : -1.0;
      const bool finite = value.add(factor, right);
      value.reference.reset();
      value.has_items = value.has_items || right.has_items;
      value.end = right.end;
      if (!finite) fail(sign.begin, kNotFinite);
    }
    return value;
  }

  Linear product() {
    Linear value = factor();
    while (peek().kind == Kind::Star || peek().kind == Kind::Slash) {
      const Token sign = next();
      const Linear right = factor();
      value.reference.reset();
      double scale;
      if (sign.kind == Kind::Star) {
        if (value.has_items && right.has_items) {
          fail(sign.begin, "'*' multiplies two expressions that both contain items, which is not linear; multiply "
                           "items by numbers only");
        }
        if (right.has_items) {
          scale = value.constant;
          value.terms = right.terms;
          value.constant = right.constant;
          value.has_items = true;
        } else {
          scale = right.constant;
        }
      } else {
        if (right.has_items) {
          fail(sign.begin, "'/' divides by an expression that contains items, which is not linear; divide by "
                           "numbers only");
        }
        if (right.constant == 0.0) fail(sign.begin, "division by zero");
        value.divide(right.constant);
        scale = 1.0;
      }
      value.scale(scale);
      value.end = right.end;
      check_finite(value, sign.begin);
    }
    return value;
  }

  Linear factor() {
    // Signs before a factor, read in a loop: an odd number of '-' negates it.
    const std::size_t first = peek().begin;
    bool negative = false;
    while (peek().kind == Kind::Plus || peek().kind == Kind::Minus) negative = (next().kind == Kind::Minus) != negative;
    Linear value = unsigned_factor();
    if (first != value.begin) value.reference.reset();  // a sign stands before it
    if (negative) value.negate();
    value.begin = first;
    return value;
  }

  // Item j named by `token`, with its category in brackets when one follows: category
  // c < K as its parameter, the last as 1 minus the item's parameters.
  Linear parameter(std::size_t j, const Token& token) {
    const NamedItem& item = items_[j];
    const std::size_t k = item.categories.size();
    std::size_t category = 0;
    std::size_t end = token.end;
    if (peek().kind == Kind::OpenBracket) {
      next();
      const Token inside = next();
      const std::string_view written = text_.substr(inside.begin, inside.end - inside.begin);
      std::string name;
      if (inside.kind == Kind::Number) {
        const double number = inside.number;
        if (!(number >= 1.0 && number <= static_cast<double>(k)) || number != std::floor(number)) {
          fail(inside.begin, "item '" + item.name + "' has categories 1 to " + std::to_string(k) + "; " +
                                 quoted(written) + " is none of them");
        }
        category = static_cast<std::size_t>(number) - 1;
      } else if (inside.kind == Kind::Name || inside.kind == Kind::Quoted) {
        name = inside.kind == Kind::Name ? std::string(written) : std::string(written.substr(1, written.size() - 2));
        const auto at = std::find(item.categories.begin(), item.categories.end(), name);
        if (at == item.categories.end()) {
          std::string known;
          for (std::size_t c = 0; c < k && c < 10; ++c) known += (c == 0 ? "" : ", ") + item.categories[c];
          if (k > 10) known += " and " + std::to_string(k - 10) + " more";
          fail(inside.begin, "item '" + item.name + "' has no category " + quoted(name) + "; its categories are " +
                                 known + " (or their numbers 1 to " + std::to_string(k) + ")");
        }
        category = static_cast<std::size_t>(at - item.categories.begin());
      } else {
        fail(inside.begin, "expected a category of item '" + item.name + "' (its number, its name, or its name "
                           "quoted) after '[', but found " + describe(inside));
      }
      if (peek().kind != Kind::CloseBracket) {
        fail(peek().begin, "expected ']' to close the category of item '" + item.name + "', but found " +
                               describe(peek()));
      }
      end = next().end;
    } else if (!item.bare) {
      std::string example = item.name + "[1]";
      if (item.categories[0] != "1") {
        const bool plain = std::all_of(item.categories[0].begin(), item.categories[0].end(), is_name_char) &&
                           is_name_start(item.categories[0][0]);
        example += " or " + item.name + "[" + (plain ? item.categories[0] : "\"" + item.categories[0] + "\"") + "]";
      }
      fail(token.begin, "item '" + item.name + "' has " + std::to_string(k) + " categories; name the one meant, e.g. " +
                            example);
    }
    Linear value = constant_value(0.0, token.begin, end);
    if (category + 1 < k) {
      value.terms.emplace(item.first + category, 1.0);
    } else {
      value.constant = 1.0;
      for (std::size_t c = 0; c + 1 < k; ++c) value.terms.emplace(item.first + c, -1.0);
    }
    value.has_items = true;
    value.reference = std::pair{j, category};
    return value;
  }

  Linear unsigned_factor() {
    const Token token = next();
    switch (token.kind) {
      case Kind::Number:
        return constant_value(token.number, token.begin, token.end);
      case Kind::Name: {
        const std::string_view name = text_.substr(token.begin, token.end - token.begin);
        if (const auto found = index_.find(name); found != index_.end()) return parameter(found->second, token);
        std::string known;
        for (std::size_t j = 0; j < items_.size(); ++j) known += (j == 0 ? "" : ", ") + items_[j].name;
        fail(token.begin, "unknown item '" + std::string(name) + "'; the items are " + known);
      }
      case Kind::Open: {
        if (depth_ == kMaxNesting) {
          fail(token.begin, "parentheses nest more than " + std::to_string(kMaxNesting) +
                                " deep here; write the expression with fewer levels");
        }
        ++depth_;
        Linear value = sum();
        --depth_;
        if (peek().kind != Kind::Close) {
          fail(peek().begin, "expected ')' to close the '(' opened before, but found " + describe(peek()));
        }
        value.begin = token.begin;
        value.end = next().end;
        value.reference.reset();
        return value;
      }
      default:
        fail(token.begin, "expected an item name, a number or '(', but found " + describe(token));
    }
  }

  std::string_view text_;
  const std::vector<NamedItem>& items_;
  std::size_t parameters_;
  std::vector<Token> tokens_;
  std::unordered_map<std::string_view, std::size_t> index_;  // item name -> index
  std::size_t position_ = 0;
  std::size_t depth_ = 0;  // parentheses open around the current factor
};

}  // namespace

ParsedHypothesis parse_hypothesis(const std::string& text, const std::vector<std::string>& item_names) {
  std::vector<NamedItem> items;
  items.reserve(item_names.size());
  for (std::size_t j = 0; j < item_names.size(); ++j) items.push_back({item_names[j], j, {"1", "2"}, true});
  return parse_hypothesis(text, items, item_names.size());
}

ParsedHypothesis parse_hypothesis(const std::string& text, const std::vector<NamedItem>& items, std::size_t parameters) {
  ParsedHypothesis result;
  try {
    Parser parser(text, items, parameters);
    result.restrictions = parser.hypothesis(result.equalities);
    result.ok = true;
  } catch (const Failure& failure) {
    result.error = failure.error;
    result.restrictions.clear();
    result.equalities.clear();
  }
  return result;
}

}  // namespace propbf::evaluate
