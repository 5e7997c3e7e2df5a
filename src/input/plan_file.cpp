// Reading a plan file: [items] and [hypotheses] through the problem file's reader,
// [truth] and [design] here.
#include "input/plan_file.hpp"

#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <toml++/toml.h>

#include "input/problem_file.hpp"
#include "problem/categories.hpp"

namespace propbf::evaluate {
namespace {

SourcePosition position_of(const toml::source_region& region) {
  return {static_cast<int>(region.begin.line), static_cast<int>(region.begin.column)};
}

class PlanReader {
 public:
  PlanReader(const std::string& file_name, const std::string& content) : file_name_(file_name), content_(content) {}

  [[noreturn]] void fail(SourcePosition at, const std::string& message) const {
    throw InputError(describe_position(file_name_, at) + ": " + message);
  }
  [[noreturn]] void fail(const toml::node& node, const std::string& message) const {
    fail(position_of(node.source()), message);
  }

  void read(PlanFile& plan) {
    toml::table root;
    try {
      root = toml::parse(content_, file_name_);
    } catch (const toml::parse_error& error) {
      fail(position_of(error.source()), "malformed TOML: " + std::string(error.description()));
    }
    const toml::table* design = root["design"].as_table();
    if (design == nullptr) {
      fail(SourcePosition{}, "no [design] table; it gives the sizes, e.g. n = [10, 20, 40]");
    }
    read_design(*design, plan);
    const toml::table* truth = root["truth"].as_table();
    if (truth == nullptr) {
      fail(SourcePosition{}, "no [truth] table; it gives each item's true proportion, e.g. a = 0.6, or "
                             "from_hypothesis = \"H1\"");
    }
    read_truth(*truth, plan);
  }

 private:
  void check_keys(const toml::table& table, const std::set<std::string>& allowed, const std::string& where) const {
    for (auto&& [key, node] : table) {
      if (allowed.count(std::string(key.str())) == 0) {
        std::string list;
        for (const auto& name : allowed) list += (list.empty() ? "" : ", ") + name;
        fail(position_of(key.source()), "unknown key '" + std::string(key.str()) + "' in " + where + "; expected " + list);
      }
    }
  }

  // The number as the file writes it (the JSON's keys for thresholds).
  std::string written(const toml::node& node) const {
    const auto& region = node.source();
    if (region.begin.line != region.end.line) return {};
    std::size_t at = 0;
    for (std::size_t line = 1; line < region.begin.line && at < content_.size(); ++at) {
      if (content_[at] == '\n') ++line;
    }
    const std::size_t from = at + region.begin.column - 1;
    const std::size_t to = at + region.end.column - 1;
    if (to > content_.size() || from >= to) return {};
    return content_.substr(from, to - from);
  }

  double number(const toml::node& node, const std::string& what) const {
    if (const auto* integer = node.as_integer()) return static_cast<double>(integer->get());
    if (const auto* real = node.as_floating_point()) return real->get();
    fail(node, what + " must be a number");
  }

  std::int64_t whole(const toml::node& node, const std::string& what, std::int64_t low, std::int64_t high) const {
    const auto* value = node.as_integer();
    if (value == nullptr || value->get() < low || value->get() > high) {
      fail(node, what + " must be a whole number from " + std::to_string(low) + " to " + std::to_string(high));
    }
    return value->get();
  }

  void read_sizes(const toml::table& design, PlanFile& plan) const {
    const std::size_t items = plan.problem.items.size();
    const toml::node* n = design.get("n");
    const toml::node* total = design.get("total");
    if (n != nullptr && total != nullptr) fail(*total, "give the sizes as 'n' or as 'total' with 'weights', not both");
    if (n == nullptr && total == nullptr) {
      fail(position_of(design.source()), "[design] has no 'n'; give the trials per item at each size, e.g. "
                                         "n = [10, 20, 40]");
    }
    const toml::node& list_node = n != nullptr ? *n : *total;
    const std::string key = n != nullptr ? "n" : "total";
    const toml::array* list = list_node.as_array();
    if (list == nullptr || list->empty()) fail(list_node, "'" + key + "' must be a non-empty array of sizes");
    if (list->size() > kMaxPlanSizes) fail(list_node, "'" + key + "' has more than " + std::to_string(kMaxPlanSizes) + " sizes");
    std::vector<double> weights;
    if (total != nullptr) {
      const toml::node* node = design.get("weights");
      const toml::array* array = node != nullptr ? node->as_array() : nullptr;
      if (array == nullptr || array->size() != items) {
        fail(node != nullptr ? *node : list_node, "'total' needs 'weights', one positive number per item (" +
                                                      std::to_string(items) + ")");
      }
      for (const toml::node& element : *array) {
        const double w = number(element, "a weight");
        if (!(w > 0.0) || !std::isfinite(w)) fail(element, "a weight must be positive and finite");
        weights.push_back(w);
      }
    } else if (const toml::node* node = design.get("weights")) {
      fail(*node, "'weights' split a 'total'; with 'n' give the trials per item directly");
    }
    for (const toml::node& element : *list) {
      std::vector<std::int64_t> size;
      if (const toml::array* per_item = element.as_array()) {
        if (total != nullptr) fail(element, "a total is one number");
        if (per_item->size() != items) {
          fail(element, "this size gives " + std::to_string(per_item->size()) + " numbers of trials but there are " +
                            std::to_string(items) + " items");
        }
        for (const toml::node& trials : *per_item) size.push_back(whole(trials, "trials", 1, kMaxPlanTrials));
      } else if (total != nullptr) {
        size = split_total(whole(element, "a total", 1, kMaxPlanTrials), weights, element);
      } else {
        size.assign(items, whole(element, "trials", 1, kMaxPlanTrials));
      }
      plan.design.sizes.push_back(std::move(size));
    }
  }

