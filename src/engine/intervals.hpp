// The intervals of a hypothesis's factors once replicated: scaled for its equalities,
// widened to hold their estimates, and the notes that say what they could not show.
#pragma once

#include <string>
#include <vector>

#include "engine/results.hpp"

namespace propbf::evaluate {

// The interval the factor's estimate is reported with: the replicated one, widened to
// hold the estimate; none (both ends NaN) when the estimate is not a number.
Interval holding(const Interval& interval, double estimate);

// The stages whose error could not be measured (StageCount::error_measured), with their
// batch figures; empty when every stage's was.
std::string unmeasured_stages(const HypothesisResult& result);

// Widens the four intervals to hold their estimates (or drops them for a NaN estimate),
// with a note for each it changed, and sets interval_trusted with its note.
void finish_intervals(HypothesisResult& result);

// A hypothesis with equalities: the intervals of its inequality part (of the kinds
// computed: corrected true, independent false) scaled by the factor of its equalities;
// its complement has none.
void scale_for_equalities(HypothesisResult& result, const std::vector<bool>& kinds);

// After a round's replications (of the kinds listed): the logarithm of the factor, the
// equalities' part of the factor and intervals, and relative_half_width. `sampled`:
// the hypothesis has stages (without, its factor is a closed form).
void settle_factors(HypothesisResult& result, const std::vector<bool>& kinds, bool sampled);

// The notes every run gives a hypothesis at its end: what its equalities mean for its
// factors, and the warnings of its reading.
void add_closing_notes(HypothesisResult& result, bool sampled, const std::vector<std::string>& warnings);

}  // namespace propbf::evaluate
