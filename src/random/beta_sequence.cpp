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

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
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

// Attempts whose logarithms are made together.
constexpr int32_t kChunk = 1024;

// At most this many attempts per round of the split draws, shared between the threads
// (about 20 MB of deviates and attempt numbers at most). A round that joins the two
// paths late wastes part of its second segment, and that part does not grow with the
// round, so rounds are long: the replications of a few dozen stages take one. Below
// kSplitMinimum attempts a round runs on the calling thread alone.
constexpr int32_t kRoundAttempts = 1 << 21;
int32_t round_attempts = kRoundAttempts;
constexpr int32_t kSplitMinimum = 1 << 13;
// The second thread's tail is taken over when at least this many of its chunks are left.
constexpr uint32_t kStealMinimum = 16;

// The shape-free values of the attempt with uniforms u1, u2, as log_logistic_terms and
// the log test form them.
inline AttemptLogs attempt_logs(float u1, float u2) {
  const float z = u1 * u1 * u2;
  return {std::log(u1 / (1.0f - u1)), z, std::log(z)};
}

// Whether a method-C attempt with these shape-free values is accepted; its candidate in x.
// The tests of log_logistic_attempt in order: quick (s + 1 + ln 5 >= 5z), s >= ln z, and
// not (r + alpha ln(alpha / (b + w)) < ln z). The first two are pure and cheap, so both
// are formed without a branch between them (the quick test goes either way about half
// the time, and as a branch it kept successive attempts from overlapping); the empty asm
// keeps the compiler from splitting the combined value into two branches again. The
// third test, with its logarithm and division, is needed in a sixth to a third of the
// attempts and is taken behind a branch.
inline bool log_logistic_accepts(const beta::LogLogisticSetup& setup, const AttemptLogs& attempt, float& x) {
  const beta::LogLogisticTerms terms = beta::log_logistic_terms_from(setup, attempt.log_odds, attempt.z);
  x = terms.x;
  unsigned quick_or_log = static_cast<unsigned>(terms.s + beta::kOnePlusLogFive >= 5.0f * terms.z) |
                          static_cast<unsigned>(terms.s >= attempt.log_z);
  asm("" : "+r"(quick_or_log));
  if (quick_or_log != 0) return true;
  return !(beta::log_logistic_bound(setup, terms) < attempt.log_z);
}

// How many of the attempts begin .. begin + count - 1 go to the first of two threads so
// that both take about as long: an attempt whose logarithms were made ahead (those
// before `made`) costs about 0.7 of one whose logarithms are made with it.
int64_t balanced_first_part(int64_t begin, int64_t count, int64_t made) {
  const auto cost = [&](int64_t from, int64_t to) {
    return 10 * (to - from) - 3 * std::max<int64_t>(0, std::min(to, made) - from);
  };
  int64_t low = 0;
  int64_t high = count;
  while (low < high) {
    const int64_t middle = low + (high - low) / 2;
    if (cost(begin, begin + middle) >= cost(begin + middle, begin + count)) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return low;
}

// Deviates handed on in blocks of whole cycles.
class CycleBlocks {
 public:
  CycleBlocks(int32_t block_cycles, int32_t count, const std::function<void(const float*, int32_t)>& take)
      : block_(static_cast<size_t>(block_cycles) * static_cast<size_t>(count)), count_(count), take_(take) {}

  void put(const float* deviates, int64_t n) {
    while (n > 0) {
      const size_t part = static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(block_.size() - filled_)));
      std::copy(deviates, deviates + part, block_.begin() + static_cast<std::ptrdiff_t>(filled_));
      filled_ += part;
      deviates += part;
      n -= static_cast<int64_t>(part);
      if (filled_ == block_.size()) flush();
    }
  }
  void put(float deviate) { put(&deviate, 1); }
  // The last block, shorter (the deviates end with a whole cycle).
  void flush() {
    if (filled_ > 0) take_(block_.data(), static_cast<int32_t>(filled_ / static_cast<size_t>(count_)));
    filled_ = 0;
  }

 private:
  std::vector<float> block_;
  size_t filled_ = 0;
  int32_t count_;
  const std::function<void(const float*, int32_t)>& take_;
};

}  // namespace

