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

// One addition of a matrix-vector sum: the float partial sum plus the exact product
// (a product of two floats is exact in double), rounded once to double and then to float.
inline float add_product(float sum, float coefficient, float value) {
  return static_cast<float>(static_cast<double>(sum) +
                            static_cast<double>(coefficient) * static_cast<double>(value));
}

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
      float low = 0.0f;
      float up = 1.0f;
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
        for (int32_t k = 0; k < earlier; ++k) {
          if (r1[k] > 0.0f) {
            low = (low > lowup[k]) ? low : lowup[k];
          } else if (r1[k] < 0.0f) {
            up = (-lowup[k] < up) ? -lowup[k] : up;
          }
          // A zero (or NaN) coefficient sets no bound.
        }
      }

      float feval = 0.0f;
      numlib::RNUN(1, &feval);
      const float u = feval;
      if (phase == Phase::Complexity) {
        feval = (up - low) * u;
        pi[j] = low + feval;
      } else if (problem.x[j] == 1) {
        // Density proportional to pi on [low, up], by inversion.
        const float a = up * up;
        const float b = low * low;
        const float d = (a - b) * u;
        pi[j] = std::sqrt(low * low + d);
      } else if (problem.x[j] == 0) {
        // Density proportional to 1 - pi on [low, up], by inversion of 2 pi - pi^2.
        const float a = 2.0f * up;
        float b = low * low - 2.0f * low;
        b = b + a;
        b = b - up * up;
        b = b * u;
        float c = 2.0f * low - low * low;
        c = c + b;
        const float e = 4.0f - 4.0f * c;
        pi[j] = 1.0f - 0.5f * std::sqrt(e);
      }
      // Any other observation keeps the item where it is; the deviate is discarded.
    }

    for (int32_t k = 0; k < restrictions; ++k) {
      eval[k] = row_times_state(problem.row(k), pi, items) - problem.rc[k];
    }
    float small = std::numeric_limits<float>::infinity();
    for (int32_t k = 0; k < stage; ++k) {
      small = (small < eval[k]) ? small : eval[k];  // a NaN slack replaces the running value
    }
    if (small > 0.0f) crestr.add_hit();
  }
  return crestr.share();
}

}  // namespace propbf::driver
