// Reading the problem file (TOML). The only file that includes toml++.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <toml++/toml.h>
#include <tuple>

#include "input/csv_data.hpp"
#include "input/problem_file.hpp"
#include "problem/categories.hpp"
#include "input/polytope_file.hpp"

namespace propbf::evaluate {
namespace {

SourcePosition position_of(const toml::source_region& region) {
  return {static_cast<int>(region.begin.line), static_cast<int>(region.begin.column)};
}

class Reader {
 public:
  Reader(std::string file_name, std::string content, bool plan = false)
      : file_name_(std::move(file_name)), content_(std::move(content)), plan_(plan) {}

  [[noreturn]] void fail(SourcePosition at, const std::string& message) const {
    throw InputError(describe_position(file_name_, at) + ": " + message);
  }
  [[noreturn]] void fail(const toml::node& node, const std::string& message) const {
    fail(position_of(node.source()), message);
  }

  CountsProblem read() {
    toml::table root;
    try {
      root = toml::parse(content_, file_name_);
    } catch (const toml::parse_error& error) {
      fail(position_of(error.source()), "malformed TOML: " + std::string(error.description()));
    }
    CountsProblem problem;
    problem.file_name = file_name_;
    for (auto&& [key, node] : root) {
      if (plan_ && key != "items" && key != "hypotheses" && key != "truth" && key != "design") {
        fail(position_of(key.source()), "unknown table '" + std::string(key.str()) +
                                            "'; a plan has [items], [hypotheses], [truth] and [design]");
      }
      if (!plan_ && key != "items" && key != "hypotheses" && key != "sampling") {
        fail(position_of(key.source()), "unknown table '" + std::string(key.str()) +
                                            "'; expected [items], [hypotheses] and optionally [sampling]");
      }
      if (!node.is_table()) fail(node, "'" + std::string(key.str()) + "' must be a table, [" + std::string(key.str()) + "]");
    }
    const toml::table* items = root["items"].as_table();
    if (items == nullptr) fail(SourcePosition{}, "no [items] table; it lists the item names, successes and trials");
    read_items(*items, problem);
    const toml::table* hypotheses = root["hypotheses"].as_table();
    if (hypotheses == nullptr) fail(SourcePosition{}, "no [hypotheses] table; it names each hypothesis, e.g. H1 = \"a > b\"");
    read_hypotheses(*hypotheses, problem);
    if (const toml::table* sampling = root["sampling"].as_table()) read_sampling(*sampling, problem.settings);
    return problem;
  }

 private:
  static void check_keys(const toml::table& table, const std::set<std::string>& allowed, const std::string& where,
                         const Reader& reader) {
    for (auto&& [key, node] : table) {
      if (allowed.count(std::string(key.str())) == 0) {
        std::string list;
        for (const auto& name : allowed) list += (list.empty() ? "" : ", ") + name;
        reader.fail(position_of(key.source()),
                    "unknown key '" + std::string(key.str()) + "' in " + where + "; expected " + list);
      }
    }
  }