  // A total split by weights: each item floor(total w_i / sum w), the rest one each to the
  // items of the largest remainders (the first of equal ones); every item at least 1.
  std::vector<std::int64_t> split_total(std::int64_t total, const std::vector<double>& weights,
                                        const toml::node& node) const {
    if (total < static_cast<std::int64_t>(weights.size())) {
      fail(node, "a total of " + std::to_string(total) + " cannot give each of the " +
                     std::to_string(weights.size()) + " items a trial");
    }
    double sum = 0.0;
    for (double w : weights) sum += w;
    std::vector<std::int64_t> size;
    std::vector<std::pair<double, std::size_t>> remainders;
    std::int64_t given = 0;
    for (std::size_t j = 0; j < weights.size(); ++j) {
      const double exact = static_cast<double>(total) * (weights[j] / sum);
      const auto whole_part = static_cast<std::int64_t>(std::floor(exact));
      size.push_back(whole_part);
      given += whole_part;
      remainders.emplace_back(exact - static_cast<double>(whole_part), j);
    }
    std::stable_sort(remainders.begin(), remainders.end(), [](const auto& x, const auto& y) { return x.first > y.first; });
    for (std::size_t r = 0; given < total && r < remainders.size(); ++r, ++given) ++size[remainders[r].second];
    for (std::int64_t& trials : size) {
      if (trials < 1) fail(node, "a total of " + std::to_string(total) + " leaves an item without trials at these weights");
    }
    return size;
  }

