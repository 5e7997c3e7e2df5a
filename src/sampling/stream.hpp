// Counter-based uniform streams (Philox4x64-10). Every stage chain and every block of
// replications has its own stream, keyed by (seed, hypothesis key, phase, stage), so that
// the numbers a chain sees do not depend on what ran before it or on which thread runs it.
#pragma once

#include <array>
#include <cstdint>

namespace propbf::evaluate {

// What a stream serves: the sweeps of a phase's chains or the replications of one kind
// of interval. (The zero-argument program's Phase names its two sampling phases; this
// is the part of a stream's key that tells its uses apart.)
enum class StreamKind : std::uint64_t {
  ComplexitySweeps = 0,
  FitSweeps = 1,
  ComplexityReplications = 2,
  FitReplications = 3,
  ComplexityReplicationsCorrected = 4,
  FitReplicationsCorrected = 5,
  EstimateSweeps = 6,  // the chain of a hypothesis's estimates (stage 0)
  // The pilot chains that decide whether a stage is rare and where its levels lie
  // (engine/rare_stages.hpp); their draws are never counted.
  ComplexityPilot = 7,
  FitPilot = 8,
  // The pilots that choose a grouped hypothesis's stage ends (pilot.hpp), by stage.
  ComplexityEndPilot = 16,
  FitEndPilot = 17,
  // Beside the estimate chain (stage 0): the replicated counts of the posterior
  // predictive check, with the draws of what the chain does not sample; and the draws
  // of what it does not sample in the kept posterior samples.
  PredictiveReplications = 9,
  PosteriorSamples = 10,
  // Beside the estimate chain: the Dirichlet shares of an aggregated item's other
  // categories (engine/aggregated_items.hpp), for their intervals.
  AggregatedShares = 11,
  PlanData = 32,  // a plan's data set: its truth and its counts (`propbf plan`)
};

// The stage word of a stream: stage t of a hypothesis, and for a stage split into levels
// (engine/rare_stages.hpp) its level, counted from 0 (level 0 is the stage's own chain and
// has the word t, as every stage that is not split).
constexpr std::uint64_t stage_word(std::uint64_t stage, std::uint64_t level) { return stage | (level << 32); }

// What keys a problem's streams: its seed and, with a stream per problem, the key of its
// file's name (0: none, the streams every problem with this seed shares).
struct StreamSeed {
  StreamSeed(std::uint64_t seed_value, std::uint64_t problem_key = 0) : seed(seed_value), problem(problem_key) {}
  std::uint64_t seed = 0;
  std::uint64_t problem = 0;
};

// The counter-based stream of one chain or one block of replications. (The numerical
// library's UniformStream is a position in its one multiplicative congruential sequence;
// this one is a keyed counter, independent of every other.)
class CounterStream {
 public:
  // The key is {seed, tag XOR problem}: without a per-problem part, {seed, tag}.
  // `part` splits one key into independent streams (the blocks of a stage's
  // replications): part p starts its counter at p 2^48, far beyond what any part uses.
  CounterStream(StreamSeed seed, std::uint64_t hypothesis_key, StreamKind phase, std::uint64_t stage,
                std::uint64_t part = 0);

  // The next deviate, ((w >> 11) + 0.5) / 2^53 for the next 64-bit word w of the
  // stream: in the open interval (0, 1), never 0 or 1, on a grid of 2^-53.
  double next() {
    return (static_cast<double>(next_word() >> 11) + 0.5) * 0x1p-53;
  }

  // The next 64-bit word of the stream (what next() turns into a deviate).
  std::uint64_t next_word() {
    if (used_ == 4) refill();
    return words_[used_++];
  }

  // The next 32 bits of the stream: the halves of a word, its upper half first. Words
  // and halves may be mixed: a word taken between the two halves of another leaves
  // the second half for the next call.
  std::uint32_t next_half() {
    if (half_ready_) {
      half_ready_ = false;
      return static_cast<std::uint32_t>(half_);
    }
    half_ = next_word();
    half_ready_ = true;
    return static_cast<std::uint32_t>(half_ >> 32);
  }

  // A loop that reads many halves may hold the pending second half itself (in a
  // register): it takes it out, reads words with next_word(), and puts it back.
  struct PendingHalf {
    std::uint64_t word = 0;
    bool ready = false;
  };
  PendingHalf take_pending_half() {
    const PendingHalf pending{half_, half_ready_};
    half_ready_ = false;
    return pending;
  }
  void put_pending_half(const PendingHalf& pending) {
    half_ = pending.word;
    half_ready_ = pending.ready;
  }

  // The stream as a uniform random bit generator (64-bit words), for library
  // distributions that take one.
  using result_type = std::uint64_t;
  static constexpr result_type min() { return 0; }
  static constexpr result_type max() { return ~std::uint64_t{0}; }
  result_type operator()() { return next_word(); }

 private:
  void refill();

  std::array<std::uint64_t, 2> key_;
  std::array<std::uint64_t, 4> counter_;  // {block, hypothesis key, phase, stage}
  std::array<std::uint64_t, 4> words_{};
  int used_ = 4;
  std::uint64_t half_ = 0;
  bool half_ready_ = false;
};

}  // namespace propbf::evaluate
