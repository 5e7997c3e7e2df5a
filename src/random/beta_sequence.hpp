// Single beta deviates drawn over and over through a fixed cycle of shapes, as the loop
//
//   for each cycle:  for k = 1 .. K:  RNBET(1, PIN(k), QIN(k), R);  out(k) := R(1)
//
// draws them: the same deviates bit for bit, the same uniforms consumed in the same
// order, the generator left at the same place, and the same terminal error at the same
// call when a shape is rejected. Only the arithmetic around the draws is arranged for
// speed: the method, its set-up and the clamp are fixed once per shape instead of once
// per call, the generator's seed stays in a register, and the uniforms are made in
// blocks ahead of their use.
//
// Shapes taken this way: both finite, and either a shape equal to 1 with the other
// positive (method P: one uniform per deviate) or both above 1 (method C: two uniforms
// per attempt). A cycle with any other shape is drawn by the plain RNBET loop above.
//
// When every shape of the cycle takes method C, attempt i always reads the uniforms
// 2i + 1 and 2i + 2 after the starting seed, whichever deviate it serves, and two of its
// three logarithms, ln(u1 / (1 - u1)) and ln(u1^2 u2), do not depend on the shapes. They
// are then made a chunk of attempts at a time ahead of their use. The attempts then also
// split between two threads (draw_in_blocks): the second starts further on with a guess
// of the shape its first attempt serves, and the first thread, once it knows the true
// shape there, redraws from that attempt until both paths serve the same shape at the
// same attempt; from there on they are the same path, so the second thread's deviates
// are taken as they stand.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "concurrency/executor.hpp"
#include "concurrency/huge_page.hpp"
#include "random/beta_methods.hpp"

namespace propbf::numlib {

// The shape-free values of one log-logistic attempt from its uniforms u1, u2.
struct AttemptLogs {
  float log_odds;  // ln(u1 / (1 - u1))
  float z;         // u1^2 u2
  float log_z;     // ln z
};

// Attempts first .. first + count - 1 after `seed` (attempt i reads the uniforms 2i + 1
// and 2i + 2), each value as log_logistic_terms forms it.
void fill_attempt_logs(int32_t seed, float scale, int64_t first, int32_t count, AttemptLogs* out);

// Attempts' logarithms after a seed made ahead of the draws that use them, by a thread
// that would otherwise wait (beside the sweeps, which leave the generator where the
// draws will start). The draws use them only when they start from the same seed with
// the same scale.
class AttemptLogsAhead {
 public:
  // Room for `capacity` attempts (rounded down to whole chunks); none when the storage
  // cannot be obtained.
  AttemptLogsAhead(int32_t origin, float scale, int64_t capacity);

  // Makes chunks of attempts, in order from where the last call stopped, until `stop`
  // returns true (asked before each chunk) or the room is full. One thread at a time.
  void make_until(const std::function<bool()>& stop);

  int32_t origin() const { return origin_; }
  float scale() const { return scale_; }
  // Attempts made: attempts 0 .. made() - 1 after the origin. Read it only after the
  // thread that made them has been joined.
  int64_t made() const { return made_; }
  const AttemptLogs* logs() const { return logs_.get(); }

 private:
  int32_t origin_;
  float scale_;
  int64_t capacity_ = 0;
  int64_t made_ = 0;
  std::unique_ptr<AttemptLogs[], concurrency::FreeStorage> logs_;  // on huge pages where granted
};

// The most attempts a round of draw_in_blocks' split takes (at least 8192); 0 restores the
// default. For tests of rounds that do not cover a whole draw.
void set_split_round_attempts_for_testing(int32_t attempts);

class RepeatedBetaDraws {
 public:
  // pins[k], qins[k], k = 0 .. count - 1: the shapes of one cycle, in draw order.
  RepeatedBetaDraws(const float* pins, const float* qins, int32_t count);

  // Draws `cycles` whole cycles from the calling thread's generator into
  // out[c * count + k]. Posts what RNBET posts, at the same draw.
  void draw(int32_t cycles, float* out);

  // Whether every shape of the cycle takes the arranged path (otherwise the plain loop).
  bool arranged() const { return arranged_; }
  // Whether every shape takes method C, so that attempts' logarithms can be made ahead.
  bool all_log_logistic() const { return all_log_logistic_; }

