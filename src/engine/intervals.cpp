#include "engine/intervals.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "messages/messages.hpp"

namespace propbf::evaluate {

// The interval the factor's estimate is reported with: the replicated one, widened to
// hold the estimate; none (both ends NaN) when the estimate is not a number.
Interval holding(const Interval& interval, double estimate) {
  if (std::isnan(estimate)) return {std::nan(""), std::nan("")};
  return {std::min(interval[0], estimate), std::max(interval[1], estimate)};
}

namespace {

std::string interval_text(const Interval& interval) {
  std::string text(1, '[');
  text.append(format_number(interval[0], 5)).append(", ").append(format_number(interval[1], 5)).push_back(']');
  return text;
}

// Every count of the hypothesis's chains with its name: "fit stage 3", or for a split
// stage "fit stage 3 level 2 of 5", complexity first, in stage and level order; with the
// sweeps it was counted in (the complexity's may differ from the fit's: complexity_niter).
struct NamedCount {
  std::string name;
  const StageCount* count;
  std::int64_t sweeps;
};

std::vector<NamedCount> named_counts(const HypothesisResult& result) {
  std::vector<NamedCount> named;
  for (const bool fit : {false, true}) {
    const std::vector<StageCount>& stages = fit ? result.fit_stages : result.complexity_stages;
    const std::vector<StageLevels>& levels = fit ? result.fit_levels : result.complexity_levels;
    const std::int64_t sweeps = fit ? result.niter : result.complexity_sweeps();
    for (std::size_t t = 0; t < stages.size(); ++t) {
      const std::string stage = std::string(fit ? "fit" : "complexity") + " stage " + std::to_string(t + 1);
      if (t >= levels.size() || !levels[t].split()) {
        named.push_back({stage, &stages[t], sweeps});
        continue;
      }
      const std::string of = " of " + std::to_string(levels[t].bounds.size());
      named.push_back({stage + " level 1" + of, &stages[t], sweeps});
      for (std::size_t l = 0; l < levels[t].counts.size(); ++l) {
        named.push_back({stage + " level " + std::to_string(l + 2) + of, &levels[t].counts[l], sweeps});
      }
    }
  }
  return named;
}

// The stages with no hit or a hit in every sweep, e.g. "fit stage 3: no hit in 20000 sweeps".
std::string extreme_stages(const HypothesisResult& result) {
  std::string text;
  for (const NamedCount& named : named_counts(result)) {
    const std::int64_t hits = named.count->hits;
    if (hits != 0 && hits != named.sweeps) continue;
    text += (text.empty() ? "" : "; ") + named.name + (hits == 0 ? ": no hit in " : ": a hit in every one of ") +
            std::to_string(named.sweeps) + " sweeps";
  }
  return text;
}

// The stages split into levels, e.g. "complexity stage 3 into 5 levels (shares 0.21,
// 0.19, ...)".
std::string split_stages(const HypothesisResult& result) {
  std::string text;
  for (const bool fit : {false, true}) {
    const std::vector<StageCount>& stages = fit ? result.fit_stages : result.complexity_stages;
    const std::vector<StageLevels>& levels = fit ? result.fit_levels : result.complexity_levels;
    for (std::size_t t = 0; t < levels.size() && t < stages.size(); ++t) {
      if (!levels[t].split()) continue;
      const double n = static_cast<double>(fit ? result.niter : result.complexity_sweeps());
      std::string shares = format_number(static_cast<double>(stages[t].hits) / n, 3);
      for (const StageCount& count : levels[t].counts) {
        shares += ", " + format_number(static_cast<double>(count.hits) / n, 3);
      }
      text += (text.empty() ? "" : "; ") + std::string(fit ? "fit" : "complexity") + " stage " +
              std::to_string(t + 1) + " into " + std::to_string(levels[t].bounds.size()) + " levels (shares " +
              shares + ")";
    }
  }
  return text;
}

}  // namespace

// The stages whose error could not be measured (StageCount::error_measured), with their
// batch figures; empty when every stage's was.
std::string unmeasured_stages(const HypothesisResult& result) {
  std::string stages;
  for (const NamedCount& named : named_counts(result)) {
    const StageCount& count = *named.count;
    if (count.error_measured) continue;
    stages += (stages.empty() ? "" : "; ") + named.name;
    if (count.hits < kFewHits) {
      stages += " (" + std::to_string(count.hits) + (count.hits == 1 ? " hit" : " hits") + " in " +
                std::to_string(named.sweeps) + " sweeps, fewer than " + std::to_string(kFewHits) + ")";
    } else {
      stages += " (effective sweeps " + format_number(count.effective_sweeps, 3) + " of " +
                std::to_string(named.sweeps) + ", neighbouring batch shares correlate " +
                format_number(count.batch_correlation, 2) + ": fewer than " +
                format_number(kEffectivePerBatch, 1) + " effective sweeps per batch)";
    }
  }
  return stages;
}

// Widens the four intervals to hold their estimates (or drops them for a NaN estimate),
// with a note for each it changed, and sets interval_trusted with its note.
void finish_intervals(HypothesisResult& result) {
  result.notes.clear();
  const std::string unmeasured = unmeasured_stages(result);
  result.interval_trusted = unmeasured.empty();
  if (!result.interval_trusted) {
    result.notes.push_back("intervals not trusted: too few hits, or a chain that moves more slowly than its batches "
                           "can measure, in " +
                           unmeasured + "; the corrected intervals understate the Monte Carlo error and the "
                           "estimate may still lean towards the start point");
  }
  const std::string split = split_stages(result);
  if (!split.empty()) {
    result.notes.push_back("rare stages split into levels of relaxed restrictions, the stage's share the product of "
                           "its levels' shares: " + split);
  }
  const std::string reason = extreme_stages(result);
  const std::string because = reason.empty() ? "" : " (" + reason + ")";
  const struct {
    const char* factor;
    double estimate;
    Interval* corrected;
    Interval* independent;
  } factors[] = {{"bf_unconstrained", result.bf_unconstrained, &result.bf_unconstrained_interval,
                  &result.bf_unconstrained_interval_independent},
                 {"bf_complement", result.bf_complement, &result.bf_complement_interval,
                  &result.bf_complement_interval_independent}};
  for (const auto& factor : factors) {
    if (factor.corrected == &result.bf_complement_interval && !result.complement_defined) continue;
    const Interval corrected = *factor.corrected;
    const Interval independent = *factor.independent;
    *factor.corrected = holding(corrected, factor.estimate);
    *factor.independent = holding(independent, factor.estimate);
    const std::string intervals = std::string("the intervals of ") + factor.factor;
    if (std::isnan(factor.estimate)) {
      result.notes.push_back(intervals + " are not given: the factor is not a number" + because);
    } else if (*factor.corrected != corrected || *factor.independent != independent) {
      result.notes.push_back(intervals + " were widened from " + interval_text(corrected) + " (as independent " +
                             interval_text(independent) + ") to hold the estimate " +
                             format_number(factor.estimate, 6) + because);
    }
  }
}

// A hypothesis with equalities: the intervals of its inequality part (of the kinds
// computed) scaled by the factor of its equalities; its complement has none.
void scale_for_equalities(HypothesisResult& result, const std::vector<bool>& kinds) {
  for (const bool corrected : kinds) {
    Interval& interval = corrected ? result.bf_unconstrained_interval : result.bf_unconstrained_interval_independent;
    interval = {interval[0] * result.bf_equalities, interval[1] * result.bf_equalities};
    (corrected ? result.bf_complement_interval : result.bf_complement_interval_independent) = {std::nan(""),
                                                                                              std::nan("")};
  }
}

namespace {

double relative_half_width(const Interval& interval, double factor) {
  const double relative = (interval[1] - interval[0]) / 2.0 / factor;
  const bool finite = std::isfinite(factor) && std::isfinite(relative) && relative >= 0.0;
  return finite ? relative : std::numeric_limits<double>::infinity();
}

}  // namespace

void settle_factors(HypothesisResult& result, const std::vector<bool>& kinds, bool sampled) {
  result.log_bf_unconstrained = std::log(result.bf_unconstrained);
  if (!result.complement_defined) {
    result.log_bf_unconstrained += result.log_bf_equalities;
    result.bf_unconstrained *= result.bf_equalities;
    result.bf_complement = std::nan("");
    scale_for_equalities(result, kinds);
  }
  result.relative_half_width =
      relative_half_width(holding(result.bf_unconstrained_interval, result.bf_unconstrained), result.bf_unconstrained);
  if (result.complement_defined) {
    result.relative_half_width = std::max(
        result.relative_half_width,
        relative_half_width(holding(result.bf_complement_interval, result.bf_complement), result.bf_complement));
  } else if (!sampled) {
    result.relative_half_width = 0.0;  // a closed form: no Monte Carlo error
  }
}

void add_closing_notes(HypothesisResult& result, bool sampled, const std::vector<std::string>& warnings) {
  if (result.fit_exact) {
    result.notes.push_back("complexity and fit are exact (an order on items of one prior and of one posterior: the "
                           "orderings it allows over all orderings); the factors have no Monte Carlo error and their "
                           "intervals are the factors themselves");
  } else if (result.complexity_exact) {
    result.notes.push_back("the complexity is exact (an order on items of one prior: the orderings it allows over all "
                           "orderings); only the fit is estimated, and the intervals are those of the fit alone");
  }
  if (!result.complement_defined) {
    if (!sampled) {
      result.notes.push_back("the hypothesis has equalities only: bf_unconstrained is exact (a closed form) and has "
                             "no Monte Carlo error; its intervals are the factor itself");
    } else {
      result.notes.push_back("complexity and fit are those of the inequalities given the equalities, on the items "
                             "the equalities tie together; bf_unconstrained is bf_equalities (exact) times fit / "
                             "complexity, and its intervals are those of fit / complexity times bf_equalities");
    }
    result.notes.push_back("bf_complement is not defined: the complement of a hypothesis with an equality has "
                           "probability one");
  }
  for (const std::string& warning : warnings) result.notes.push_back("warning: " + warning);
}

}  // namespace propbf::evaluate