  void read_items(const toml::table& items, CountsProblem& problem) const {
    if (plan_) {
      read_plan_items(items, problem);
      return;
    }
    check_keys(items, {"data", "names", "successes", "trials", "prior_a", "prior_b", "counts", "categories", "prior", "tied_prior"},
               "[items]", *this);
    read_tied_prior(items, problem);
    // Where each item's counts stand, and in which file, for the shape check below.
    std::string count_file = file_name_;
    std::vector<SourcePosition> count_places;
    if (const toml::node* counts = items.get("counts"); counts != nullptr && items.get("data") == nullptr) {
      read_categorical(items, *counts, problem);
      return;
    }
    if (const toml::node* data = items.get("data")) {
      for (const char* key : {"names", "successes", "trials", "counts", "categories"}) {
        if (const toml::node* other = items.get(key)) {
          fail(*other, "'" + std::string(key) +
                           "' cannot be given with 'data': the items' names and counts come from the CSV file");
        }
      }
      const auto* path = data->as_string();
      if (path == nullptr || path->get().empty()) {
        fail(*data, "'data' must name a CSV file (relative to this file's folder), e.g. data = \"counts.csv\"");
      }
      if (path->get().find('\0') != std::string::npos) {
        fail(*data, "'data' holds a NUL character (\\u0000), which no file name can hold");
      }
      std::filesystem::path csv = path->get();
      if (csv.is_relative()) csv = std::filesystem::path(file_name_).parent_path() / csv;
      count_file = csv.string();
      CsvData read = read_csv_data(count_file);
      problem.items = std::move(read.items);
      count_places = std::move(read.places);
      if (!problem.items.empty() && is_categorical(problem.items.front())) {
        categorical_priors(items, problem, count_file, count_places);
        return;
      }
      if (const toml::node* prior = items.get("prior")) {
        fail(*prior, "'prior' gives Dirichlet priors to items of categories; these items have successes and "
                     "trials: give 'prior_a' and 'prior_b'");
      }
    } else {
      if (const toml::node* other = items.get("prior")) {
        fail(*other, "'prior' gives Dirichlet priors to items with 'counts'; items with successes and trials take "
                     "'prior_a' and 'prior_b'");
      }
      if (const toml::node* other = items.get("categories")) {
        fail(*other, "'categories' names the categories of items with 'counts'; give 'counts' too");
      }
      read_counts(items, problem, count_places);
    }
    read_beta_priors(items, problem, count_file, count_places);
  }

  // [items] tied_prior, when given.
  void read_tied_prior(const toml::table& items, CountsProblem& problem) const {
    if (const toml::node* node = items.get("tied_prior")) {
      const auto* name = node->as_string();
      const std::optional<TiedPrior> prior = name == nullptr ? std::nullopt : tied_prior_named(name->get());
      if (!prior) {
        fail(*node, "'tied_prior' must be \"conditional\" (tied items get their priors conditioned on the equality) "
                    "or \"common\" (the prior they share)");
      }
      problem.tied_prior = *prior;
    }
  }

  // The items' beta priors (prior_a, prior_b: one number for all or one per item) and the
  // check of their shapes; a count too large is refused at its place in `count_file`.
  void read_beta_priors(const toml::table& items, CountsProblem& problem, const std::string& count_file,
                        const std::vector<SourcePosition>& count_places) const {
    const std::size_t count = problem.items.size();
    const auto prior_a = priors(items, "prior_a", count);
    const auto prior_b = priors(items, "prior_b", count);
    for (std::size_t j = 0; j < count; ++j) {
      problem.items[j].prior_a = prior_a[j].first;
      problem.items[j].prior_b = prior_b[j].first;
    }
    check_shapes(problem, [&](std::size_t j, ShapeFault fault, const std::string& message) {
      if (fault == ShapeFault::Count) throw InputError(describe_position(count_file, count_places[j]) + ": " + message);
      fail(fault == ShapeFault::PriorA ? prior_a[j].second : prior_b[j].second, message);
    });
  }

  // A plan's items: names and priors, no counts (the design gives the trials, the
  // truth the proportions the successes are drawn from).
  void read_plan_items(const toml::table& items, CountsProblem& problem) const {
    check_keys(items, {"names", "prior_a", "prior_b", "tied_prior", "categories", "prior"}, "[items] of a plan", *this);
    read_tied_prior(items, problem);
    read_names(items, problem);
    if (const toml::node* categories = items.get("categories")) {
      read_plan_categories(items, *categories, problem);
      return;
    }
    if (const toml::node* prior = items.get("prior")) {
      fail(*prior, "'prior' gives Dirichlet priors to items of categories; give 'categories' too (one list of names, "
                   "or the number of categories, per item), or 'prior_a' and 'prior_b' for items of two outcomes");
    }
    // No counts: every posterior shape is its prior's, so no count is refused.
    read_beta_priors(items, problem, file_name_, std::vector<SourcePosition>(problem.items.size()));
  }

