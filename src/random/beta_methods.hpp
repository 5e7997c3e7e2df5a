// The methods behind RNBET, one per region of the shape parameters, with their set-up
// values and single attempts exposed so that each acceptance test can be exercised on
// its own.
//
// Every attempt draws its uniforms from the calling thread's generator: J, S and C take
// two per attempt through RNUN(2, .), the batch method one to three through RNUNF().
// All arithmetic is single precision, in the order written in each function.
#pragma once

#include <cmath>
#include <cstdint>

namespace propbf::numlib::beta {

// ---------------------------------------------------------------------------------
// Method choice and the final clamp
// ---------------------------------------------------------------------------------

enum class Method {
  Johnk,        // J: both shapes below 1
  Power,        // P: a shape equal to 1, inversion by a power
  Switching,    // S: one shape below 1, the other above 1
  LogLogistic,  // C: both above 1, at most four deviates
  Batch,        // both above 1, five or more deviates
};

// The method for valid arguments (nr >= 1, both shapes positive or NaN), by the first
// rule that applies: both < 1: J; either == 1: P; either < 1: S; nr <= 4: C; else the
// batch method. A NaN shape fails every comparison, so NaN with a shape below 1 gives S
// and NaN otherwise C or the batch method.
Method choose_method(int32_t nr, float pin, float qin);

// Every stored deviate passes through this: x >= 1 becomes 1 - e4 (0.99999988), then
// x <= e3 becomes e3 (2^-24). So a stored deviate lies in [2^-24, 1); 0.99999994 is kept.
// NaN passes unchanged.
struct Clamp {
  float below_one;  // 1 - AMACH(4)
  float floor;      // AMACH(3), also the underflow bound of the Johnk method

