#include "engine/replications.hpp"

#include <omp.h>
#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstddef>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <type_traits>
#include <utility>

#include "sampling/beta_functions.hpp"
#include "engine/parallel.hpp"

namespace propbf::evaluate {
namespace {

// Stage t's replicated shares are beta deviates with shapes 1 + share * n and
// 1 + (1 - share) * n, n the effective sweeps (corrected) or niter (independent).
std::array<double, 2> stage_shapes(const StageCount& stage, std::int64_t niter, bool corrected) {
  const double sweeps = static_cast<double>(niter);
  const double hits = static_cast<double>(stage.hits);
  if (corrected) {
    const double share = hits / sweeps;
    return {1.0 + share * stage.effective_sweeps, 1.0 + (1.0 - share) * stage.effective_sweeps};
  }
  return {1.0 + hits, 1.0 + (sweeps - hits)};
}

// The draws of one stage's replicated shares: the table method when both shapes exceed
// 1 and are not huge, else BetaDeviate. multiply() multiplies values[i] by the i-th
// deviate of the stream (or sets it, for the first stage: 1 times a deviate is the
// deviate).
class StageDraw {
 public:
  explicit StageDraw(const std::array<double, 2>& shapes) : deviate_(1.0, 1.0) {
    const double a = shapes[0];
    const double b = shapes[1];
    if (a > 1.0 && b > 1.0 && a + b <= kLargestShapeSum) {
      table_.emplace(a, b);
    } else {
      deviate_ = BetaDeviate(a, b);
    }
  }

  void multiply(double* values, std::size_t count, bool first, CounterStream& stream) const {
    if (table_) {
      table_->multiply(values, count, first, stream);
    } else {
      multiply_by(deviate_, values, count, first, stream);
    }
  }

 private:
  template <class Draw>
  static void multiply_by(const Draw& draw, double* values, std::size_t count, bool first, CounterStream& stream) {
    if (first) {
      for (std::size_t i = 0; i < count; ++i) values[i] = draw(stream);
    } else {
      for (std::size_t i = 0; i < count; ++i) values[i] *= draw(stream);
    }
  }