void fill_attempt_logs(int32_t seed, float scale, int64_t first, int32_t count, AttemptLogs* out) {
  UniformBlock uniforms(static_cast<uint32_t>(advance_seed(seed, 2 * first)), scale);  // before u1 of `first`
  for (int32_t i = 0; i < count; ++i) {
    uniforms.ensure(2);
    const float u1 = uniforms.take();
    const float u2 = uniforms.take();
    out[i] = attempt_logs(u1, u2);
  }
}

void set_split_round_attempts_for_testing(int32_t attempts) {
  round_attempts = attempts > 0 ? std::max(attempts, kSplitMinimum) : kRoundAttempts;
}

AttemptLogsAhead::AttemptLogsAhead(int32_t origin, float scale, int64_t capacity)
    : origin_(origin), scale_(scale) {
  capacity = std::max<int64_t>(capacity, 0) / kChunk * kChunk;
  logs_.reset(static_cast<AttemptLogs*>(concurrency::allocate_huge_page_aligned(sizeof(AttemptLogs) * static_cast<size_t>(capacity))));
  if (logs_) capacity_ = capacity;
}

void AttemptLogsAhead::make_until(const std::function<bool()>& stop) {
  while (made_ + kChunk <= capacity_ && !stop()) {
    fill_attempt_logs(origin_, scale_, made_, kChunk, logs_.get() + made_);
    made_ += kChunk;
  }
}

const AttemptLogs* RepeatedBetaDraws::LogSource::get(int64_t first, int32_t count, AttemptLogs* own) const {
  if (ahead != nullptr && first + count <= made) return ahead + first;
  fill_attempt_logs(origin, scale, first, count, own);
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
  const int32_t length = static_cast<int32_t>(pins_.size());
  for (period_ = 1; period_ < length; ++period_) {
    if (length % period_ != 0) continue;
    bool repeats = true;
    for (int32_t k = 0; k < length && repeats; ++k) {
      const int32_t ahead = (k + period_) % length;
      repeats = pins_[k] == pins_[ahead] && qins_[k] == qins_[ahead];
    }
    if (repeats) break;
  }
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
          if (log_logistic_accepts(z, attempt_logs(u1, u2), x)) break;
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
  const UniformStream start = reserve_uniforms();
  const float scale = random_state().scale;
  if (attempts_ < 0 || advance_seed(origin_, 2 * attempts_) != start.seed()) {
    // Not where the last call ended (or the first call): attempts count from here.
    origin_ = start.seed();
    attempts_ = 0;
    chunk_index_ = -1;
  }
  chunk_.resize(kChunk);
  const auto fetch = [&](int64_t n) {
    if (n != chunk_index_) {
      fill_attempt_logs(origin_, scale, n * kChunk, kChunk, chunk_.data());
      chunk_index_ = n;
    }
    return chunk_.data();
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
        if (log_logistic_accepts(z, logs[next++], x)) break;
      }
      row[k] = clamp(x);
    }
  }
  attempts_ = n * kChunk + next;
  // Two uniforms an attempt; the generator is left after the last one read.
  commit_uniforms(start.ahead(2 * (attempts_ - attempts_before)));
}

void RepeatedBetaDraws::draw_in_blocks(int64_t cycles, int32_t block_cycles,
                                       const std::function<void(const float*, int32_t)>& take,
                                       const AttemptLogsAhead* ahead, concurrency::Executor* executor) {
  if (cycles < 1) return;
  block_cycles = std::max<int32_t>(block_cycles, 1);
  if (executor != nullptr && executor->threads() >= 2 && all_log_logistic_) {
    draw_split(cycles, block_cycles, take, ahead, *executor);
    return;
  }
  std::vector<float> block(static_cast<size_t>(block_cycles) * shapes_.size());
  for (int64_t first = 0; first < cycles; first += block_cycles) {
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(block_cycles, cycles - first));
    draw(n, block.data());
    take(block.data(), n);
  }
}