  static Clamp from_machine();  // reads AMACH(4) and AMACH(3)
  float operator()(float x) const {
    if (x >= 1.0f) x = below_one;
    if (x <= floor) x = floor;
    return x;
  }
};

// R(first..NR), 1-based, become AMACH(6), the quiet NaN.
void fill_not_a_number(int32_t first, int32_t nr, float* r);

// ---------------------------------------------------------------------------------
// P: R(i) := u^(1/PIN) when QIN = 1, else 1 - u^(1/QIN). One uniform per deviate.
// ---------------------------------------------------------------------------------

void fill_power(int32_t nr, float pin, float qin, const Clamp& clamp, float* r);

// ---------------------------------------------------------------------------------
// J (Johnk): x = u1^(1/PIN), y = u2^(1/QIN), accept x / (x + y) when x + y <= 1.
// ---------------------------------------------------------------------------------

inline constexpr int32_t kJohnkAttemptLimit = 1000;  // counted (underflow) rejections

struct JohnkSetup {
  float pin_reciprocal;  // 1/PIN
  float qin_reciprocal;  // 1/QIN
  bool log_mode;         // 1/PIN > 2 and 1/QIN > 2: candidates may underflow
};
JohnkSetup make_johnk_setup(float pin, float qin);

enum class JohnkOutcome {
  SumAboveOne,  // x + y > 1: rejected, not counted
  Underflow,    // log mode, x < e3 or x + y < e3: rejected and counted
  Accepted,
};
struct JohnkAttempt {
  JohnkOutcome outcome;
  float x;  // x / (x + y) when accepted, before the clamp
};
JohnkAttempt johnk_attempt(const JohnkSetup& setup, float underflow_bound);

// Fills R(1..NR). Returns 0, or the 1-based index of the element whose counted
// attempts ran out (R from there on is then left for the caller).
int32_t fill_johnk(const JohnkSetup& setup, const Clamp& clamp, int32_t nr, float* r);

// ---------------------------------------------------------------------------------
// S (switching): a < 1 < b. Candidates from x^(a-1) on (0, t] and from (1-x)^(b-1) on
// (t, 1), mixed with probability p for the left piece.
// ---------------------------------------------------------------------------------

struct SwitchingSetup {
  float a, b;              // the shape below 1, the shape above 1
  bool swapped;            // a is QIN (PIN > 1): results become 1 - x
  float r;                 // (a - 1) / ((1 + b) - a), negative
  float t;                 // -r = (1 - a) / (b + 1 - a), the switch point
  float k;                 // t^(a - 1), the left density bound at t
  float p;                 // -(r b) / (a (1 + r)^b - r b), the left piece's weight
  float a_reciprocal;      // 1/a
  float b_reciprocal;      // 1/b
  float a_minus_one;       // a - 1
  float b_minus_one;       // b - 1
  bool usable() const;     // p is a number; otherwise no candidate could be accepted
};
SwitchingSetup make_switching_setup(float pin, float qin);

struct SwitchingAttempt {
  bool left_piece;  // u1 <= p
  bool accepted;
  float x;          // the candidate, already reflected when swapped
};
SwitchingAttempt switching_attempt(const SwitchingSetup& setup);

void fill_switching(const SwitchingSetup& setup, const Clamp& clamp, int32_t nr, float* r);

// ---------------------------------------------------------------------------------
// C (log-logistic candidates), both shapes above 1.
// ---------------------------------------------------------------------------------

inline constexpr float kLogFour = 1.386294f;         // 0x3FB17215, ln 4 to 7 digits
inline constexpr float kOnePlusLogFive = 2.609438f;  // 0x40270108, 1 + ln 5 to 7 digits

struct LogLogisticSetup {
  float a, b;            // the smaller and the larger shape (a = PIN when equal)
  bool small_is_first;   // PIN <= QIN: the deviate is w / (b + w), else b / (b + w)
  float alpha;           // a + b
  float beta;            // sqrt((alpha - 2) / (2ab - alpha))
  float gamma;           // a + 1/beta
};
LogLogisticSetup make_log_logistic_setup(float pin, float qin);

// The values of one attempt from its two uniforms, each operation in the method's
// order: v = beta ln(u1 / (1 - u1)), w = a e^v, z = u1^2 u2, r = gamma v - ln 4,
// s = a + r - w, and the candidate x (w / (b + w), or b / (b + w)).
struct LogLogisticTerms {
  float w, z, r, s, x;
};
// The same from the attempt's shape-free values: log_odds = ln(u1 / (1 - u1)) and z.
inline LogLogisticTerms log_logistic_terms_from(const LogLogisticSetup& setup, float log_odds, float z) {
  const float v = setup.beta * log_odds;
  const float w = setup.a * std::exp(v);
  const float r = setup.gamma * v - kLogFour;
  const float s = setup.a + r - w;
  const float x = setup.small_is_first ? w / (setup.b + w) : setup.b / (setup.b + w);
  return {w, z, r, s, x};
}
inline LogLogisticTerms log_logistic_terms(const LogLogisticSetup& setup, float u1, float u2) {
  return log_logistic_terms_from(setup, std::log(u1 / (1.0f - u1)), u1 * u1 * u2);
}
// The exact log ratio's bound of the last test: r + alpha ln(alpha / (b + w)).
inline float log_logistic_bound(const LogLogisticSetup& setup, const LogLogisticTerms& terms) {
  return terms.r + setup.alpha * std::log(setup.alpha / (setup.b + terms.w));
}

enum class LogLogisticOutcome {
  QuickAccept,   // s + 2.609438 >= 5z
  LogAccept,     // s >= ln z
  BoundAccept,   // r + alpha ln(alpha / (b + w)) >= ln z
  Rejected,
};
struct LogLogisticAttempt {
  LogLogisticOutcome outcome;
  float x;
};
LogLogisticAttempt log_logistic_attempt(const LogLogisticSetup& setup);

void fill_log_logistic(const LogLogisticSetup& setup, const Clamp& clamp, int32_t nr, float* r);

// ---------------------------------------------------------------------------------
// The batch method, both shapes above 1 and NR > 4: the density scaled to 1 at its mode
// under a majorant of rectangles, bands, triangles and exponential tails.
// ---------------------------------------------------------------------------------

inline constexpr float kInflectionMargin = 9.537e-7f;  // delta; 1 + delta = 1 + 2^-20

struct BatchSetup {
  float p1, q1, s;        // PIN - 1, QIN - 1, q1 + p1
  float m;                // the mode p1 / s
  float c;                // s ln s - p1 ln p1 - q1 ln q1, so that g(m) = 0
  float x0, x1, x4, x5;   // left tangent foot, left inflection, right inflection, right foot
  float f0, f1, f4, f5;   // f at those points (0 where the piece does not exist)
  float lambda0;          // slope of g at x0
  float lambda5;          // minus the slope of g at x5
  float A[11];            // A[1..10]: cumulative areas of the majorant's pieces; A[0] = 0

  // g(x) = q1 ln(1 - x) + (p1 ln x + c), the log of the scaled density.
  float g(float x) const;
};
BatchSetup make_batch_setup(float pin, float qin);

enum class BatchRegion {
  Rectangle,      // v <= A4: accepted at once, one uniform
  LeftBand,       // v <= A5
  RightBand,      // v <= A6
  LeftTriangle,   // v <= A7, three uniforms
  RightTriangle,  // v <= A8, three uniforms
  LeftTail,       // v <= A9
  RightTail,      // otherwise
};
struct BatchAttempt {
  BatchRegion region;
  bool accepted;
  bool final_test;  // the decision needed the density (the final test)
  float x;
};
BatchAttempt batch_attempt(const BatchSetup& setup);

void fill_batch(const BatchSetup& setup, const Clamp& clamp, int32_t nr, float* r);

}  // namespace propbf::numlib::beta
