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
// are then made a chunk of attempts at a time ahead of their use, by the drawing thread
// itself or by a second thread (draw_in_blocks).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "numeric/huge_page.hpp"
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

// Chunks of attempts after a seed made by one thread (produce) for another (chunk),
// through a ring of slots. The consumer takes chunks in order; one that is not ready
// when it is needed, the consumer makes itself (the same values), and the producer
// skips what the consumer has passed. Hand-off: a slot's data is written before its
// chunk number is published (release) and read after it is seen (acquire); a slot is
// refilled only after the consumer has announced (release) that it moved past it.
class AttemptLogQueue {
 public:
  static constexpr int32_t kChunk = 1024;  // attempts
  static constexpr int32_t kSlots = 64;

  AttemptLogQueue(int32_t seed, float scale);
  int32_t seed() const { return seed_; }

  // The producer's loop, until stop().
  void produce();
  // Ends produce() (from the consumer's thread).
  void stop();
  // The consumer: chunk n's values, from the ring if ready, else made into `own`
  // (kChunk values). Announces that chunks before n are no longer read.
  const AttemptLogs* chunk(int64_t n, AttemptLogs* own);

 private:
  void announce();

  int32_t seed_;
  float scale_;
  std::unique_ptr<AttemptLogs[], FreeStorage> slots_;  // on a huge page where granted
  std::unique_ptr<std::atomic<int64_t>[]> published_;  // the chunk each slot holds, or -1
  std::atomic<int64_t> consumed_{0};   // the consumer reads chunks from this one on
  std::atomic<int32_t> signal_{0};     // bumped at each announcement and at stop
  std::atomic<int64_t> wake_at_{0};   // a waiting producer wants consumed_ to reach this
  std::atomic<bool> producer_waits_{false};
  std::atomic<bool> stopping_{false};
};

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

  // `cycles` cycles as successive draw(block_cycles, .) calls (the last one shorter),
  // each block handed to `take(block, cycles in it)` before the next is drawn. With
  // `threads` = 2 and every shape of method C, a second OpenMP thread makes the
  // attempts' logarithms ahead while the calling thread draws and takes the blocks.
  // Same deviates, generator and errors for either thread count.
  void draw_in_blocks(int64_t cycles, int32_t block_cycles, int threads,
                      const std::function<void(const float*, int32_t)>& take);

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

  // Method C throughout: attempts' logarithms a chunk at a time, from `queue_` when set.
  void draw_log_logistic(int32_t cycles, float* out);

  std::vector<float> pins_, qins_;
  std::vector<Shape> shapes_;
  bool arranged_ = true;
  bool all_log_logistic_ = true;

  // Position of draw_log_logistic: attempts taken after `origin_`, the seed it started
  // from; a later call that does not start where the last one ended starts afresh.
  int32_t origin_ = 0;
  int64_t attempts_ = -1;  // -1: nothing drawn yet
  AttemptLogQueue* queue_ = nullptr;
  std::vector<AttemptLogs> own_;        // a chunk made by this thread
  int64_t chunk_index_ = -1;            // the chunk chunk_ points to, or -1
  const AttemptLogs* chunk_ = nullptr;  // into own_ or the queue
};

}  // namespace propbf::numlib