  // An item's category names (`list` holds one per category): strings, none refused by
  // the language, none twice.
  void read_category_names(const toml::array& list, Item& item) const {
    std::set<std::string> known;
    for (std::size_t c = 0; c < list.size(); ++c) {
      const auto* name = list.get(c)->as_string();
      if (name == nullptr) fail(*list.get(c), "a category name must be a string, e.g. \"a>b\"");
      if (std::string refusal = category_name_refusal(name->get(), c); !refusal.empty()) fail(*list.get(c), refusal);
      if (!known.insert(name->get()).second) {
        fail(*list.get(c), "category name \"" + visible_text(name->get()) + "\" is given twice in item '" +
                               item.name + "'");
      }
      item.categories[c] = name->get();
    }
  }

  // A plan's items of categories: 'categories' holds per item its category names (an
  // array) or their number K (categories "1" ... "K"); the counts are the data sets'
  // (all 0 here, so the posterior shapes are the prior's), 'prior' as for counts.
  void read_plan_categories(const toml::table& items, const toml::node& node, CountsProblem& problem) const {
    const std::size_t count = problem.items.size();
    const toml::array* lists = node.as_array();
    if (lists == nullptr || lists->size() != count) {
      fail(node, "'categories' must be an array with one element per item (" + std::to_string(count) +
                     "): a list of category names, or the number of categories, e.g. [[\"yes\", \"no\", \"unsure\"], 3]");
    }
    for (std::size_t j = 0; j < count; ++j) {
      Item& item = problem.items[j];
      const toml::node& element = *lists->get(j);
      const toml::array* list = element.as_array();
      std::int64_t k = 0;
      if (list != nullptr) {
        k = static_cast<std::int64_t>(list->size());
      } else if (const auto* number = element.as_integer()) {
        k = number->get();
      } else {
        fail(element, "the categories of item '" + item.name + "' are a list of names or their number, e.g. 3");
      }
      if (k < 2) {
        fail(element, "item '" + item.name + "' has " + std::to_string(k) + (k == 1 ? " category" : " categories") +
                          "; an item needs at least 2");
      }
      if (k > static_cast<std::int64_t>(kMaxCategories)) {
        fail(element, "item '" + item.name + "' has more than " + std::to_string(kMaxCategories) + " categories");
      }
      item.counts.assign(static_cast<std::size_t>(k), 0);
      for (std::int64_t c = 0; c < k; ++c) item.categories.push_back(std::to_string(c + 1));
      if (list == nullptr) continue;
      read_category_names(*list, item);
    }
    categorical_priors(items, problem, file_name_, std::vector<SourcePosition>(count));
  }

  void read_names(const toml::table& items, CountsProblem& problem) const {
    const toml::node* names_node = items.get("names");
    if (names_node == nullptr) fail(position_of(items.source()), "[items] has no 'names' array");
    const toml::array* names = names_node->as_array();
    if (names == nullptr || names->empty()) fail(*names_node, "'names' must be a non-empty array of item names");
    std::set<std::string> seen;
    for (const toml::node& element : *names) {
      const auto* name = element.as_string();
      if (name == nullptr) fail(element, "every item name must be a string, e.g. \"a\"");
      const std::string& text = name->get();
      if (!is_item_name(text)) fail(element, item_name_refusal(text));
      if (!seen.insert(text).second) fail(element, "item name \"" + text + "\" is given twice");
      Item item;
      item.name = text;
      problem.items.push_back(item);
    }
  }

