// The stage sampler written literally, step by step. It is the reference that the
// optimised sampler is checked against, bit for bit.
#include <cmath>
#include <limits>
#include <vector>

#include "driver/sampler.hpp"
#include "driver/sampler_rules.hpp"
#include "random/random.hpp"

namespace propbf::driver {

namespace {

// Row `coefficients` (n values) times `state`, zero state values skipped.
float row_times_state(const float* coefficients, const float* state, int64_t n) {
  float sum = 0.0f;
  for (int64_t i = 0; i < n; ++i) {
    if (state[i] == 0.0f) continue;
    sum = add_product(sum, coefficients[i], state[i]);
  }
  return sum;
}

}  // namespace

int64_t literal_work_bytes(int32_t items, int32_t restrictions, int32_t stage) {
  const int64_t earlier = stage > 1 ? stage - 1 : 0;
  const int64_t others = items > 1 ? items - 1 : 0;
  const int64_t floats = earlier * (3 + others) + others + (restrictions > 0 ? restrictions : 0);
  return floats * static_cast<int64_t>(sizeof(float));
}

float literal_stage_share(const Problem& problem, Phase phase, int32_t stage, float* pi) {
  const int32_t items = problem.items();
  const int32_t restrictions = problem.restrictions();
  const int32_t earlier = stage - 1;  // restrictions that bound the draws
  const int32_t others = items > 0 ? items - 1 : 0;

  // Work arrays of one draw; kept for the stage, refilled for every draw.
  std::vector<float> r1(static_cast<size_t>(earlier));
  std::vector<float> rrest(static_cast<size_t>(earlier) * static_cast<size_t>(others));
  std::vector<float> rcmin(static_cast<size_t>(earlier));
  std::vector<float> pimin(static_cast<size_t>(others));
  std::vector<float> lowup(static_cast<size_t>(earlier));
  std::vector<float> eval(static_cast<size_t>(restrictions));

  HitTally crestr(problem.niter);
  for (int32_t j = 0; j < items; ++j) pi[j] = problem.initpi[j];

  for (int32_t sweep = 1; sweep <= problem.niter; ++sweep) {
    for (int32_t j = 0; j < items; ++j) {
      ItemInterval interval;
      if (stage >= 2) {
        // r1: coefficients of item j; rrest: the earlier rows without column j;
        // rcmin: their constants; pimin: the state without item j.
        for (int32_t k = 0; k < earlier; ++k) {
          const float* row = problem.row(k);
          r1[k] = row[j];
          rcmin[k] = problem.rc[k];
          int32_t column = 0;
          for (int32_t i = 0; i < items; ++i) {
            if (i == j) continue;
            rrest[static_cast<size_t>(k) * others + column] = row[i];
            ++column;
          }
        }
        int32_t column = 0;
        for (int32_t i = 0; i < items; ++i) {
          if (i == j) continue;
          pimin[column] = pi[i];
          ++column;
        }
        for (int32_t k = 0; k < earlier; ++k) {
          const float s = row_times_state(rrest.data() + static_cast<size_t>(k) * others, pimin.data(), others);
          lowup[k] = (rcmin[k] - s) / std::fabs(r1[k]);
        }
        for (int32_t k = 0; k < earlier; ++k) interval.bound_by(r1[k], lowup[k]);
      }

      float feval = 0.0f;
      numlib::RNUN(1, &feval);
      pi[j] = drawn_value(phase, problem.x[j], interval, feval, pi[j]);
    }

    for (int32_t k = 0; k < restrictions; ++k) {
      eval[k] = row_times_state(problem.row(k), pi, items) - problem.rc[k];
    }
    SmallestSlack small;
    for (int32_t k = 0; k < stage; ++k) small.take(eval[k]);
    if (small.hit()) crestr.add_hit();
  }
  return crestr.share();
}

}  // namespace propbf::driver