  void read_design(const toml::table& design, PlanFile& plan) const {
    check_keys(design, {"n", "total", "weights", "datasets", "thresholds", "seed", "niter", "precision", "max_niter",
                        "stop_when_decided", "against", "target", "target_threshold", "truth_sweeps",
                        "complexity_niter"},
               "[design]");
    PlanDesign& d = plan.design;
    read_sizes(design, plan);
    if (const toml::node* node = design.get("datasets")) {
      d.datasets = whole(*node, "'datasets'", 1, kMaxPlanDatasets);
      if (d.datasets * static_cast<std::int64_t>(d.sizes.size()) > kMaxPlanGrid) {
        fail(*node, "the plan asks for " + std::to_string(d.datasets) + " data sets at each of " +
                        std::to_string(d.sizes.size()) + " sizes; at most " + std::to_string(kMaxPlanGrid) +
                        " in all");
      }
    }
    if (const toml::node* node = design.get("thresholds")) {
      const toml::array* list = node->as_array();
      if (list == nullptr || list->empty() || list->size() > kMaxPlanThresholds) {
        fail(*node, "'thresholds' must be an array of 1 to " + std::to_string(kMaxPlanThresholds) + " numbers, e.g. [3, 10]");
      }
      d.thresholds.clear();
      d.threshold_names.clear();
      for (const toml::node& element : *list) {
        const double value = number(element, "a threshold");
        if (!(value >= 1.0) || !std::isfinite(value)) fail(element, "a threshold must be a finite number of at least 1");
        std::string name = written(element);
        if (name.empty()) name = std::to_string(value);
        for (const std::string& other : d.threshold_names) {
          if (other == name) fail(element, "threshold " + name + " is given twice");
        }
        d.thresholds.push_back(value);
        d.threshold_names.push_back(name);
      }
    }
    if (const toml::node* node = design.get("seed")) d.seed = whole(*node, "'seed'", 0, INT64_MAX);
    for (const Item& item : plan.problem.items) {
      if (item.counts.size() > 2) d.niter = kDefaultPlanSimplexNiter;
    }
    if (const toml::node* node = design.get("niter")) d.niter = whole(*node, "'niter'", 1, kMaxNiter);
    d.max_niter = std::max(d.niter, kDefaultPlanMaxNiter);
    if (const toml::node* node = design.get("precision")) {
      if (const auto* off = node->as_boolean(); off != nullptr && !off->get()) {
        d.precision.reset();  // precision = false: every data set at niter sweeps per stage
      } else {
        const double value = number(*node, "'precision'");
        if (!(value > 0.0 && value < 1.0)) fail(*node, "'precision' must be a number between 0 and 1, or false");
        d.precision = value;
      }
    } else if (design.get("niter") != nullptr) {
      d.precision.reset();  // niter alone: fixed sweeps, as in a problem file
    }
    if (const toml::node* node = design.get("max_niter")) {
      if (!d.precision) fail(*node, "'max_niter' bounds the sweeps of 'precision'; give a precision too");
      d.max_niter = whole(*node, "'max_niter'", d.niter, kMaxNiter);
    }
    if (const toml::node* node = design.get("stop_when_decided")) {
      const auto* value = node->as_boolean();
      if (value == nullptr) fail(*node, "'stop_when_decided' must be true or false");
      d.stop_when_decided = value->get();
    }
    if (const toml::node* node = design.get("against")) {
      const auto* value = node->as_string();
      if (value == nullptr) fail(*node, "'against' must be \"unconstrained\", \"complement\" or a hypothesis's name");
      if (value->get() == "unconstrained") {
        d.factor = PlanFactor::Unconstrained;
      } else if (value->get() == "complement") {
        d.factor = PlanFactor::Complement;
      } else {
        bool known = false;
        for (const HypothesisText& h : plan.problem.hypotheses) known = known || h.name == value->get();
        if (!known) {
          fail(*node, "'against' names no hypothesis of [hypotheses]: \"" + visible_text(value->get()) +
                          "\"; give \"unconstrained\", \"complement\" or one of the hypotheses");
        }
        if (plan.problem.hypotheses.size() < 2) fail(*node, "'against' a hypothesis needs another one to set against it");
        d.factor = PlanFactor::Hypothesis;
        d.against = value->get();
      }
    }
    if (const toml::node* node = design.get("target")) {
      const double value = number(*node, "'target'");
      if (!(value > 0.0 && value < 1.0)) fail(*node, "'target' is a probability between 0 and 1, e.g. 0.8");
      d.target = value;
      d.target_threshold = d.thresholds.size() - 1;
    }
    if (const toml::node* node = design.get("target_threshold")) {
      if (!d.target) fail(*node, "'target_threshold' names the threshold of 'target'; give a target too");
      const double value = number(*node, "'target_threshold'");
      bool found = false;
      for (std::size_t k = 0; k < d.thresholds.size(); ++k) {
        if (d.thresholds[k] == value) {
          d.target_threshold = k;
          found = true;
        }
      }
      if (!found) fail(*node, "'target_threshold' must be one of the thresholds");
    }
    if (const toml::node* node = design.get("truth_sweeps")) d.truth_sweeps = whole(*node, "'truth_sweeps'", 1, 1 << 20);
    if (const toml::node* node = design.get("complexity_niter")) {
      d.complexity_niter = whole(*node, "'complexity_niter'", 1, kMaxNiter);
    }
  }

  // The truth of an item of K categories: K proportions summing to 1 (within
  // kTruthSumTolerance), or { dirichlet = [a_1, ..., a_K] }.
  void read_category_truth(const toml::node& node, const Item& item, ItemTruth& truth) const {
    const std::size_t k = item.counts.size();
    const std::string example = k == 3 ? "[0.5, 0.3, 0.2]" : "one per category";
    if (const toml::table* table = node.as_table()) {
      check_keys(*table, {"dirichlet"}, "the truth of item '" + item.name + "'");
      const toml::node* shapes_node = table->get("dirichlet");
      const toml::array* shapes = shapes_node != nullptr ? shapes_node->as_array() : nullptr;
      if (shapes == nullptr || shapes->size() != k) {
        fail(shapes_node != nullptr ? *shapes_node : node,
             "the truth of item '" + item.name + "' is " + std::to_string(k) + " proportions or { dirichlet = [" +
                 std::to_string(k) + " shapes] }, one per category");
      }
      truth.fixed = false;
      for (const toml::node& element : *shapes) {
        const double shape = number(element, "a Dirichlet shape");
        if (!(shape >= kMinShape && shape <= kMaxShape)) {
          fail(element, "a Dirichlet shape of the truth must be from 0.001 to 1e10");
        }
        truth.dirichlet.push_back(shape);
      }
      // The betas of its stick-breaking take the sums of the shapes after each category.
      double sum = 0.0;
      for (const double shape : truth.dirichlet) sum += shape;
      if (!(sum <= kMaxShape)) fail(*shapes_node, "the shapes of a Dirichlet truth must sum to at most 1e10");
      return;
    }
    const toml::array* list = node.as_array();
    if (list == nullptr) {
      fail(node, "item '" + item.name + "' has " + std::to_string(k) + " categories: its truth is a list of " +
                     std::to_string(k) + " proportions summing to 1 (" + example + "), or { dirichlet = [...] }");
    }
    if (list->size() != k) {
      fail(node, "the truth of item '" + item.name + "' has " + std::to_string(list->size()) +
                     " proportions but the item has " + std::to_string(k) + " categories");
    }
    double sum = 0.0;
    for (const toml::node& element : *list) {
      const double p = number(element, "a true proportion of item '" + item.name + "'");
      if (!(p >= 0.0 && p <= 1.0)) fail(element, "a true proportion of item '" + item.name + "' must be in [0, 1]");
      truth.proportions.push_back(p);
      sum += p;
    }
    if (!(std::fabs(sum - 1.0) <= kTruthSumTolerance)) {
      char shown[32];
      std::snprintf(shown, sizeof shown, "%.10g", sum);
      fail(node, "the true proportions of item '" + item.name + "' sum to " + shown + "; they must sum to 1");
    }
  }