  // [items] with counts = [[...], ...]: categorical items (categories.hpp).
  void read_categorical(const toml::table& items, const toml::node& counts_node, CountsProblem& problem) const {
    for (const char* key : {"successes", "trials", "prior_a", "prior_b"}) {
      if (const toml::node* other = items.get(key)) {
        fail(*other, "'" + std::string(key) + "' cannot be given with 'counts': items with counts per category take "
                                              "'prior' (Dirichlet concentrations)");
      }
    }
    read_names(items, problem);
    const std::size_t count = problem.items.size();
    const toml::array* lists = counts_node.as_array();
    if (lists == nullptr) fail(counts_node, "'counts' must be an array with one array of counts per item, e.g. [[3, 5, 2]]");
    if (lists->size() != count) {
      fail(counts_node, "'counts' has " + std::to_string(lists->size()) + " lists but there are " +
                            std::to_string(count) + " items");
    }
    std::vector<SourcePosition> places;
    for (std::size_t j = 0; j < count; ++j) {
      Item& item = problem.items[j];
      const toml::node& node = *lists->get(j);
      const toml::array* list = node.as_array();
      if (list == nullptr) fail(node, "'counts' of item '" + item.name + "' must be an array of counts, one per category");
      if (list->size() < 2) {
        fail(node, "item '" + item.name + "' has " + std::to_string(list->size()) +
                       (list->size() == 1 ? " category" : " categories") + "; an item needs at least 2");
      }
      if (list->size() > kMaxCategories) {
        fail(node, "item '" + item.name + "' has more than " + std::to_string(kMaxCategories) + " categories");
      }
      for (const toml::node& element : *list) {
        const auto* value = element.as_integer();
        if (value == nullptr) fail(element, "'counts' must hold whole numbers, e.g. 7");
        if (value->get() < 0) fail(element, "a count of item '" + item.name + "' is negative");
        item.counts.push_back(value->get());
      }
      for (std::size_t c = 0; c < item.counts.size(); ++c) item.categories.push_back(std::to_string(c + 1));
      places.push_back(position_of(node.source()));
    }
    if (const toml::node* node = items.get("categories")) {
      const toml::array* names_lists = node->as_array();
      if (names_lists == nullptr || names_lists->size() != count) {
        fail(*node, "'categories' must be an array with one array of category names per item (" +
                        std::to_string(count) + ")");
      }
      for (std::size_t j = 0; j < count; ++j) {
        Item& item = problem.items[j];
        const toml::node& element = *names_lists->get(j);
        const toml::array* list = element.as_array();
        if (list == nullptr || list->size() != item.counts.size()) {
          fail(element, "the categories of item '" + item.name + "' must be an array of " +
                            std::to_string(item.counts.size()) + " names, one per count");
        }
        read_category_names(*list, item);
      }
    }
    categorical_priors(items, problem, file_name_, places);
  }

  // The Dirichlet concentrations of categorical items: 'prior' is one number for all, or
  // one element per item, a number (every category) or an array (one per category).
  void categorical_priors(const toml::table& items, CountsProblem& problem, const std::string& count_file,
                          const std::vector<SourcePosition>& count_places) const {
    for (const char* key : {"prior_a", "prior_b"}) {
      if (const toml::node* other = items.get(key)) {
        fail(*other, "'" + std::string(key) + "' is for items with successes and trials; items of categories take "
                                              "'prior' (Dirichlet concentrations)");
      }
    }
    const std::size_t count = problem.items.size();
    std::vector<SourcePosition> prior_places(count);
    const toml::node* node = items.get("prior");
    const toml::array* array = node != nullptr ? node->as_array() : nullptr;
    if (array != nullptr && array->size() != count) {
      fail(*node, "'prior' has " + std::to_string(array->size()) + " values but there are " + std::to_string(count) +
                      " items; give one number for all, or one number or one list per item");
    }
    for (std::size_t j = 0; j < count; ++j) {
      Item& item = problem.items[j];
      const std::size_t k = item.counts.size();
      item.concentration.assign(k, 1.0);
      if (node == nullptr) continue;
      const toml::node& element = array != nullptr ? *array->get(j) : *node;
      prior_places[j] = position_of(element.source());
      if (const toml::array* list = element.as_array()) {
        if (list->size() != k) {
          fail(element, "the prior of item '" + item.name + "' has " + std::to_string(list->size()) +
                            " values but it has " + std::to_string(k) + " categories");
        }
        for (std::size_t c = 0; c < k; ++c) item.concentration[c] = prior_value(*list->get(c), "prior");
      } else {
        item.concentration.assign(k, prior_value(element, "prior"));
      }
    }
    check_shapes(problem, [&](std::size_t j, ShapeFault fault, const std::string& message) {
      if (fault == ShapeFault::Count) throw InputError(describe_position(count_file, count_places[j]) + ": " + message);
      fail(prior_places[j], message);
    });
  }

