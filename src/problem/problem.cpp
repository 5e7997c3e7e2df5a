// What a problem is and may ask: item names, the limits of its shapes and settings, the
// streams' per-problem key.
#include "problem/problem.hpp"

#include "problem/categories.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <tuple>
#include <unordered_set>

namespace propbf::evaluate {
namespace {

std::string shown(double value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

}  // namespace

void check_shapes(const CountsProblem& problem, const ShapeFailure& fail) {
  for (std::size_t j = 0; j < problem.items.size(); ++j) {
    const Item& item = problem.items[j];
    if (is_categorical(item)) {
      // Prior faults are the concentrations' ('prior'), reported as PriorA.
      for (std::size_t c = 0; c < item.counts.size(); ++c) {
        const double alpha = item.concentration[c];
        if (alpha < kMinShape) {
          fail(j, ShapeFault::PriorA, "the prior concentration of item '" + item.name + "' category " +
                                          std::to_string(c + 1) + " is below " + shown(kMinShape) +
                                          ", the smallest prior shape: nearly every draw would be exactly 0 or 1");
        }
        if (std::max(alpha, alpha + static_cast<double>(item.counts[c])) > kMaxShape) {
          fail(j, alpha > kMaxShape ? ShapeFault::PriorA : ShapeFault::Count,
               "item '" + item.name + "' has a beta shape (prior, or prior plus count) above " + shown(kMaxShape) +
                   ", the largest the beta functions invert accurately");
        }
      }
      continue;
    }
    for (const auto& [shape, fault, key] : {std::tuple{item.prior_a, ShapeFault::PriorA, "prior_a"},
                                            std::tuple{item.prior_b, ShapeFault::PriorB, "prior_b"}}) {
      if (shape < kMinShape) {
        std::string message = "'";
        message.append(key).append("' of item '").append(item.name).append("' is below ");
        message.append(shown(kMinShape)).append(", the smallest prior shape: nearly every draw would be exactly 0 or 1");
        fail(j, fault, message);
      }
    }
    const double posterior_a = item.prior_a + static_cast<double>(item.successes);
    const double posterior_b = item.prior_b + static_cast<double>(item.trials - item.successes);
    if (std::max({item.prior_a, item.prior_b, posterior_a, posterior_b}) > kMaxShape) {
      fail(j, item.prior_a > kMaxShape   ? ShapeFault::PriorA
              : item.prior_b > kMaxShape ? ShapeFault::PriorB
                                         : ShapeFault::Count,
           "item '" + item.name + "' has a beta shape (prior, or prior plus count) above " + shown(kMaxShape) +
               ", the largest the beta functions invert accurately");
    }
  }
}

std::string tie_warning(const CountsProblem& problem) {
  std::string tied;
  std::size_t tied_count = 0;
  for (const Item& item : problem.items) {
    const double posterior_a = item.prior_a + static_cast<double>(item.successes);
    const double posterior_b = item.prior_b + static_cast<double>(item.trials - item.successes);
    double smallest = std::min({item.prior_a, item.prior_b, posterior_a, posterior_b});
    if (is_categorical(item)) {
      smallest = item.concentration.front();
      for (double alpha : item.concentration) smallest = std::min(smallest, alpha);
    }
    if (smallest < kTieShape && ++tied_count <= 5) tied += (tied.empty() ? "" : ", ") + item.name;
  }
  if (tied.empty()) return {};
  if (tied_count > 5) tied += " and " + std::to_string(tied_count - 5) + " more";
  return "beta shapes below " + shown(kTieShape) + " (items " + tied +
         "): some draws are exactly 0 or 1, where items tie and restrictions between them fail; below " +
         shown(kRefusedTieShape) + " such a restriction is refused, from it on the bias stays within the Monte Carlo "
         "error";
}

void check_items(const CountsProblem& problem) {
  if (problem.items.empty()) throw InputError("propbf: the problem has no items");
  std::unordered_set<std::string_view> seen;
  for (const Item& item : problem.items) {
    const std::string name = visible_text(item.name);
    if (!is_item_name(item.name)) throw InputError("propbf: " + item_name_refusal(name));
    if (!seen.insert(item.name).second) throw InputError("propbf: item name \"" + name + "\" is given twice");
    if (is_categorical(item) || !item.categories.empty() || !item.concentration.empty()) {
      if (std::string refusal = categorical_refusal(item); !refusal.empty()) throw InputError("propbf: " + refusal);
      continue;
    }
    if (item.trials < 0) throw InputError("propbf: trials of item '" + name + "' is negative");
    if (item.successes < 0) throw InputError("propbf: successes of item '" + name + "' is negative");
    if (item.successes > item.trials) {
      throw InputError("propbf: item '" + name + "' has more successes (" + std::to_string(item.successes) +
                       ") than trials (" + std::to_string(item.trials) + ")");
    }
    for (const auto& [value, key] : {std::pair{item.prior_a, "prior_a"}, std::pair{item.prior_b, "prior_b"}}) {
      if (!(value > 0.0) || !std::isfinite(value)) {
        throw InputError("propbf: '" + std::string(key) + "' of item '" + name + "' must be positive and finite");
      }
    }
  }
  check_shapes(problem, [](std::size_t, ShapeFault, const std::string& message) {
    throw InputError("propbf: " + message);
  });
}

bool is_item_name(std::string_view name) {
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (name.empty() || !letter(name[0])) return false;
  return std::all_of(name.begin(), name.end(), [&](char c) { return letter(c) || (c >= '0' && c <= '9'); });
}

std::string item_name_refusal(const std::string& shown) {
  return "item name \"" + shown + "\" is not a name the hypotheses can use: start with a letter or '_', then letters, "
                                  "digits or '_'";
}

std::uint64_t stream_key(const std::string& file_name) {
  const std::string name = std::filesystem::path(file_name).filename().string();
  std::uint64_t hash = 0xcbf29ce484222325;  // FNV-1a, 64 bits
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3;
  }
  return hash == 0 ? 1 : hash;
}

std::optional<TiedPrior> tied_prior_named(std::string_view name) {
  if (name == "conditional") return TiedPrior::Conditional;
  if (name == "common") return TiedPrior::Common;
  return std::nullopt;
}

const char* tied_prior_name(TiedPrior prior) { return prior == TiedPrior::Common ? "common" : "conditional"; }

const std::vector<Restriction>& SharedRestrictions::rows() const {
  static const std::vector<Restriction> none;
  return rows_ ? *rows_ : none;
}

void SharedRestrictions::append(std::vector<Restriction> more) {
  if (rows_) {
    std::vector<Restriction> joined;
    joined.reserve(rows_->size() + more.size());
    joined.insert(joined.end(), rows_->begin(), rows_->end());
    joined.insert(joined.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    more = std::move(joined);
  }
  rows_ = std::make_shared<const std::vector<Restriction>>(std::move(more));
}

void apply_overrides(CountsProblem& problem, const SettingOverrides& overrides) {
  if (overrides.tied_prior) problem.tied_prior = *overrides.tied_prior;
  Settings& settings = problem.settings;
  if (overrides.niter) settings.niter = *overrides.niter;
  if (overrides.seed) settings.seed = *overrides.seed;
  if (overrides.precision) settings.precision = *overrides.precision;
  if (overrides.max_niter) settings.max_niter = *overrides.max_niter;
  if (overrides.keep_samples) settings.keep_samples = true;
  if (overrides.thin) settings.thin = *overrides.thin;
  if (overrides.complexity_niter) settings.complexity_niter = *overrides.complexity_niter;
  if (overrides.stream_per_problem || settings.seed_per_problem) {
    settings.stream_name = std::filesystem::path(problem.file_name).filename().string();
    settings.stream_key = stream_key(problem.file_name);
  }
}

void check_settings(const Settings& settings) {
  for (const auto& [value, name] : {std::pair{std::optional{settings.niter}, "niter"}, std::pair{settings.max_niter, "max_niter"},
                                    std::pair{settings.thin, "thin"}, std::pair{settings.complexity_niter, "complexity_niter"}}) {
    if (value && *value > kMaxNiter) {
      throw InputError("propbf: " + std::string(name) + " (" + std::to_string(*value) + ") is above " +
                       std::to_string(kMaxNiter) + " (2^40), the most sweeps per stage a run may ask");
    }
    if (value && *value < 1) {
      throw InputError("propbf: " + std::string(name) + " (" + std::to_string(*value) + ") must be at least 1");
    }
  }
  if (settings.seed < 0) {
    throw InputError("propbf: seed (" + std::to_string(settings.seed) + ") must be a whole number of at least 0");
  }
  if (settings.precision && !(*settings.precision > 0.0 && *settings.precision < 1.0)) {
    throw InputError("propbf: precision (" + format_number(*settings.precision, 17) +
                     ") must be a number between 0 and 1 (both excluded)");
  }
  if (settings.max_niter && !settings.precision) {
    throw InputError("propbf: max_niter applies only in precision mode; give a precision too");
  }
  if (settings.max_niter && *settings.max_niter < settings.niter) {
    throw InputError("propbf: max_niter (" + std::to_string(*settings.max_niter) + ") must be at least niter (" +
                     std::to_string(settings.niter) + "), the sweeps per stage precision mode starts with");
  }
}

std::int64_t whole_setting(std::string_view setting, double value) {
  // 2^63 is the first double beyond the 64-bit integers.
  if (!(std::fabs(value) < 9223372036854775808.0) || value != std::trunc(value)) {
    throw InputError("propbf: " + std::string(setting) + " (" + format_number(value, 17) + ") must be a whole number");
  }
  return static_cast<std::int64_t>(value);
}

int checked_threads(std::int64_t threads) {
  if (threads < 0 || threads > kMaxThreads) {
    throw InputError("propbf: threads (" + std::to_string(threads) + ") must be from 1 to " +
                     std::to_string(kMaxThreads) + " (or 0: one per processor)");
  }
  return static_cast<int>(threads);
}

std::string out_of_memory_message(const std::string& name, std::string_view niter) {
  return "propbf: " + name + ": not enough memory for this problem (lower " + std::string(niter) +
         " or the number of items)";
}

}  // namespace propbf::evaluate
