// The report in output.txt: fit, complexity, the two Bayes factors and their intervals.
#pragma once

#include <cstdint>

#include "driver/replications.hpp"

namespace propbf::driver {

// Writes the 15 report records to output.txt and "Analysis Completed" on the console.
void write_report(float c, float f, const BayesFactors& factors);

}  // namespace propbf::driver