  void read_counts(const toml::table& items, CountsProblem& problem, std::vector<SourcePosition>& places) const {
    read_names(items, problem);
    const std::size_t count = problem.items.size();
    const auto successes = integers(items, "successes", count);
    const auto trials = integers(items, "trials", count);
    for (std::size_t j = 0; j < count; ++j) {
      problem.items[j].successes = successes[j].first;
      problem.items[j].trials = trials[j].first;
      if (trials[j].first < 0) fail(trials[j].second, "trials of item '" + problem.items[j].name + "' is negative");
      if (successes[j].first < 0) fail(successes[j].second, "successes of item '" + problem.items[j].name + "' is negative");
      if (successes[j].first > trials[j].first) {
        fail(successes[j].second, "item '" + problem.items[j].name + "' has more successes (" +
                                      std::to_string(successes[j].first) + ") than trials (" +
                                      std::to_string(trials[j].first) + ")");
      }
      places.push_back(trials[j].second);
    }
  }

  // One integer per item, with where each one stands.
  std::vector<std::pair<std::int64_t, SourcePosition>> integers(const toml::table& items, const std::string& key,
                                                                std::size_t count) const {
    const toml::node* node = items.get(key);
    if (node == nullptr) fail(position_of(items.source()), "[items] has no '" + key + "' array (one count per item)");
    const toml::array* array = node->as_array();
    if (array == nullptr) fail(*node, "'" + key + "' must be an array of whole numbers, one per item");
    if (array->size() != count) {
      fail(*node, "'" + key + "' has " + std::to_string(array->size()) + " values but there are " +
                      std::to_string(count) + " items");
    }
    std::vector<std::pair<std::int64_t, SourcePosition>> values;
    for (const toml::node& element : *array) {
      const auto* value = element.as_integer();
      if (value == nullptr) fail(element, "'" + key + "' must hold whole numbers (counts), e.g. 7");
      values.emplace_back(value->get(), position_of(element.source()));
    }
    return values;
  }

  double prior_value(const toml::node& node, const std::string& key) const {
    double value;
    if (const auto* integer = node.as_integer()) {
      value = static_cast<double>(integer->get());
    } else if (const auto* real = node.as_floating_point()) {
      value = real->get();
    } else {
      fail(node, "'" + key + "' must be a positive number or an array of them, one per item");
    }
    if (!(value > 0.0) || !std::isfinite(value)) fail(node, "'" + key + "' must be positive and finite");
    return value;
  }

  std::vector<std::pair<double, SourcePosition>> priors(const toml::table& items, const std::string& key,
                                                       std::size_t count) const {
    const toml::node* node = items.get(key);
    if (node == nullptr) return std::vector<std::pair<double, SourcePosition>>(count, {1.0, SourcePosition{}});
    const toml::array* array = node->as_array();
    if (array == nullptr) {
      return std::vector<std::pair<double, SourcePosition>>(count, {prior_value(*node, key), position_of(node->source())});
    }
    if (array->size() != count) {
      fail(*node, "'" + key + "' has " + std::to_string(array->size()) + " values but there are " +
                      std::to_string(count) + " items; give one number for all or one per item");
    }
    std::vector<std::pair<double, SourcePosition>> values;
    for (const toml::node& element : *array) values.emplace_back(prior_value(element, key), position_of(element.source()));
    return values;
  }

  void read_hypotheses(const toml::table& table, CountsProblem& problem) const {
    std::vector<std::pair<const toml::key*, const toml::node*>> entries;
    for (auto&& [key, node] : table) entries.emplace_back(&key, &node);
    if (entries.empty()) fail(position_of(table.source()), "[hypotheses] is empty; name at least one, e.g. H1 = \"a > b\"");
    // The table keeps its keys sorted; the hypotheses are reported in file order.
    std::sort(entries.begin(), entries.end(), [](const auto& x, const auto& y) {
      const auto& p = x.first->source().begin;
      const auto& q = y.first->source().begin;
      return p.line != q.line ? p.line < q.line : p.column < q.column;
    });
    for (const auto& [key, node] : entries) {
      if (const toml::table* polytope = node->as_table()) {
        problem.hypotheses.push_back(read_polytope_hypothesis(std::string(key->str()), *polytope, problem));
        continue;
      }
      const auto* text = node->as_string();
      if (text == nullptr) {
        fail(*node, "hypothesis '" + std::string(key->str()) +
                        "' must be a string, e.g. \"a > b\", or a table naming a matrix or vertex file");
      }
      HypothesisText hypothesis;
      hypothesis.name = std::string(key->str());
      hypothesis.text = text->get();
      hypothesis.positions = decoded_positions(position_of(node->source()), hypothesis.text);
      if (hypothesis.positions.empty()) {
        hypothesis.positions.assign(hypothesis.text.size() + 1, position_of(node->source()));
      }
      problem.hypotheses.push_back(std::move(hypothesis));
    }
  }