  // `cycles` cycles handed to `take(block, cycles in it)` in blocks of `block_cycles`
  // (the last one shorter), as successive draw(block_cycles, .) calls would draw them.
  // With an `executor` of two threads and every shape of method C, the attempts split
  // between the calling thread and the executor's helper in rounds (see the top of this
  // file); `take` is called on the calling thread. Same deviates, generator and errors
  // either way. Attempts' logarithms in `ahead` (when not null) are taken instead of
  // made, where it starts at the same seed.
  void draw_in_blocks(int64_t cycles, int32_t block_cycles, const std::function<void(const float*, int32_t)>& take,
                      const AttemptLogsAhead* ahead = nullptr, concurrency::Executor* executor = nullptr);

  // The plain loop: one RNBET(1, ...) call per deviate. The reference for the above.
  static void draw_plain(const float* pins, const float* qins, int32_t count, int32_t cycles,
                         float* out);

 private:
  enum class Kind : uint8_t { PowerOfUniform, OneMinusPower, LogLogistic };
  struct Shape {
    Kind kind;
    float exponent;                  // P: 1/PIN when QIN = 1, else 1/QIN
    beta::LogLogisticSetup setup;    // C
  };

  // Method C throughout: attempts' logarithms a chunk at a time.
  void draw_log_logistic(int32_t cycles, float* out);

  // A run of attempts of method C for the split draws.
  struct Segment {
    int64_t first = 0;             // its first attempt, counted from the starting seed
    int32_t attempts = 0;          // attempts it may take (with `claims`: it covered)
    int32_t shape = 0;             // the shape its first deviate serves (true or guessed)
    int32_t limit = 0;             // it stops after this many deviates
    float* deviates = nullptr;     // its deviates, clamped, in order
    int32_t* taken_at = nullptr;   // the attempt (from `first`) that gave each deviate, or null
    int32_t produced = 0;          // deviates made
    int32_t used = 0;              // attempts taken
    // When not null, the segment's chunks of attempts are claimed one at a time from
    // here: the next chunk in the low 32 bits, the end (exclusive) in the high 32 bits,
    // which the other thread may lower to take the tail (see draw_split).
    std::atomic<uint64_t>* claims = nullptr;
  };
  // Where the attempts' logarithms come from: made ahead up to `made`, else made here.
  struct LogSource {
    int32_t origin;
    float scale;
    const AttemptLogs* ahead;  // attempts 0 .. made - 1, or nullptr
    int64_t made;
    // Attempts first .. first + count - 1: a pointer into `ahead`, or made into `own`.
    const AttemptLogs* get(int64_t first, int32_t count, AttemptLogs* own) const;
  };
  void run_segment(const LogSource& source, Segment& segment) const;
  // The true path from `shape` at `segment`'s first attempt on, as far as needed: drawn
  // here until it joins the segment's path, then the segment's deviates as they stand.
  // Advances `produced` and `attempts` (the true path's deviates and attempts, the
  // deviates handed to `put`). Returns the true shape after the segment.
  int32_t join_segment(const LogSource& source, const Segment& segment, int32_t shape, int64_t total,
                       int64_t& produced, int64_t& attempts, const std::function<void(const float*, int64_t)>& put) const;
  void draw_split(int64_t cycles, int32_t block_cycles,
                  const std::function<void(const float*, int32_t)>& take, const AttemptLogsAhead* ahead,
                  concurrency::Executor& executor);

  std::vector<float> pins_, qins_;
  std::vector<Shape> shapes_;
  bool arranged_ = true;
  bool all_log_logistic_ = true;

  // Position of draw_log_logistic: attempts taken after `origin_`, the seed it started
  // from; a later call that does not start where the last one ended starts afresh.
  int32_t origin_ = 0;
  int64_t attempts_ = -1;  // -1: nothing drawn yet
  std::vector<AttemptLogs> chunk_;  // the logarithms of the current chunk of attempts
  int64_t chunk_index_ = -1;        // which chunk that is, or -1

  // The smallest p dividing the cycle's length with shape k + p = shape k for every k:
  // paths that serve shapes p apart serve equal shapes.
  int32_t period_ = 1;
};

}  // namespace propbf::numlib