  std::optional<BetaTable> table_;
  BetaDeviate deviate_;
};

// The complexity (fit) a hypothesis without complexity (fit) stages has: exact, or 1 with
// no stage.
double known_share(const HypothesisResult& result, bool fit) {
  if (fit) return result.fit_exact ? result.fit : 1.0;
  return result.complexity_exact ? result.complexity : 1.0;
}

// The levels of stage t (from 1) of a phase: 1, or those of a split stage (results.hpp).
std::size_t level_total(const HypothesisResult& result, bool fit, std::size_t t) {
  const std::vector<StageLevels>& levels = fit ? result.fit_levels : result.complexity_levels;
  return t <= levels.size() && levels[t - 1].split() ? levels[t - 1].bounds.size() : 1;
}

// The count of level l (from 0) of stage t: level 0 is the stage's own chain.
const StageCount& level_count(const HypothesisResult& result, bool fit, std::size_t t, std::size_t l) {
  if (l == 0) return (fit ? result.fit_stages : result.complexity_stages)[t - 1];
  return (fit ? result.fit_levels : result.complexity_levels)[t - 1].counts[l - 1];
}

// The sweeps the phase's counts were taken in: the complexity's may be its own
// (complexity_niter).
std::int64_t phase_sweeps(const HypothesisResult& result, bool fit) {
  return fit ? result.niter : result.complexity_sweeps();
}

StreamKind replication_kind(bool fit, bool corrected) {
  return fit ? (corrected ? StreamKind::FitReplicationsCorrected : StreamKind::FitReplications)
             : (corrected ? StreamKind::ComplexityReplicationsCorrected : StreamKind::ComplexityReplications);
}

// Where a job's order statistics go: its factor against the complement, then against the
// unconstrained hypothesis.
std::array<Interval*, 2> interval_targets(const IntervalJob& job) {
  HypothesisResult& r = *job.result;
  if (job.corrected) return {&r.bf_complement_interval, &r.bf_unconstrained_interval};
  return {&r.bf_complement_interval_independent, &r.bf_unconstrained_interval_independent};
}

// Uninitialised storage for the replications' working data, in huge pages where the
// system offers them for the asking: megabytes that would otherwise take thousands of
// page faults, each dear. The last buffer given back is kept for the next (one, of at
// most kKeptBytes): the rounds of a run in precision mode, and a process that evaluates
// many small problems (an R session), fault its pages in and have them cleared once,
// not at every call.
class HugeBuffer {
 public:
  explicit HugeBuffer(std::size_t bytes) {
    constexpr std::size_t huge = std::size_t{1} << 21;
    bytes_ = (bytes + huge - 1) / huge * huge;
    {
      const std::lock_guard<std::mutex> lock(kept_mutex_);
      if (kept_at_ != nullptr && kept_bytes_ >= bytes_) {
        at_ = std::exchange(kept_at_, nullptr);
        bytes_ = kept_bytes_;
        return;
      }
    }
    void* at = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) throw std::bad_alloc();
    at_ = static_cast<std::byte*>(at);
    ::madvise(at, bytes_, MADV_HUGEPAGE);
  }
  HugeBuffer(const HugeBuffer&) = delete;
  HugeBuffer& operator=(const HugeBuffer&) = delete;
  ~HugeBuffer() {
    std::byte* dropped = at_;
    std::size_t dropped_bytes = bytes_;
    if (bytes_ <= kKeptBytes) {
      const std::lock_guard<std::mutex> lock(kept_mutex_);
      if (kept_at_ == nullptr || kept_bytes_ < bytes_) {
        std::swap(dropped, kept_at_);
        std::swap(dropped_bytes, kept_bytes_);
      }
    }
    if (dropped != nullptr) ::munmap(dropped, dropped_bytes);
  }
  std::byte* data() const { return at_; }

 private:
  static constexpr std::size_t kKeptBytes = std::size_t{64} << 20;
  static inline std::mutex kept_mutex_;
  static inline std::byte* kept_at_ = nullptr;
  static inline std::size_t kept_bytes_ = 0;