  // [hypotheses.NAME] with `matrix` (A θ <= b), `vertices` and `restrictions` (text in the
  // hypothesis language): the text's restrictions first, then the matrix's rows, then the
  // vertices' facets (src/polytope).
  HypothesisText read_polytope_hypothesis(const std::string& name, const toml::table& table,
                                          const CountsProblem& problem) const {
    check_keys(table, {"matrix", "vertices", "restrictions"}, "[hypotheses." + name + "]", *this);
    HypothesisText hypothesis;
    hypothesis.name = name;
    const SourcePosition at = position_of(table.source());
    if (const toml::node* text = table.get("restrictions")) {
      const auto* value = text->as_string();
      if (value == nullptr) fail(*text, "'restrictions' must be a string in the hypothesis language, e.g. \"a > b\"");
      hypothesis.text = value->get();
      hypothesis.positions = decoded_positions(position_of(text->source()), hypothesis.text);
      if (hypothesis.positions.empty()) hypothesis.positions.assign(hypothesis.text.size() + 1, position_of(text->source()));
    } else {
      hypothesis.positions.assign(1, at);
    }
    const ParameterNames names(problem.items);
    for (const char* key : {"matrix", "vertices"}) {
      const toml::node* node = table.get(key);
      if (node == nullptr) continue;
      const auto* path = node->as_string();
      if (path == nullptr || path->get().empty() || path->get().find('\0') != std::string::npos) {
        fail(*node, "'" + std::string(key) + "' must name a CSV file (relative to this file's folder), e.g. " + key +
                        " = \"" + (key[0] == 'm' ? "A.csv" : "V.csv") + "\"");
      }
      std::filesystem::path csv = path->get();
      if (csv.is_relative()) csv = std::filesystem::path(file_name_).parent_path() / csv;
      const PolytopeForm form = key[0] == 'm' ? PolytopeForm::Matrix : PolytopeForm::Vertices;
      PolytopeRestrictions read = read_polytope(csv.string(), names, form, names.coordinates());
      if (form == PolytopeForm::Vertices) hypothesis.facets = read.facets;
      hypothesis.polytope_source += (hypothesis.polytope_source.empty() ? "" : "; ") + std::string(key) + " \"" +
                                    path->get() + "\"";
      hypothesis.polytope.append(std::move(read.restrictions));
      hypothesis.polytope_equalities.insert(hypothesis.polytope_equalities.end(), read.equalities.begin(),
                                            read.equalities.end());
    }
    if (table.get("matrix") == nullptr && table.get("vertices") == nullptr) {
      fail(at, "[hypotheses." + name + "] names no 'matrix' or 'vertices' file; write a hypothesis in the language "
               "as " + name + " = \"a > b\"");
    }
    if (hypothesis.polytope.empty() && hypothesis.polytope_equalities.empty() && hypothesis.text.find_first_not_of(" \t\r\n") == std::string::npos) {
      fail(at, "hypothesis " + name + ": every row of its polytope holds for every proportion in [0, 1]; it "
               "restricts nothing");
    }
    return hypothesis;
  }

