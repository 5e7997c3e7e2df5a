// Repeated single beta draws through a fixed cycle of shapes, arranged for speed.
//
// What stays exactly as RNBET does it, draw by draw: the method chosen by the shapes
// (and NR = 1), every operation of its attempt in the written order and precision, the
// acceptance tests in order, the clamp, and the uniforms one after another from the
// same sequence (one per power draw, two per log-logistic attempt, rejected attempts
// included). What changes: the method, set-up and clamp are found once per shape; the
// uniforms come from a block made ahead with the generator's own integer step; the
// seed is written back once per call, at the last uniform used.
#include "random/beta_sequence.hpp"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <new>

#include "numeric/machine.hpp"
#include "random/random.hpp"

namespace propbf::numlib {

namespace {

constexpr uint32_t power_mod(uint32_t base, int exponent) {
  uint32_t result = 1;
  for (int i = 0; i < exponent; ++i) result = multiply_mod(result, base);
  return result;
}

// The uniforms after a given seed, made in blocks: lanes of eight seeds step by 16807^8.
class UniformBlock {
 public:
  static constexpr int kLanes = 8;
  static constexpr int kSize = 512;  // a multiple of kLanes

  UniformBlock(uint32_t seed, float scale) : last_seed_(seed), scale_(scale) {}

  // Makes sure at least `needed` (at most kLanes) unread uniforms are in the block.
  void ensure(int needed) {
    if (end_ - next_ >= needed) return;
    refill();
  }
  float take() { return uniforms_[next_++]; }
  // The seed after the last uniform taken.
  uint32_t seed_after_taken() const { return next_ == 0 ? last_seed_ : seeds_[next_ - 1]; }
  // Uniforms taken since the block was made.
  int64_t taken() const { return taken_before_ + next_; }

 private:
  void refill() {
    const uint32_t before = seed_after_taken();
    // The seed of the last uniform made (before itself when none is left unread).
    uint32_t seed = end_ > next_ ? seeds_[end_ - 1] : before;
    int kept = 0;
    for (int i = next_; i < end_; ++i, ++kept) {
      seeds_[kept] = seeds_[i];
      uniforms_[kept] = uniforms_[i];
    }
    last_seed_ = before;
    taken_before_ += next_;
    // The next kLanes seeds one step at a time, then each lane jumps kLanes steps.
    for (int i = kept; i < kept + kLanes; ++i) {
      seed = multiply_mod(seed, static_cast<uint32_t>(kMultiplier));
      seeds_[i] = seed;
    }
    constexpr uint32_t jump = power_mod(static_cast<uint32_t>(kMultiplier), kLanes);
    for (int i = kept + kLanes; i < kSize; ++i) seeds_[i] = multiply_mod(seeds_[i - kLanes], jump);
    const double scale = static_cast<double>(scale_);
    for (int i = kept; i < kSize; ++i) {
      uniforms_[i] = static_cast<float>(static_cast<double>(seeds_[i]) * scale);
    }
    next_ = 0;
    end_ = kSize;
  }