  std::byte* at_ = nullptr;
  std::size_t bytes_ = 0;
};

// Order-preserving integer keys of doubles: a total order with -0 before +0 and every
// NaN last (all NaNs share the largest key).
std::uint64_t order_key(double x) {
  if (std::isnan(x)) return ~std::uint64_t{0};
  const auto bits = std::bit_cast<std::uint64_t>(x);
  constexpr std::uint64_t sign = std::uint64_t{1} << 63;
  return (bits & sign) != 0 ? ~bits : bits | sign;
}

double from_order_key(std::uint64_t key) {
  if (key == ~std::uint64_t{0}) return std::numeric_limits<double>::quiet_NaN();
  constexpr std::uint64_t sign = std::uint64_t{1} << 63;
  return std::bit_cast<double>((key & sign) != 0 ? key & ~sign : ~key);
}

// The two order statistics of kReplications keys (reordered) by std::nth_element:
// selecting the upper position first leaves the lower one among the keys before it.
Interval key_interval_by_partition(std::uint64_t* keys) {
  std::uint64_t* upper = keys + (kUpperPosition - 1);
  std::nth_element(keys, upper, keys + kReplications);
  std::uint64_t* lower = keys + (kLowerPosition - 1);
  std::nth_element(keys, lower, upper);
  return {from_order_key(*lower), from_order_key(*upper)};
}

// The same two order statistics, mostly without the partitioning's unpredictable
// branches: a sorted sample of every kSampleStride-th key gives, for each position, a
// bracket of keys that very likely holds it; one pass counts the keys below each bracket
// and gathers those inside it (written unconditionally, kept by advancing a count); the
// position is then selected among the few gathered. Where a bracket misses its position
// or holds too many keys, the partition above decides; either way the values are exact.
Interval key_interval(std::uint64_t* keys) {
  constexpr std::size_t kSampleStride = 32;
  constexpr std::size_t kSamples = static_cast<std::size_t>(kReplications) / kSampleStride;
  // The sample rank of either position has a standard deviation below 9: the bracket
  // misses it only beyond 3.6 of them. It holds about 2 kMargin kSampleStride keys.
  constexpr std::size_t kMargin = 32;
  constexpr std::size_t kGathered = 4096;
  constexpr std::array<std::size_t, 2> positions{static_cast<std::size_t>(kLowerPosition) - 1,
                                                 static_cast<std::size_t>(kUpperPosition) - 1};
  std::array<std::uint64_t, kSamples> sample;
  for (std::size_t i = 0; i < kSamples; ++i) sample[i] = keys[i * kSampleStride];
  std::sort(sample.begin(), sample.end());
  std::array<std::uint64_t, 2> low{};
  std::array<std::uint64_t, 2> high{};
  for (std::size_t end = 0; end < 2; ++end) {
    const std::size_t rank = positions[end] / kSampleStride;
    low[end] = rank >= kMargin ? sample[rank - kMargin] : 0;
    high[end] = rank + kMargin < kSamples ? sample[rank + kMargin] : ~std::uint64_t{0};
  }
  // One more slot each for the keys beyond a full bracket.
  std::array<std::uint64_t, 2 * (kGathered + 1)> gathered;
  std::array<std::uint64_t*, 2> into{gathered.data(), gathered.data() + kGathered + 1};
  std::array<std::size_t, 2> below{};
  std::array<std::size_t, 2> inside{};
  for (std::size_t i = 0; i < static_cast<std::size_t>(kReplications); ++i) {
    const std::uint64_t key = keys[i];
    for (std::size_t end = 0; end < 2; ++end) {
      below[end] += static_cast<std::size_t>(key < low[end]);
      into[end][std::min(inside[end], kGathered)] = key;
      inside[end] += static_cast<std::size_t>(key >= low[end]) & static_cast<std::size_t>(key <= high[end]);
    }
  }
  Interval interval{};
  for (std::size_t end = 0; end < 2; ++end) {
    const bool bracketed = inside[end] <= kGathered && below[end] <= positions[end] &&
                           positions[end] < below[end] + inside[end];
    if (!bracketed) return key_interval_by_partition(keys);
    std::uint64_t* const nth = into[end] + (positions[end] - below[end]);
    std::nth_element(into[end], nth, into[end] + inside[end]);
    interval[end] = from_order_key(*nth);
  }
  return interval;
}

constexpr auto kReplicationCount = static_cast<std::size_t>(kReplications);
constexpr std::size_t kBlocks = kReplicationCount / kReplicationBlock;
static_assert(kBlocks * kReplicationBlock == kReplicationCount);

// A stage's draws, set up in place in the replications' buffer.
using Draw = std::optional<StageDraw>;
static_assert(std::is_trivially_destructible_v<Draw>);

// Block `block` of a job whose complexity stages' draws start at draws[0] and fit
// stages' at draws[1]: the complexity's and the fit's stage products in `products` (2
// kReplicationBlock values; stage t of the block from the stream (seed, key, phase,
// t, part block), one deviate after the other), then the two factors of each
// replication as order keys, into complement[] and unconstrained[].
void draw_block(const IntervalJob& job, const std::array<const Draw*, 2>& draws, std::size_t block, StreamSeed seed,
                double* products, std::uint64_t* complement, std::uint64_t* unconstrained) {
  for (const bool fit : {false, true}) {
    double* product = products + (fit ? kReplicationBlock : 0);
    const std::size_t count = (fit ? job.result->fit_stages : job.result->complexity_stages).size();
    // No stage: 1, or a share known exactly (HypothesisResult::complexity_exact, fit_exact).
    if (count == 0) std::fill(product, product + kReplicationBlock, known_share(*job.result, fit));
    // Each level of a split stage is drawn as a stage of its own (stream word stage_word(t, l)).
    const Draw* draw = draws[fit ? 1 : 0];
    for (std::size_t t = 1; t <= count; ++t) {
      for (std::size_t l = 0; l < level_total(*job.result, fit, t); ++l) {
        CounterStream stream(seed, job.key, replication_kind(fit, job.corrected), stage_word(t, l), block);
        (*draw++)->multiply(product, kReplicationBlock, t == 1 && l == 0, stream);
      }
    }
  }
  for (std::size_t r = 0; r < kReplicationBlock; ++r) {
    const double c = products[r];
    const double f = products[kReplicationBlock + r];
    const double against_unconstrained = model::factor_against_unconstrained(f, c);
    unconstrained[r] = order_key(against_unconstrained);
    complement[r] = order_key(model::factor_against_complement(against_unconstrained, f, c));
  }
}

// Every job's replications are cut into kBlocks blocks of kReplicationBlock; a task
// draws one block of one job (draw_block). The stage draws are set up once, before the
// blocks; the order statistics of a job's two factors are selected as soon as its
// blocks are done.
void replication_group(const std::vector<IntervalJob>& jobs, StreamSeed seed, int threads, const StopCheck& stop) {
  struct Stage {
    std::size_t job;
    bool fit;
    std::size_t t;
    std::size_t level;
  };
  std::vector<Stage> stages;
  std::vector<std::array<std::size_t, 2>> first_stage(jobs.size());  // per job: complexity's, fit's
  for (std::size_t j = 0; j < jobs.size(); ++j) {
    for (const bool fit : {false, true}) {
      first_stage[j][fit ? 1 : 0] = stages.size();
      const std::size_t count = (fit ? jobs[j].result->fit_stages : jobs[j].result->complexity_stages).size();
      for (std::size_t t = 1; t <= count; ++t) {
        for (std::size_t l = 0; l < level_total(*jobs[j].result, fit, t); ++l) stages.push_back({j, fit, t, l});
      }
    }
  }
  const int team = static_cast<int>(std::min(static_cast<std::size_t>(threads), jobs.size() * kBlocks));
  // One buffer: keys[2 j k ...]: job j's factors against the complement, keys[(2 j + 1) k
  // ...]: against the unconstrained hypothesis (k = kReplications); per thread of the team
  // a block's complexity and fit products; the stage draws. Left unset here: each task
  // writes its own part (in a new buffer, it is the first to touch its pages).
  const std::size_t key_bytes = 2 * jobs.size() * kReplicationCount * sizeof(std::uint64_t);
  const std::size_t product_bytes = static_cast<std::size_t>(team) * 2 * kReplicationBlock * sizeof(double);
  const HugeBuffer buffer(key_bytes + product_bytes + stages.size() * sizeof(Draw) + alignof(Draw));
  std::uint64_t* const keys_data = reinterpret_cast<std::uint64_t*>(buffer.data());
  double* const products_data = reinterpret_cast<double*>(buffer.data() + key_bytes);
  const std::size_t draw_offset = (key_bytes + product_bytes + alignof(Draw) - 1) / alignof(Draw) * alignof(Draw);
  Draw* const draws = reinterpret_cast<Draw*>(buffer.data() + draw_offset);
  run_in_parallel(stages.size(), team, [&](std::size_t i) {
    const Stage& stage = stages[i];
    const HypothesisResult& result = *jobs[stage.job].result;
    (new (draws + i) Draw())
        ->emplace(stage_shapes(level_count(result, stage.fit, stage.t, stage.level), phase_sweeps(result, stage.fit),
                               jobs[stage.job].corrected));
  });
  std::vector<std::atomic<std::size_t>> blocks_done(jobs.size());
  for (std::atomic<std::size_t>& done : blocks_done) done.store(0);
  run_in_parallel(jobs.size() * kBlocks, team, [&](std::size_t i) {
    if (stop && stop()) throw Cancelled();
    const std::size_t j = i / kBlocks;
    const std::size_t block = i % kBlocks;
    std::uint64_t* complement = keys_data + 2 * j * kReplicationCount + block * kReplicationBlock;
    draw_block(jobs[j], {draws + first_stage[j][0], draws + first_stage[j][1]}, block, seed,
               products_data + static_cast<std::size_t>(omp_get_thread_num()) * 2 * kReplicationBlock, complement,
               complement + kReplicationCount);
    // The task that ends a job's last block selects its order statistics (the others'
    // keys are visible to it through the counter).
    if (blocks_done[j].fetch_add(1, std::memory_order_acq_rel) + 1 == kBlocks) {
      for (std::size_t k = 0; k < 2; ++k) {
        *interval_targets(jobs[j])[k] = key_interval(keys_data + (2 * j + k) * kReplicationCount);
      }
    }
  });
}

}  // namespace