void RepeatedBetaDraws::run_segment(const LogSource& source, Segment& segment) const {
  const int32_t count = static_cast<int32_t>(shapes_.size());
  // A well-formed segment: attempts from a place on, a true or guessed shape of the
  // cycle, room for as many deviates as it may make.
  assert(segment.first >= 0 && segment.attempts >= 0 && segment.deviates != nullptr);
  assert(segment.shape >= 0 && segment.shape < count);
  assert(segment.limit >= 1 && segment.limit <= segment.attempts);
  const beta::Clamp clamp = beta::Clamp::from_machine();
  AttemptLogs own[kChunk];
  int32_t shape = segment.shape;
  int32_t made = 0;
  // The next chunk of the segment, or -1 when it is done (or its tail was taken).
  const auto next_chunk = [&](int32_t chunk) -> int32_t {
    if (segment.claims == nullptr) return chunk * kChunk < segment.attempts ? chunk : -1;
    uint64_t claims = segment.claims->load(std::memory_order_acquire);
    for (;;) {
      const auto claimed = static_cast<uint32_t>(claims);
      if (claimed >= claims >> 32) return -1;
      if (segment.claims->compare_exchange_weak(claims, claims + 1, std::memory_order_acq_rel)) {
        return static_cast<int32_t>(claimed);
      }
    }
  };
  // Kept in locals: the stores below could otherwise alias the segment's fields.
  const Shape* const shapes = shapes_.data();
  float* const deviates = segment.deviates;
  int32_t* const taken_at = segment.taken_at;
  const int32_t limit = segment.limit;
  int32_t chunk = 0;
  for (; (chunk = next_chunk(chunk)) >= 0; ++chunk) {
    const int32_t from = chunk * kChunk;
    const int32_t n = std::min(kChunk, segment.attempts - from);
    const AttemptLogs* logs = source.get(segment.first + from, n, own);
    for (int32_t i = 0; i < n; ++i) {
      float x;
      if (!log_logistic_accepts(shapes[shape].setup, logs[i], x)) continue;
      deviates[made] = clamp(x);
      if (taken_at != nullptr) taken_at[made] = from + i;
      shape = shape + 1 == count ? 0 : shape + 1;
      if (++made == limit) {
        segment.produced = made;
        segment.used = from + i + 1;
        return;
      }
    }
  }
  if (segment.claims != nullptr) {
    // Covered up to where the claims ended (the tail from there may have been taken).
    const auto end = static_cast<int32_t>(segment.claims->load(std::memory_order_acquire) >> 32);
    segment.attempts = std::min(segment.attempts, end * kChunk);
  }
  segment.produced = made;
  segment.used = segment.attempts;
  assert(segment.produced <= segment.limit && segment.used <= segment.attempts);
}