  uint32_t seeds_[kSize];
  float uniforms_[kSize];
  int next_ = 0;
  int end_ = 0;
  int64_t taken_before_ = 0;  // uniforms taken before uniforms_[0]
  uint32_t last_seed_;        // the seed before uniforms_[0]
  float scale_;
};

}  // namespace

void fill_attempt_logs(int32_t seed, float scale, int64_t first, int32_t count, AttemptLogs* out) {
  UniformBlock uniforms(static_cast<uint32_t>(advance_seed(seed, 2 * first)), scale);  // before u1 of `first`
  for (int32_t i = 0; i < count; ++i) {
    uniforms.ensure(2);
    const float u1 = uniforms.take();
    const float u2 = uniforms.take();
    const float z = u1 * u1 * u2;
    out[i] = {std::log(u1 / (1.0f - u1)), z, std::log(z)};
  }
}

AttemptLogQueue::AttemptLogQueue(int32_t seed, float scale)
    : seed_(seed),
      scale_(scale),
      slots_(static_cast<AttemptLogs*>(
          allocate_huge_page_aligned(sizeof(AttemptLogs) * static_cast<size_t>(kSlots) * kChunk))),
      published_(new std::atomic<int64_t>[kSlots]) {
  if (!slots_) throw std::bad_alloc();
  for (int32_t i = 0; i < kSlots; ++i) published_[i].store(-1, std::memory_order_relaxed);
}

void AttemptLogQueue::produce() {
  int64_t n = 0;  // the next chunk to make
  while (!stopping_.load(std::memory_order_acquire)) {
    const int64_t consumed = consumed_.load(std::memory_order_acquire);
    if (n < consumed) n = consumed;  // the consumer made those itself
    if (n < consumed + kSlots) {
      // Slot n mod kSlots last held a chunk before `consumed`, which is no longer read.
      const int32_t slot = static_cast<int32_t>(n % kSlots);
      fill_attempt_logs(seed_, scale_, n * kChunk, kChunk, slots_.get() + static_cast<size_t>(slot) * kChunk);
      published_[slot].store(n, std::memory_order_release);
      ++n;
      continue;
    }
    // The ring is full: sleep until the consumer has freed half of it, or stops. The
    // consumer bumps signal_ after each move and wakes a waiting producer once consumed_
    // reaches wake_at_; the checks after announcing the wait see any move made before.
    const int32_t signal = signal_.load(std::memory_order_seq_cst);
    const int64_t wake_at = n - kSlots / 2;
    wake_at_.store(wake_at, std::memory_order_relaxed);
    producer_waits_.store(true, std::memory_order_seq_cst);
    if (!stopping_.load(std::memory_order_seq_cst) && consumed_.load(std::memory_order_seq_cst) < wake_at) {
      signal_.wait(signal, std::memory_order_seq_cst);
    }
    producer_waits_.store(false, std::memory_order_seq_cst);
  }
}

void AttemptLogQueue::announce() {
  signal_.fetch_add(1, std::memory_order_seq_cst);
  if (producer_waits_.load(std::memory_order_seq_cst) &&
      consumed_.load(std::memory_order_relaxed) >= wake_at_.load(std::memory_order_relaxed)) {
    signal_.notify_one();
  }
}

void AttemptLogQueue::stop() {
  stopping_.store(true, std::memory_order_seq_cst);
  signal_.fetch_add(1, std::memory_order_seq_cst);
  signal_.notify_one();
}

const AttemptLogs* AttemptLogQueue::chunk(int64_t n, AttemptLogs* own) {
  // Chunks before n are no longer read: the producer may refill their slots.
  consumed_.store(n, std::memory_order_release);
  announce();
  const int32_t slot = static_cast<int32_t>(n % kSlots);
  if (published_[slot].load(std::memory_order_acquire) == n) return slots_.get() + static_cast<size_t>(slot) * kChunk;
  fill_attempt_logs(seed_, scale_, n * kChunk, kChunk, own);
  return own;
}

RepeatedBetaDraws::RepeatedBetaDraws(const float* pins, const float* qins, int32_t count)
    : pins_(pins, pins + (count > 0 ? count : 0)), qins_(qins, qins + (count > 0 ? count : 0)) {
  shapes_.reserve(pins_.size());
  for (size_t k = 0; k < pins_.size(); ++k) {
    const float pin = pins_[k];
    const float qin = qins_[k];
    Shape shape{};
    if (!std::isfinite(pin) || !std::isfinite(qin) || !(pin > 0.0f) || !(qin > 0.0f)) {
      arranged_ = false;  // rejected, or not a number: the plain loop
    } else if (beta::choose_method(1, pin, qin) == beta::Method::Power) {
      // As fill_power: QIN = 1 takes u^(1/PIN), otherwise 1 - u^(1/QIN).
      shape.kind = qin == 1.0f ? Kind::PowerOfUniform : Kind::OneMinusPower;
      shape.exponent = qin == 1.0f ? 1.0f / pin : 1.0f / qin;
    } else if (beta::choose_method(1, pin, qin) == beta::Method::LogLogistic) {
      shape.kind = Kind::LogLogistic;
      shape.setup = beta::make_log_logistic_setup(pin, qin);
    } else {
      arranged_ = false;  // Johnk or switching: the plain loop
    }
    shapes_.push_back(shape);
    all_log_logistic_ = all_log_logistic_ && arranged_ && shape.kind == Kind::LogLogistic;
  }
  all_log_logistic_ = all_log_logistic_ && !shapes_.empty();
}

void RepeatedBetaDraws::draw_plain(const float* pins, const float* qins, int32_t count,
                                   int32_t cycles, float* out) {
  float r[1] = {0.0f};
  for (int32_t c = 0; c < cycles; ++c) {
    for (int32_t k = 0; k < count; ++k) {
      RNBET(1, pins[k], qins[k], r);
      out[static_cast<int64_t>(c) * count + k] = r[0];
    }
  }
}

void RepeatedBetaDraws::draw(int32_t cycles, float* out) {
  const int32_t count = static_cast<int32_t>(shapes_.size());
  if (cycles < 1 || count < 1) return;
  if (!arranged_) {
    draw_plain(pins_.data(), qins_.data(), count, cycles, out);
    return;
  }
  if (all_log_logistic_) {
    draw_log_logistic(cycles, out);
    return;
  }
  // Every shape here draws through RNUN, whose first-call rule the reservation applies.
  const UniformStream start = reserve_uniforms();
  const beta::Clamp clamp = beta::Clamp::from_machine();
  UniformBlock uniforms(static_cast<uint32_t>(start.seed()), random_state().scale);

  for (int32_t c = 0; c < cycles; ++c) {
    float* row = out + static_cast<int64_t>(c) * count;
    for (int32_t k = 0; k < count; ++k) {
      const Shape& shape = shapes_[static_cast<size_t>(k)];
      float x;
      if (shape.kind == Kind::LogLogistic) {
        const beta::LogLogisticSetup& z = shape.setup;
        for (;;) {
          uniforms.ensure(2);
          const float u1 = uniforms.take();
          const float u2 = uniforms.take();
          const beta::LogLogisticTerms terms = beta::log_logistic_terms(z, u1, u2);
          // The three tests of log_logistic_attempt are pure, so forming all of them
          // without a branch gives the written decision and lets attempts overlap: quick
          // (s + 1 + ln 5 >= 5z), s >= ln z, and not (r + alpha ln(alpha/(b + w)) < ln z).
          // The empty asm makes the compiler form the combined value before the one
          // branch; it would otherwise branch on the first two tests, which go either way
          // often.
          const float t = std::log(terms.z);
          const float bound = beta::log_logistic_bound(z, terms);
          unsigned accepted = static_cast<unsigned>(terms.s + beta::kOnePlusLogFive >= 5.0f * terms.z) |
                              static_cast<unsigned>(terms.s >= t) | static_cast<unsigned>(!(bound < t));
          asm("" : "+r"(accepted));
          if (accepted != 0) {
            x = terms.x;
            break;
          }
        }
      } else {
        uniforms.ensure(1);
        const float u = uniforms.take();
        x = shape.kind == Kind::PowerOfUniform ? std::pow(u, shape.exponent)
                                               : 1.0f - std::pow(u, shape.exponent);
      }
      row[k] = clamp(x);
    }
  }
  // The generator is left after the last uniform read, as RNUN leaves it.
  commit_uniforms(start.ahead(uniforms.taken()));
}

void RepeatedBetaDraws::draw_log_logistic(int32_t cycles, float* out) {
  const int32_t count = static_cast<int32_t>(shapes_.size());
  constexpr int32_t kChunk = AttemptLogQueue::kChunk;
  const UniformStream start = reserve_uniforms();
  const float scale = random_state().scale;
  if (attempts_ < 0 || advance_seed(origin_, 2 * attempts_) != start.seed()) {
    // Not where the last call ended (or the first call): attempts count from here.
    origin_ = start.seed();
    attempts_ = 0;
    chunk_index_ = -1;
  }
  AttemptLogQueue* queue = queue_ != nullptr && queue_->seed() == origin_ ? queue_ : nullptr;
  own_.resize(kChunk);
  const auto fetch = [&](int64_t n) {
    if (n != chunk_index_) {
      if (queue != nullptr) {
        chunk_ = queue->chunk(n, own_.data());
      } else {
        fill_attempt_logs(origin_, scale, n * kChunk, kChunk, own_.data());
        chunk_ = own_.data();
      }
      chunk_index_ = n;
    }
    return chunk_;
  };
  const beta::Clamp clamp = beta::Clamp::from_machine();
  const int64_t attempts_before = attempts_;
  int64_t n = attempts_ / kChunk;
  int32_t next = static_cast<int32_t>(attempts_ % kChunk);
  const AttemptLogs* logs = fetch(n);
  for (int32_t c = 0; c < cycles; ++c) {
    float* row = out + static_cast<int64_t>(c) * count;
    for (int32_t k = 0; k < count; ++k) {
      const beta::LogLogisticSetup& z = shapes_[static_cast<size_t>(k)].setup;
      float x;
      for (;;) {
        if (next == kChunk) {
          logs = fetch(++n);
          next = 0;
        }
        const AttemptLogs& attempt = logs[next++];
        const beta::LogLogisticTerms terms = beta::log_logistic_terms_from(z, attempt.log_odds, attempt.z);
        // The tests of log_logistic_attempt, formed without a branch as in draw().
        const float bound = beta::log_logistic_bound(z, terms);
        unsigned accepted = static_cast<unsigned>(terms.s + beta::kOnePlusLogFive >= 5.0f * terms.z) |
                            static_cast<unsigned>(terms.s >= attempt.log_z) |
                            static_cast<unsigned>(!(bound < attempt.log_z));
        asm("" : "+r"(accepted));
        if (accepted != 0) {
          x = terms.x;
          break;
        }
      }
      row[k] = clamp(x);
    }
  }
  attempts_ = n * kChunk + next;
  // Two uniforms an attempt; the generator is left after the last one read.
  commit_uniforms(start.ahead(2 * (attempts_ - attempts_before)));
}

void RepeatedBetaDraws::draw_in_blocks(int64_t cycles, int32_t block_cycles, int threads,
                                       const std::function<void(const float*, int32_t)>& take) {
  if (cycles < 1) return;
  block_cycles = std::max<int32_t>(block_cycles, 1);
  std::vector<float> block(static_cast<size_t>(block_cycles) * shapes_.size());
  const auto run = [&] {
    for (int64_t first = 0; first < cycles; first += block_cycles) {
      const int32_t n = static_cast<int32_t>(std::min<int64_t>(block_cycles, cycles - first));
      draw(n, block.data());
      take(block.data(), n);
    }
  };
  if (threads < 2 || !all_log_logistic_) {
    run();
    return;
  }
  // The first draw starts here (the first-call rule applies now instead of at that draw).
  AttemptLogQueue queue(reserve_uniforms().seed(), random_state().scale);
  queue_ = &queue;
  attempts_ = -1;
  std::exception_ptr failure;
#pragma omp parallel num_threads(2)
  {
    if (omp_get_thread_num() == 1) {
      queue.produce();
    } else {
      // Nothing may leave the parallel region; a failure is raised again after it.
      try {
        run();
      } catch (...) {
        failure = std::current_exception();
      }
      queue.stop();
    }
  }
  // (Should the runtime give one thread only, the calling thread made every chunk.)
  queue_ = nullptr;
  attempts_ = -1;  // the current chunk may point into the queue
  if (failure) std::rethrow_exception(failure);
}

}  // namespace propbf::numlib
