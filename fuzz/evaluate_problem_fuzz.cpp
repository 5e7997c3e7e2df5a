// Fuzz target: `propbf evaluate`'s set-up of a problem, with the fuzz data as the problem
// file: the TOML reading and its checks, the hypothesis language, the collapse of items
// tied by equalities and the starting point of every hypothesis (no sampling). Every
// input ends either with a message (InputError, a language or collapse error) or with
// problems whose starting points lie inside the unit cube and inside their restrictions;
// nothing else may escape (an exception, a crash, a sanitizer report, the linear
// programming library's abort).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "problem/equalities.hpp"
#include "problem/language.hpp"
#include "input/problem_file.hpp"
#include "problem/problem.hpp"
#include "engine/start_point.hpp"

namespace {

using namespace propbf::evaluate;

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
  }
}

void check_start_point(const std::vector<Restriction>& restrictions, std::size_t items, const StartPoint& start) {
  if (!start.interior) {
    require(!start.failure.empty() || !start.conflict.empty(), "no interior names a conflict or a failure");
    for (std::size_t k : start.conflict) require(k < restrictions.size(), "the conflict names restrictions");
    return;
  }
  require(start.centre.size() == items, "one centre value per item");
  require(start.radius > kSmallestRadius && start.radius <= 0.5 + 1e-9, "radius in (threshold, 0.5]");
  for (double x : start.centre) require(x > 0.0 && x < 1.0, "the centre lies inside the unit cube");
  // The linear programme holds its rows to a relative tolerance; measured against the
  // largest coefficient, no restriction may fail by more than that.
  for (const Restriction& restriction : restrictions) {
    double largest = 0.0;
    for (double g : restriction.coefficients) largest = std::fmax(largest, std::fabs(g));
    double value = 0.0;
    for (std::size_t j = 0; j < items; ++j) value += restriction.coefficients[j] / largest * start.centre[j];
    const double constant = restriction.constant / largest;
    require(!(value - constant < -1e-6 * std::fmax(1.0, std::fabs(constant))), "the centre satisfies the restrictions");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CountsProblem problem;
  try {
    problem = read_problem_text("fuzz.toml", std::string(reinterpret_cast<const char*>(data), size));
  } catch (const InputError&) {
    return 0;
  }
  std::vector<std::string> names;
  for (const Item& item : problem.items) names.push_back(item.name);
  for (const HypothesisText& hypothesis : problem.hypotheses) {
    const ParsedHypothesis parsed = parse_hypothesis(hypothesis.text, names);
    if (!parsed.ok) {
      require(parsed.error.offset <= hypothesis.text.size(), "the error offset lies inside the hypothesis");
      require(!parsed.error.message.empty(), "a mistake has a message");
      continue;
    }
    require(!parsed.restrictions.empty() || !parsed.equalities.empty(), "a hypothesis restricts something");
    for (const Restriction& restriction : parsed.restrictions) {
      require(restriction.coefficients.size() == names.size(), "one coefficient per item");
    }
    for (const Equality& equality : parsed.equalities) {
      require(equality.item < names.size() && (!equality.other || *equality.other < names.size()),
              "an equality ties items of the problem");
      require(equality.other || (equality.value >= 0.0 && equality.value <= 1.0), "a point value lies in [0, 1]");
      require(equality.offset < hypothesis.text.size(), "an equality lies inside the hypothesis");
    }
    if (!parsed.equalities.empty()) {
      const CollapsedHypothesis collapsed = collapse_equalities(parsed, problem.items);
      if (!collapsed.ok) {
        require(collapsed.error.offset <= hypothesis.text.size() && !collapsed.error.message.empty(),
                "a collapse error has a place and a message");
        continue;
      }
      require(!std::isnan(collapsed.log_factor) && collapsed.log_factor != HUGE_VAL, "the equalities' log factor");
      for (std::size_t g = 0; g < collapsed.groups.size(); ++g) {
        require(collapsed.prior_a[g] > 0.0 && collapsed.prior_b[g] > 0.0, "a group's prior is proper");
      }
      for (const Restriction& restriction : collapsed.restrictions) {
        require(restriction.coefficients.size() == collapsed.groups.size(), "one coefficient per free group");
      }
      if (!collapsed.restrictions.empty()) {
        check_start_point(collapsed.restrictions, collapsed.groups.size(),
                          find_start_point(collapsed.restrictions, collapsed.groups.size()));
      }
      continue;
    }
    check_start_point(parsed.restrictions, names.size(), find_start_point(parsed.restrictions, names.size()));
  }
  return 0;
}