  void read_truth(const toml::table& truth, PlanFile& plan) const {
    const std::vector<Item>& items = plan.problem.items;
    std::map<std::string, std::size_t> index;
    for (std::size_t j = 0; j < items.size(); ++j) index[items[j].name] = j;
    std::vector<bool> given(items.size(), false);
    plan.truth.items.assign(items.size(), ItemTruth{});
    for (auto&& [key, node] : truth) {
      const std::string name(key.str());
      if (const auto* text = node.as_string(); text != nullptr && name == "from_hypothesis") {
        bool known = false;
        for (const HypothesisText& h : plan.problem.hypotheses) known = known || h.name == text->get();
        if (!known) fail(node, "'from_hypothesis' names no hypothesis of [hypotheses]: \"" + visible_text(text->get()) + "\"");
        plan.truth.from_hypothesis = text->get();
        continue;
      }
      const auto found = index.find(name);
      if (found == index.end()) {
        fail(position_of(key.source()), "[truth] names no item '" + visible_text(name) +
                                            "'; give one entry per item of [items], or from_hypothesis = \"H\"");
      }
      ItemTruth& item = plan.truth.items[found->second];
      given[found->second] = true;
      if (is_categorical(items[found->second])) {
        read_category_truth(node, items[found->second], item);
        continue;
      }
      if (const toml::table* table = node.as_table()) {
        check_keys(*table, {"beta"}, "the truth of item '" + name + "'");
        const toml::node* beta = table->get("beta");
        const toml::array* shapes = beta != nullptr ? beta->as_array() : nullptr;
        if (shapes == nullptr || shapes->size() != 2) {
          fail(node, "the truth of item '" + name + "' is a proportion or { beta = [a, b] }");
        }
        item.fixed = false;
        item.beta_a = number(*shapes->get(0), "a beta shape");
        item.beta_b = number(*shapes->get(1), "a beta shape");
        for (std::size_t s = 0; s < 2; ++s) {
          const double shape = s == 0 ? item.beta_a : item.beta_b;
          if (!(shape >= kMinShape && shape <= kMaxShape)) {
            fail(*shapes->get(s), "a beta shape of the truth must be from 0.001 to 1e10");
          }
        }
      } else {
        const double p = number(node, "the truth of item '" + name + "'");
        if (!(p >= 0.0 && p <= 1.0)) fail(node, "the true proportion of item '" + name + "' must be in [0, 1]");
        item.proportion = p;
      }
    }
    if (!plan.truth.from_hypothesis.empty()) {
      for (std::size_t j = 0; j < items.size(); ++j) {
        if (given[j]) {
          fail(position_of(truth.source()), "[truth] gives item '" + items[j].name +
                                                "' and from_hypothesis; give one or the other");
        }
      }
      plan.truth.items.clear();
      return;
    }
    for (std::size_t j = 0; j < items.size(); ++j) {
      if (!given[j]) fail(position_of(truth.source()), "[truth] gives no proportion for item '" + items[j].name + "'");
    }
  }

  const std::string& file_name_;
  const std::string& content_;
};

std::uint64_t content_key(const std::string& content) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : content) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

}  // namespace

PlanFile read_plan_text(const std::string& file_name, std::string content) {
  if (content.size() > kMaxProblemFileBytes) {
    throw InputError(file_name + ": the plan file is larger than " + std::to_string(kMaxProblemFileBytes >> 20) +
                     " MiB, the largest read");
  }
  PlanFile plan;
  plan.key = content_key(content);
  plan.problem = read_plan_problem(file_name, content);
  PlanReader(file_name, content).read(plan);
  return plan;
}

PlanFile read_plan_file(const std::string& file_name) {
  return read_plan_text(file_name, read_input_file(file_name, "plan file"));
}

}  // namespace propbf::evaluate