int32_t RepeatedBetaDraws::join_segment(const LogSource& source, const Segment& segment, int32_t shape,
                                        int64_t total, int64_t& produced, int64_t& attempts,
                                        const std::function<void(const float*, int64_t)>& put) const {
  const int32_t count = static_cast<int32_t>(shapes_.size());
  const beta::Clamp clamp = beta::Clamp::from_machine();
  AttemptLogs own[kChunk];
  const AttemptLogs* logs = own;
  int32_t at = 0;       // attempt, from the segment's first
  int32_t guessed = 0;  // the segment's deviates before `at`
  int32_t logs_from = -kChunk;
  for (; at < segment.attempts; ++at) {
    while (guessed < segment.produced && segment.taken_at[guessed] < at) ++guessed;
    if ((segment.shape + guessed) % count % period_ == shape % period_) {
      // The same path from here on: the segment's deviates as they stand.
      const int64_t kept = std::min<int64_t>(segment.produced - guessed, total - produced);
      put(segment.deviates + guessed, kept);
      produced += kept;
      const bool all = guessed + kept == segment.produced;
      attempts = segment.first + (all ? segment.attempts : segment.taken_at[guessed + kept - 1] + 1);
      return static_cast<int32_t>((shape + kept) % count);
    }
    if (at - logs_from >= kChunk) {
      logs_from = at;
      logs = source.get(segment.first + at, std::min(kChunk, segment.attempts - at), own);
    }
    float x;
    if (!log_logistic_accepts(shapes_[static_cast<size_t>(shape)].setup, logs[at - logs_from], x)) continue;
    const float deviate = clamp(x);
    put(&deviate, 1);
    shape = shape + 1 == count ? 0 : shape + 1;
    if (++produced == total) {
      attempts = segment.first + at + 1;
      return shape;
    }
  }
  // Not joined: the whole segment drawn here.
  attempts = segment.first + segment.attempts;
  return shape;
}

