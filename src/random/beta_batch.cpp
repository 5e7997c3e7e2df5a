// The batch method for NR > 4 with both shapes above 1.
//
// The density is scaled to f(m) = 1 at its mode m. Between the two inflection points
// x1 < m < x4 it is concave and is covered by rectangles under it (heights f1 and f4)
// and bands above them up to 1; between the inflection points and the feet of their
// tangents (x0 and x5) by rectangles under it (heights f0 and f5) and triangles above
// them; beyond the feet by exponential tails. A region that lies wholly under the
// density accepts without evaluating it; only the final test takes logarithms.
//
// Uniforms per attempt: one for a rectangle, two for a band or a tail, three for a
// triangle (the larger of two gives a linear density).
#include <cmath>
#include <cstdint>

#include "random/beta_methods.hpp"
#include "random/random.hpp"

namespace propbf::numlib::beta {

float BatchSetup::g(float x) const { return q1 * std::log(1.0f - x) + (p1 * std::log(x) + c); }

BatchSetup make_batch_setup(float pin, float qin) {
  BatchSetup z;
  z.p1 = pin - 1.0f;
  z.q1 = qin - 1.0f;
  z.s = z.q1 + z.p1;
  z.m = z.p1 / z.s;
  z.c = z.s * std::log(z.s) - z.p1 * std::log(z.p1) - z.q1 * std::log(z.q1);
  // Without an inflection piece the majorant there is the plain band up to 1.
  z.x0 = 0.0f;
  z.x1 = 0.0f;
  z.f0 = 0.0f;
  z.f1 = 0.0f;
  z.x4 = 1.0f;
  z.x5 = 1.0f;
  z.f4 = 0.0f;
  z.f5 = 0.0f;
  z.lambda0 = 0.0f;
  z.lambda5 = 0.0f;
  const float one_plus_delta = 1.0f + kInflectionMargin;
  if (z.s > one_plus_delta) {
    // Distance from the mode to each inflection point.
    const float d = std::sqrt(z.q1 * z.p1 / (z.s - 1.0f)) / z.s;
    // Left pieces only if the left inflection point lies inside (0, m) with a relative
    // margin.
    if (z.m > one_plus_delta * d) {
      z.x1 = z.m - d;
      z.x0 = z.x1 - (1.0f - z.x1) * z.x1 / (z.p1 - z.s * z.x1);  // tangent at x1 meets 0
      z.lambda0 = z.p1 / z.x0 - z.q1 / (1.0f - z.x0);
      z.f0 = std::exp(z.g(z.x0));
      z.f1 = std::exp(z.g(z.x1));
    }
    // Right pieces only if the right inflection point lies inside (m, 1) with an
    // absolute margin.
    if ((1.0f - z.m) - kInflectionMargin > d) {
      z.x4 = d + z.m;
      z.x5 = z.x4 - (1.0f - z.x4) * z.x4 / (z.p1 - z.s * z.x4);
      z.lambda5 = z.q1 / (1.0f - z.x5) - z.p1 / z.x5;
      z.f4 = std::exp(z.g(z.x4));
      z.f5 = std::exp(z.g(z.x5));
    }
  }
  // Running sums of the pieces' areas; a piece whose condition fails adds nothing.
  float* A = z.A;
  A[0] = 0.0f;
  A[1] = z.f1 > 0.0f ? (z.m - z.x1) * z.f1 : 0.0f;                // rectangle x1..m
  A[2] = z.f4 > 0.0f ? A[1] + (z.x4 - z.m) * z.f4 : A[1];         // rectangle m..x4
  A[3] = z.f0 > 0.0f ? A[2] + (z.x1 - z.x0) * z.f0 : A[2];        // rectangle x0..x1
  A[4] = z.f5 > 0.0f ? A[3] + (z.x5 - z.x4) * z.f5 : A[3];        // rectangle x4..x5
  A[5] = A[4] + (1.0f - z.f1) * (z.m - z.x1);                     // band f1..1 left
  A[6] = A[5] + (1.0f - z.f4) * (z.x4 - z.m);                     // band f4..1 right
  A[7] = z.f1 > z.f0 ? A[6] + 0.5f * ((z.f1 - z.f0) * (z.x1 - z.x0)) : A[6];  // triangle
  A[8] = z.f4 > z.f5 ? A[7] + 0.5f * ((z.x5 - z.x4) * (z.f4 - z.f5)) : A[7];  // triangle
  A[9] = z.f0 > 0.0f ? A[8] + z.f0 / z.lambda0 : A[8];            // tail left of x0
  A[10] = z.f5 > 0.0f ? A[9] + z.f5 / z.lambda5 : A[9];           // tail right of x5
  return z;
}

namespace {

// The point (x, h) lies under the majorant; accept it if it also lies under f.
bool final_test(const BatchSetup& z, float x, float h) {
  // h <= 0 is under any density.
  if (h <= 0.0f) return true;
  const float t = std::log(h);
  // Squeeze: g(x) = -s KL(m || x) <= -2s (x - m)^2 (Pinsker), so a point above that
  // bound lies above f.
  if (t > -(2.0f * z.s) * ((x - z.m) * (x - z.m))) return false;
  if (x >= 1.0f) return false;
  // The density itself: reject when ln h > g(x).
  return !(t > z.g(x));
}

}  // namespace

BatchAttempt batch_attempt(const BatchSetup& z) {
  const float* A = z.A;
  const float u = RNUNF();
  const float v = A[10] * u;
  if (v <= A[4]) {
    // Rectangles under the density: uniform in x, accepted at once.
    float x;
    if (v <= A[1]) {
      x = v / z.f1 + z.x1;
    } else if (v <= A[2]) {
      x = (v - A[1]) / z.f4 + z.m;
    } else if (v <= A[3]) {
      x = (v - A[2]) / z.f0 + z.x0;
    } else {
      x = (v - A[3]) / z.f5 + z.x4;
    }
    return {BatchRegion::Rectangle, true, false, x};
  }
  const float u2 = RNUNF();
  float x;
  float h;
  BatchRegion region;
  if (v <= A[5]) {
    // Left band between f1 and 1 over (x1, m); f is concave there, so the part below
    // the chord from (x1, f1) to (m, 1) is under f: u2 >= (v - A4) / (A5 - A4).
    region = BatchRegion::LeftBand;
    x = (z.m - z.x1) * u2 + z.x1;
    if (u2 >= (v - A[4]) / (A[5] - A[4])) return {region, true, false, x};
    h = (v - A[4]) / (z.m - z.x1) + z.f1;
  } else if (v <= A[6]) {
    // Right band over (m, x4), chord from (m, 1) to (x4, f4): u2 <= (A6 - v) / (A6 - A5).
    region = BatchRegion::RightBand;
    x = (z.x4 - z.m) * u2 + z.m;
    if (u2 <= (A[6] - v) / (A[6] - A[5])) return {region, true, false, x};
    h = (v - A[5]) / (z.x4 - z.m) + z.f4;
  } else if (v <= A[8]) {
    const float u3 = RNUNF();
    const float w = u2 > u3 ? u2 : u3;  // the larger of two uniforms: density 2w
    if (v <= A[7]) {
      // Left triangle over (x0, x1) between f0 and the chord to (x1, f1). f is convex
      // here, so a point below its tangent at x1, h < f1 w (strict), is under f.
      region = BatchRegion::LeftTriangle;
      x = (z.x1 - z.x0) * w + z.x0;
      h = (v - A[6]) * (2.0f * w) / (z.x1 - z.x0) + z.f0;
      if (h < z.f1 * w) return {region, true, false, x};
    } else {
      // Right triangle over (x4, x5) between f5 and the chord to (x4, f4); below the
      // tangent at x4, h <= f4 w, is under f.
      region = BatchRegion::RightTriangle;
      x = z.x5 - (z.x5 - z.x4) * w;
      h = (v - A[7]) * (2.0f * w) / (z.x5 - z.x4) + z.f5;
      if (h <= z.f4 * w) return {region, true, false, x};
    }
  } else if (v <= A[9]) {
    // Left tail: exponential with rate lambda0 below x0.
    region = BatchRegion::LeftTail;
    const float r = (A[9] - v) / (A[9] - A[8]);
    x = std::log(r) / z.lambda0 + z.x0;
    // Outside (0, 1): reject.
    if (x <= 0.0f) return {region, false, false, x};
    // Under the tangent line of f at x0: u2 <= (1 + (x - x0) lambda0) / r.
    if (u2 <= (1.0f + (x - z.x0) * z.lambda0) / r) return {region, true, false, x};
    h = u2 * z.f0 * r;
  } else {
    // Right tail: exponential with rate lambda5 above x5.
    region = BatchRegion::RightTail;
    const float r = (A[10] - v) / (A[10] - A[9]);
    x = z.x5 - std::log(r) / z.lambda5;
    // Outside (0, 1): reject.
    if (x >= 1.0f) return {region, false, false, x};
    // Under the tangent line of f at x5: u2 <= ((x5 - x) lambda5 + 1) / r.
    if (u2 <= ((z.x5 - x) * z.lambda5 + 1.0f) / r) return {region, true, false, x};
    h = u2 * z.f5 * r;
  }
  return {region, final_test(z, x, h), true, x};
}

void fill_batch(const BatchSetup& setup, const Clamp& clamp, int32_t nr, float* r) {
  for (int32_t i = 0; i < nr; ++i) {
    BatchAttempt attempt;
    do {
      attempt = batch_attempt(setup);
    } while (!attempt.accepted);
    r[i] = clamp(attempt.x);
  }
}

}  // namespace propbf::numlib::beta