  void read_sampling(const toml::table& table, Settings& settings) const {
    check_keys(table, {"niter", "seed", "precision", "max_niter", "complexity_niter", "seed_per_problem"}, "[sampling]", *this);
    if (const toml::node* node = table.get("seed_per_problem")) {
      const auto* value = node->as_boolean();
      if (value == nullptr) fail(*node, "'seed_per_problem' must be true or false");
      settings.seed_per_problem = value->get();
    }
    if (const toml::node* node = table.get("niter")) {
      const auto* value = node->as_integer();
      if (value == nullptr || value->get() < 1 || value->get() > kMaxNiter) {
        fail(*node, "'niter' must be a whole number from 1 to " + std::to_string(kMaxNiter) + " (2^40)");
      }
      settings.niter = value->get();
    }
    if (const toml::node* node = table.get("seed")) {
      const auto* value = node->as_integer();
      if (value == nullptr || value->get() < 0) fail(*node, "'seed' must be a whole number of at least 0");
      settings.seed = value->get();
    }
    if (const toml::node* node = table.get("precision")) {
      const std::optional<double> value = node->is_number() ? node->value<double>() : std::nullopt;
      if (!value || !(*value > 0.0 && *value < 1.0)) fail(*node, "'precision' must be a number between 0 and 1 (both excluded)");
      settings.precision = *value;
    }
    if (const toml::node* node = table.get("max_niter")) {
      const auto* value = node->as_integer();
      if (value == nullptr || value->get() < 1 || value->get() > kMaxNiter) {
        fail(*node, "'max_niter' must be a whole number from 1 to " + std::to_string(kMaxNiter) + " (2^40)");
      }
      settings.max_niter = value->get();
    }
    if (const toml::node* node = table.get("complexity_niter")) {
      const auto* value = node->as_integer();
      if (value == nullptr || value->get() < 1 || value->get() > kMaxNiter) {
        fail(*node, "'complexity_niter' must be a whole number from 1 to " + std::to_string(kMaxNiter) + " (2^40)");
      }
      settings.complexity_niter = value->get();
    }
  }

  // Where each byte of a decoded string value stands in the file, found by walking its
  // raw form from the value's start. Returns an empty vector when the walk does not
  // reproduce `decoded` (the caller then uses the value's start for every byte).
  std::vector<SourcePosition> decoded_positions(SourcePosition start, const std::string& decoded) const {
    std::size_t at = 0;
    for (int line = 1; line < start.line && at < content_.size(); ++at) {
      if (content_[at] == '\n') ++line;
    }
    SourcePosition here{start.line, 1};
    auto is_continuation = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; };
    auto advance = [&]() {
      if (content_[at] == '\n') {
        ++here.line;
        here.column = 1;
      } else if (!is_continuation(content_[at])) {
        ++here.column;
      }
      ++at;
      // A column counts characters: the continuation bytes of one stay in its column.
      while (at < content_.size() && is_continuation(content_[at])) ++at;
    };
    while (here.column < start.column && at < content_.size()) advance();
    auto starts_with = [&](const char* quote) { return content_.compare(at, std::strlen(quote), quote) == 0; };
    std::string rebuilt;
    std::vector<SourcePosition> positions;
    auto emit = [&](std::size_t from, std::size_t to, SourcePosition where) {
      for (std::size_t i = from; i < to; ++i) {
        rebuilt.push_back(content_[i]);
        positions.push_back(where);
      }
    };
    const bool multi_line = starts_with("\"\"\"") || starts_with("'''");
    if (at >= content_.size() || (content_[at] != '"' && content_[at] != '\'')) return {};
    const char quote = content_[at];
    const bool literal = quote == '\'';
    for (int i = 0; i < (multi_line ? 3 : 1); ++i) advance();
    if (multi_line && at < content_.size() && content_[at] == '\n') advance();
    if (multi_line && starts_with("\r\n")) {
      ++at;
      advance();
    }
    while (at < content_.size()) {
      if (multi_line ? starts_with(literal ? "'''" : "\"\"\"") && rebuilt.size() >= decoded.size()
                     : content_[at] == quote) {
        break;
      }
      if (!literal && content_[at] == '\\') {
        const SourcePosition where = here;
        const std::size_t escape = at;
        advance();
        if (at >= content_.size()) return {};
        const char code = content_[at];
        static const std::map<char, char> simple{{'b', '\b'}, {'t', '\t'}, {'n', '\n'}, {'f', '\f'},
                                                 {'r', '\r'}, {'"', '"'},  {'\\', '\\'}};
        if (auto found = simple.find(code); found != simple.end()) {
          rebuilt.push_back(found->second);
          positions.push_back(where);
          advance();
        } else if (code == 'u' || code == 'U') {
          // The decoded bytes of a \u escape all stand at its backslash.
          const std::size_t digits = code == 'u' ? 4 : 8;
          for (std::size_t i = 0; i <= digits && at < content_.size(); ++i) advance();
          const std::size_t bytes = std::min<std::size_t>(4, decoded.size() - std::min(decoded.size(), rebuilt.size()));
          std::size_t length = 1;
          if (rebuilt.size() < decoded.size()) {
            const auto lead = static_cast<unsigned char>(decoded[rebuilt.size()]);
            length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
          }
          for (std::size_t i = 0; i < std::min(length, bytes); ++i) {
            rebuilt.push_back(decoded[rebuilt.size()]);
            positions.push_back(where);
          }
        } else if (multi_line) {
          // A line-ending backslash drops the blanks and newlines that follow it.
          while (at < content_.size() &&
                 (content_[at] == ' ' || content_[at] == '\t' || content_[at] == '\n' || content_[at] == '\r')) {
            advance();
          }
        } else {
          (void)escape;
          return {};
        }
        continue;
      }
      const std::size_t from = at;
      const SourcePosition where = here;
      advance();
      emit(from, at, where);
    }
    if (rebuilt != decoded) return {};
    positions.push_back(here);
    return positions;
  }