void RepeatedBetaDraws::draw_split(int64_t cycles, int32_t block_cycles,
                                   const std::function<void(const float*, int32_t)>& take,
                                   const AttemptLogsAhead* ahead, concurrency::Executor& executor) {
  const int32_t count = static_cast<int32_t>(shapes_.size());
  const UniformStream start = reserve_uniforms();
  const int32_t origin = start.seed();
  const float scale = random_state().scale;
  const int64_t total = cycles * count;
  const bool ahead_fits = ahead != nullptr && ahead->origin() == origin && ahead->scale() == scale;
  const LogSource source{origin, scale, ahead_fits ? ahead->logs() : nullptr, ahead_fits ? ahead->made() : 0};

  int64_t attempts = 0;  // attempts taken by the true path
  int64_t produced = 0;  // its deviates
  // Attempts to plan for the rest: method C accepts about 0.89 of its attempts; after a
  // round, the attempts per deviate seen so far.
  const auto wanted_for_rest = [&] {
    const double per_deviate = produced > 0 ? static_cast<double>(attempts) / static_cast<double>(produced) : 1.15;
    const double rest = static_cast<double>(total - produced) * per_deviate * 1.02 + 64.0;
    return static_cast<int64_t>(std::min(std::ceil(rest), static_cast<double>(round_attempts)));
  };

  // Each segment's deviates and attempt numbers, on huge pages where granted.
  // (A balanced split gives the first thread at most 0.59 of a round.)
  const size_t room = static_cast<size_t>(static_cast<double>(wanted_for_rest()) * 0.6) + 1;
  std::unique_ptr<void, concurrency::FreeStorage> storage(concurrency::allocate_huge_page_aligned(2 * room * (sizeof(float) + sizeof(int32_t))));
  if (!storage) throw std::bad_alloc();
  float* const deviates = static_cast<float*>(storage.get());
  int32_t* const taken_at = static_cast<int32_t*>(static_cast<void*>(deviates + 2 * room));
  Segment segments[2];
  for (size_t s = 0; s < 2; ++s) {
    segments[s].deviates = deviates + s * room;
    segments[s].taken_at = taken_at + s * room;
  }
  CycleBlocks blocks(block_cycles, count, take);
  const std::function<void(const float*, int64_t)> put = [&](const float* part, int64_t n) { blocks.put(part, n); };

  while (produced < total) {
    const int64_t left = total - produced;
    const int64_t wanted = std::min<int64_t>(wanted_for_rest(), static_cast<int64_t>(room / 0.6));
    Segment& first = segments[0];
    Segment& second = segments[1];
    const bool split = wanted >= kSplitMinimum;
    first.first = attempts;
    const int64_t most = static_cast<int64_t>(room);
    first.attempts = static_cast<int32_t>(
        split ? std::clamp(balanced_first_part(attempts, wanted, source.made), wanted - most, most)
              : std::min(wanted, most));
    first.shape = static_cast<int32_t>(produced % count);
    first.limit = static_cast<int32_t>(std::min<int64_t>(left, first.attempts));
    first.taken_at = nullptr;  // the true path's attempts are not looked up
    if (!split) {
      run_segment(source, first);
      blocks.put(first.deviates, first.produced);
      produced += first.produced;
      attempts = first.first + first.used;
      continue;
    }
    second.first = attempts + first.attempts;
    second.attempts = static_cast<int32_t>(wanted - first.attempts);
    second.limit = second.attempts;
    // Any guess is right in the end; a near one joins sooner.
    const double per_deviate = produced > 0 ? static_cast<double>(attempts) / static_cast<double>(produced) : 1.15;
    const auto guess = [&](int64_t attempts_before) {
      return static_cast<int32_t>((produced + std::llround(static_cast<double>(attempts_before) / per_deviate)) % count);
    };
    second.shape = guess(first.attempts);
    const int32_t second_attempts = second.attempts;  // the second thread lowers it when its tail is taken
    std::atomic<uint64_t> claims{static_cast<uint64_t>((second_attempts + kChunk - 1) / kChunk) << 32};
    second.claims = &claims;
    const std::function<void()> second_part = [&] { run_segment(source, second); };
    // The two stretches are consecutive, each within its own room.
    assert(first.attempts >= 1 && second.attempts >= 1 && first.attempts + int64_t{second.attempts} == wanted);
    assert(second.first == first.first + first.attempts);
    assert(first.attempts <= most && second.attempts <= most);
    assert(first.deviates + room <= second.deviates && second.taken_at != nullptr);
    concurrency::OfferedJob offered = executor.offer(second_part);  // settled before the loop's next round
    run_segment(source, first);
    blocks.put(first.deviates, first.produced);
    produced += first.produced;
    attempts = first.first + first.used;
    int32_t shape = static_cast<int32_t>(produced % count);  // the true shape after the first segment
    if (offered.take_back()) {
      // The second thread never came: the second segment follows here, from the true
      // shape.
      if (produced == total) continue;
      second.shape = shape;
      run_segment(source, second);
      join_segment(source, second, shape, total, produced, attempts, put);
      continue;
    }
    // The second thread is still at its segment (it may have started late or run slowly):
    // take the second half of what it has not claimed yet, drawn here from a guessed
    // shape into the first segment's storage, which is free again. (Not when the first
    // segment has already ended the draws.)
    Segment tail;
    uint64_t seen = claims.load(std::memory_order_acquire);
    while (produced < total) {
      const auto next = static_cast<uint32_t>(seen);
      const auto end = static_cast<uint32_t>(seen >> 32);
      if (end < next + kStealMinimum) break;
      const uint32_t from = next + (end - next) / 2;
      if (claims.compare_exchange_weak(seen, (uint64_t{from} << 32) | next, std::memory_order_acq_rel)) {
        tail.first = second.first + int64_t{from} * kChunk;
        tail.attempts = second_attempts - static_cast<int32_t>(from) * kChunk;
        tail.limit = tail.attempts;
        tail.deviates = first.deviates;
        tail.taken_at = taken_at;  // the first segment's room, which it leaves unused
        tail.shape = guess(tail.first - attempts);
        // The tail ends where the second stretch did, in room the first stretch has left.
        assert(tail.first + tail.attempts == second.first + second_attempts && tail.attempts <= most);
        run_segment(source, tail);
        break;
      }
    }
    offered.wait();
    assert(second.used <= second.attempts && second.attempts <= second_attempts);
    if (produced == total) continue;
    shape = join_segment(source, second, shape, total, produced, attempts, put);
    if (produced < total && tail.attempts > 0) join_segment(source, tail, shape, total, produced, attempts, put);
  }
  blocks.flush();
  attempts_ = -1;  // a later draw() starts afresh
  // Two uniforms an attempt; the generator is left after the last one read.
  commit_uniforms(start.ahead(2 * attempts));
}

}  // namespace propbf::numlib