// At most this many jobs at once: their keys take 1.6 MB each.
constexpr std::size_t kJobsAtOnce = 16;

void replication_intervals(const std::vector<IntervalJob>& jobs, StreamSeed seed, int threads,
                           const StopCheck& stop) {
  for (std::size_t from = 0; from < jobs.size(); from += kJobsAtOnce) {
    const auto to = std::min(jobs.size(), from + kJobsAtOnce);
    replication_group(std::vector<IntervalJob>(jobs.begin() + static_cast<std::ptrdiff_t>(from),
                                               jobs.begin() + static_cast<std::ptrdiff_t>(to)),
                      seed, threads, stop);
  }
}

// One job, stage and replication after the other, each stage's draws set up anew; the
// order statistics from a full sort with NaNs last.
void replication_intervals_plain(const std::vector<IntervalJob>& jobs, StreamSeed seed) {
  for (const IntervalJob& job : jobs) {
    std::array<std::vector<double>, 2> products;  // complexity, fit
    for (const bool fit : {false, true}) {
      std::vector<double>& product = products[fit ? 1 : 0];
      product.assign(static_cast<std::size_t>(kReplications), known_share(*job.result, fit));
      const std::vector<StageCount>& counts = fit ? job.result->fit_stages : job.result->complexity_stages;
      for (std::size_t t = 1; t <= counts.size(); ++t) {
        for (std::size_t l = 0; l < level_total(*job.result, fit, t); ++l) {
          const StageDraw draw(
              stage_shapes(level_count(*job.result, fit, t, l), phase_sweeps(*job.result, fit), job.corrected));
          for (std::size_t block = 0; block * kReplicationBlock < product.size(); ++block) {
            CounterStream stream(seed, job.key, replication_kind(fit, job.corrected), stage_word(t, l), block);
            for (std::size_t r = 0; r < kReplicationBlock; ++r) {
              draw.multiply(&product[block * kReplicationBlock + r], 1, false, stream);
            }
          }
        }
      }
    }
    std::vector<double> complement(products[0].size());
    std::vector<double> unconstrained(products[0].size());
    for (std::size_t r = 0; r < complement.size(); ++r) {
      unconstrained[r] = model::factor_against_unconstrained(products[1][r], products[0][r]);
      complement[r] = model::factor_against_complement(unconstrained[r], products[1][r], products[0][r]);
    }
    for (std::size_t k = 0; k < 2; ++k) {
      std::vector<double>& values = k == 0 ? complement : unconstrained;
      std::sort(values.begin(), values.end(), [](double x, double y) {
        if (std::isnan(x)) return false;
        if (std::isnan(y)) return true;
        return x < y;
      });
      *interval_targets(job)[k] = {values[kLowerPosition - 1], values[kUpperPosition - 1]};
    }
  }
}

Interval order_interval(std::vector<double> values) {
  std::vector<std::uint64_t> keys(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) keys[i] = order_key(values[i]);
  return key_interval(keys.data());
}

}  // namespace propbf::evaluate