  std::string file_name_;
  std::string content_;
  bool plan_ = false;  // a plan file: [truth] and [design] beside, items without counts
};

}  // namespace

CountsProblem problem_from_data(const std::string& csv_file, double prior_a, double prior_b,
                                std::vector<HypothesisText> hypotheses) {
  CsvData data = read_csv_data(csv_file);
  CountsProblem problem;
  problem.file_name = csv_file;
  problem.items = std::move(data.items);
  for (Item& item : problem.items) {
    item.prior_a = prior_a;
    item.prior_b = prior_b;
    // Items of categories: every category's concentration is --prior-a.
    if (is_categorical(item)) item.concentration.assign(item.counts.size(), prior_a);
  }
  check_shapes(problem, [&](std::size_t j, ShapeFault fault, const std::string& message) {
    if (fault == ShapeFault::Count) throw InputError(describe_position(csv_file, data.places[j]) + ": " + message);
    throw InputError("propbf: " + std::string(fault == ShapeFault::PriorA ? "--prior-a" : "--prior-b") + ": " + message);
  });
  problem.hypotheses = std::move(hypotheses);
  return problem;
}

std::string read_input_file(const std::string& file_name, const std::string& what) {
  std::ifstream in(file_name, std::ios::binary);
  if (!in) throw InputError(file_name + ": cannot open the " + what);
  // Read in blocks up to the size limit (a device such as /dev/zero never ends).
  std::string content;
  std::vector<char> block(std::size_t{1} << 16);
  try {
    while (in && content.size() <= kMaxProblemFileBytes) {
      in.read(block.data(), static_cast<std::streamsize>(block.size()));
      content.append(block.data(), static_cast<std::size_t>(in.gcount()));
    }
  } catch (const std::ios_base::failure&) {
    throw InputError(file_name + ": cannot read the " + what + ": " + std::strerror(errno != 0 ? errno : EIO));
  }
  if (in.bad()) throw InputError(file_name + ": cannot read the " + what + ": " + std::strerror(errno != 0 ? errno : EIO));
  return content;
}

CountsProblem read_problem_file(const std::string& file_name) {
  return read_problem_text(file_name, read_input_file(file_name, "problem file"));
}

CountsProblem read_plan_problem(const std::string& file_name, std::string content) {
  return Reader(file_name, std::move(content), true).read();
}

CountsProblem read_problem_text(const std::string& file_name, std::string content) {
  if (content.size() > kMaxProblemFileBytes) {
    throw InputError(file_name + ": the problem file is larger than " +
                     std::to_string(kMaxProblemFileBytes >> 20) + " MiB, the largest read");
  }
  return Reader(file_name, std::move(content)).read();
}

}  // namespace propbf::evaluate
