#include "engine/evaluation.hpp"

#include <omp.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <iostream>
#include <limits>
#include <memory>
#include <mutex>
#include <type_traits>
#include <new>
#include <optional>

#include "engine/beta_functions.hpp"
#include "engine/threads.hpp"
#include "problem/equalities.hpp"
#include "problem/prepare.hpp"
#include "messages/messages.hpp"

namespace propbf::evaluate {
namespace {

[[noreturn]] void no_interior(const CountsProblem& problem, const HypothesisText& hypothesis,
                              const std::vector<Restriction>& restrictions, const StartPoint& start) {
  const SourcePosition at = hypothesis.positions.empty() ? SourcePosition{} : hypothesis.positions.front();
  std::string message =
      (hypothesis.origin.empty() ? describe_position(problem.file_name, at) : hypothesis.origin) + ": hypothesis " +
      hypothesis.name;
  if (!start.failure.empty()) throw InputError(message + ": " + start.failure);
  message += " has no interior point: ";
  message += start.conflict.size() == 1 ? "this restriction cannot hold" : "these restrictions cannot hold together";
  message += " with every proportion in [0, 1]";
  for (std::size_t k : start.conflict) message += "\n    " + shown_text(restrictions[k].text);
  throw InputError(message);
}

double share_product(const std::vector<StageCount>& stages, std::int64_t niter) {
  double product = 1.0;
  for (const StageCount& stage : stages) product *= static_cast<double>(stage.hits) / static_cast<double>(niter);
  return product;
}

// Runs task(i) for i = 0 ... count - 1 on up to `threads` threads, handing out one index
// at a time in increasing order, so the tasks listed first start first. The first
// exception a task throws is rethrown once every task has ended.
template <class Task>
void run_in_parallel(std::size_t count, int threads, const Task& task) {
  std::exception_ptr failure;
  const auto total = static_cast<std::ptrdiff_t>(count);
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads)
  for (std::ptrdiff_t i = 0; i < total; ++i) {
    try {
      task(static_cast<std::size_t>(i));
    } catch (...) {
#pragma omp critical(propbf_evaluate_task_failure)
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

// The chains of one hypothesis, stage t at index t - 1.
struct HypothesisChains {
  std::vector<StageChain> complexity;
  std::vector<StageChain> fit;
};

// Rough cost of one sweep of stage t, for handing out the longest chains first: a draw
// per item (a few times dearer unless the item's distribution is uniform) and, per
// earlier restriction, a sum over the items for each item.
double sweep_cost(std::size_t stage, const std::vector<double>& shape_a, const std::vector<double>& shape_b) {
  const auto items = static_cast<double>(shape_a.size());
  double cost = items * (static_cast<double>(stage) - 1.0) * items + items * static_cast<double>(stage);
  for (std::size_t j = 0; j < shape_a.size(); ++j) cost += shape_a[j] == 1.0 && shape_b[j] == 1.0 ? 10.0 : 100.0;
  return cost;
}

// A line on standard error, when it is a terminal and the run has taken more than a
// second, redrawn at most five times a second while chains run: the hypothesis and stage
// a chain has reached, its sweeps, and the time the chains of this round still need,
// from the share of their estimated cost done. Cleared when the run ends.
class Progress {
 public:
  Progress(bool wanted, const RunControl& control)
      : shown_((wanted && ::isatty(STDERR_FILENO) == 1) || control.progress), control_(control), start_(Clock::now()) {}
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress() { clear(); }

  bool cancelled() const { return control_.cancel != nullptr && control_.cancel->load(); }
  bool chunked() const { return shown_ || control_.cancel != nullptr; }

  void start_round(double total_cost) {
    round_start_ = Clock::now();
    round_cost_ = total_cost;
    done_cost_.store(0.0);
  }

  // A chain has run `cost` more; called from any thread.
  void advance(double cost, const std::string& hypothesis, std::size_t stage, std::size_t stages, std::int64_t sweeps,
               std::int64_t niter) {
    if (!shown_) return;
    done_cost_.fetch_add(cost);
    const std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    const double elapsed = std::chrono::duration<double>(now - round_start_).count();
    std::string line = hypothesis + ": stage " + std::to_string(stage) + " of " + std::to_string(stages) + ", " +
                       std::to_string(sweeps) + " of " + std::to_string(niter) + " sweeps";
    const double done = done_cost_.load();
    if (done > 0.0 && round_cost_ > done) {
      const auto left = static_cast<long>(elapsed * (round_cost_ - done) / done);
      char text[48];
      std::snprintf(text, sizeof text, ", ~%ld:%02ld:%02ld left", left / 3600, left / 60 % 60, left % 60);
      line += text;
    }
    put(line);
  }

  void clear() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (width_ > 0) put("");
  }

 private:
  using Clock = std::chrono::steady_clock;

  void put(const std::string& line) {
    std::string bytes = "\r" + line;
    if (line.size() < width_) bytes += std::string(width_ - line.size(), ' ') + "\r" + line;
    width_ = line.size();
    if (control_.progress) {
      control_.progress(line);
      return;
    }
    std::cerr << bytes << std::flush;
  }

  bool shown_;
  const RunControl& control_;
  Clock::time_point start_;
  Clock::time_point last_{};
  Clock::time_point round_start_{};
  double round_cost_ = 0.0;
  std::atomic<double> done_cost_{0.0};
  std::size_t width_ = 0;
  std::mutex mutex_;
};

// Sweeps a chain runs between two looks at the progress line (the counts do not depend
// on it: a continued chain counts what a straight one does).
constexpr std::int64_t kProgressStep = 4096;

// Continues the chains of the hypotheses listed in `which` to their result's niter.
void run_chains(std::vector<HypothesisChains>& chains, const std::vector<HypothesisResult>& results,
                const std::vector<std::size_t>& which, const std::vector<double>& prior_a,
                const std::vector<double>& prior_b, const std::vector<double>& posterior_a,
                const std::vector<double>& posterior_b, int threads, Progress& progress) {
  struct Task {
    StageChain* chain;
    std::int64_t niter;
    double cost;
    double sweep_cost;
    std::size_t hypothesis;
    std::size_t stage;
  };
  std::vector<Task> tasks;
  double total = 0.0;
  for (std::size_t h : which) {
    const std::int64_t niter = results[h].niter;
    for (std::size_t t = 0; t < chains[h].complexity.size(); ++t) {
      StageChain& complexity = chains[h].complexity[t];
      StageChain& fit = chains[h].fit[t];
      const double complexity_cost = sweep_cost(t + 1, prior_a, prior_b);
      const double fit_cost = sweep_cost(t + 1, posterior_a, posterior_b);
      tasks.push_back({&complexity, niter, static_cast<double>(niter - complexity.sweeps()) * complexity_cost,
                       complexity_cost, h, t + 1});
      tasks.push_back({&fit, niter, static_cast<double>(niter - fit.sweeps()) * fit_cost, fit_cost, h, t + 1});
      total += tasks[tasks.size() - 2].cost + tasks.back().cost;
    }
  }
  std::stable_sort(tasks.begin(), tasks.end(), [](const Task& x, const Task& y) { return x.cost > y.cost; });
  progress.start_round(total);
  run_in_parallel(tasks.size(), threads, [&](std::size_t i) {
    const Task& task = tasks[i];
    if (!progress.chunked()) {
      task.chain->run_to(task.niter);
      return;
    }
    while (task.chain->sweeps() < task.niter) {
      if (progress.cancelled()) throw Cancelled();
      const std::int64_t from = task.chain->sweeps();
      task.chain->run_to(std::min(task.niter, from + kProgressStep));
      progress.advance(static_cast<double>(task.chain->sweeps() - from) * task.sweep_cost,
                       results[task.hypothesis].name, task.stage, chains[task.hypothesis].complexity.size(),
                       task.chain->sweeps(), task.niter);
    }
  });
}

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
// page faults, each dear.
class HugeBuffer {
 public:
  explicit HugeBuffer(std::size_t bytes) {
    constexpr std::size_t huge = std::size_t{1} << 21;
    bytes_ = (bytes + huge - 1) / huge * huge;
    void* at = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) throw std::bad_alloc();
    at_ = static_cast<std::byte*>(at);
    ::madvise(at, bytes_, MADV_HUGEPAGE);
  }
  HugeBuffer(const HugeBuffer&) = delete;
  HugeBuffer& operator=(const HugeBuffer&) = delete;
  ~HugeBuffer() { ::munmap(at_, bytes_); }
  std::byte* data() const { return at_; }

 private:
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

// The interval the factor's estimate is reported with: the replicated one, widened to
// hold the estimate; none (both ends NaN) when the estimate is not a number.
Interval holding(const Interval& interval, double estimate) {
  if (std::isnan(estimate)) return {std::nan(""), std::nan("")};
  return {std::min(interval[0], estimate), std::max(interval[1], estimate)};
}

std::string interval_text(const Interval& interval) {
  std::string text(1, '[');
  text.append(format_number(interval[0], 5)).append(", ").append(format_number(interval[1], 5)).push_back(']');
  return text;
}

// The stages with no hit or a hit in every sweep, e.g. "fit stage 3: no hit in 20000 sweeps".
std::string extreme_stages(const HypothesisResult& result) {
  std::string text;
  for (const bool fit : {false, true}) {
    const std::vector<StageCount>& stages = fit ? result.fit_stages : result.complexity_stages;
    for (std::size_t t = 0; t < stages.size(); ++t) {
      if (stages[t].hits != 0 && stages[t].hits != result.niter) continue;
      text += (text.empty() ? "" : "; ") + std::string(fit ? "fit" : "complexity") + " stage " + std::to_string(t + 1) +
              (stages[t].hits == 0 ? ": no hit in " : ": a hit in every one of ") + std::to_string(result.niter) +
              " sweeps";
    }
  }
  return text;
}

// The stages whose error could not be measured (StageCount::error_measured), with their
// batch figures; empty when every stage's was.
std::string unmeasured_stages(const HypothesisResult& result) {
  std::string stages;
  for (const bool fit : {false, true}) {
    const std::vector<StageCount>& counts = fit ? result.fit_stages : result.complexity_stages;
    for (std::size_t t = 0; t < counts.size(); ++t) {
      if (counts[t].error_measured) continue;
      stages += (stages.empty() ? "" : "; ") + std::string(fit ? "fit" : "complexity") + " stage " +
                std::to_string(t + 1) + " (neighbouring batch shares correlate " +
                format_number(counts[t].batch_correlation, 2) + ", effective sweeps " +
                format_number(counts[t].effective_sweeps, 3) + " of " + std::to_string(result.niter) + ")";
    }
  }
  return stages;
}

// Widens the four intervals to hold their estimates (or drops them for a NaN estimate),
// with a note for each it changed, and sets interval_trusted with its note.
void finish_intervals(HypothesisResult& result) {
  result.notes.clear();
  const std::string unmeasured = unmeasured_stages(result);
  result.interval_trusted = unmeasured.empty();
  if (!result.interval_trusted) {
    result.notes.push_back("intervals not trusted: the chain moves more slowly than its batches can measure in " +
                           unmeasured + "; the corrected intervals understate the Monte Carlo error and the "
                           "estimate may still lean towards the start point");
  }
  const std::string reason = extreme_stages(result);
  const std::string because = reason.empty() ? "" : " (" + reason + ")";
  const struct {
    const char* factor;
    double estimate;
    Interval* corrected;
    Interval* independent;
  } factors[] = {{"bf_unconstrained", result.bf_unconstrained, &result.bf_unconstrained_interval,
                  &result.bf_unconstrained_interval_independent},
                 {"bf_complement", result.bf_complement, &result.bf_complement_interval,
                  &result.bf_complement_interval_independent}};
  for (const auto& factor : factors) {
    if (factor.corrected == &result.bf_complement_interval && !result.complement_defined) continue;
    const Interval corrected = *factor.corrected;
    const Interval independent = *factor.independent;
    *factor.corrected = holding(corrected, factor.estimate);
    *factor.independent = holding(independent, factor.estimate);
    const std::string intervals = std::string("the intervals of ") + factor.factor;
    if (std::isnan(factor.estimate)) {
      result.notes.push_back(intervals + " are not given: the factor is not a number" + because);
    } else if (*factor.corrected != corrected || *factor.independent != independent) {
      result.notes.push_back(intervals + " were widened from " + interval_text(corrected) + " (as independent " +
                             interval_text(independent) + ") to hold the estimate " +
                             format_number(factor.estimate, 6) + because);
    }
  }
}

// A hypothesis with equalities: the intervals of its inequality part (of the kinds
// computed) scaled by the factor of its equalities; its complement has none.
void scale_for_equalities(HypothesisResult& result, const std::vector<bool>& kinds) {
  for (const bool corrected : kinds) {
    Interval& interval = corrected ? result.bf_unconstrained_interval : result.bf_unconstrained_interval_independent;
    interval = {interval[0] * result.bf_equalities, interval[1] * result.bf_equalities};
    (corrected ? result.bf_complement_interval : result.bf_complement_interval_independent) = {std::nan(""),
                                                                                              std::nan("")};
  }
}

double relative_half_width(const Interval& interval, double factor) {
  const double relative = (interval[1] - interval[0]) / 2.0 / factor;
  const bool finite = std::isfinite(factor) && std::isfinite(relative) && relative >= 0.0;
  return finite ? relative : std::numeric_limits<double>::infinity();
}

// What a hypothesis's estimate chain samples: the restrictions, start point and beta
// posteriors of its coordinates, and per item the coordinate that stands for it
// (kFixedItem: none, the item is held at fixed_value[item]).
struct SampledCoordinates {
  static constexpr std::size_t kFixedItem = static_cast<std::size_t>(-1);
  std::vector<Restriction> restrictions;
  std::vector<double> start;
  std::vector<double> shape_a;
  std::vector<double> shape_b;
  std::vector<std::size_t> coordinate_of_item;
  std::vector<double> fixed_value;  // per item; read where coordinate_of_item is kFixedItem
};

// Without equalities one coordinate per item, with the hypothesis's own restrictions and
// start; with them one per free group (its pooled posterior, the collapsed restrictions,
// the start its items share), and items tied to a point value held there.
SampledCoordinates sampled_coordinates(const HypothesisResult& result, const Prepared& read,
                                       const std::vector<double>& posterior_a, const std::vector<double>& posterior_b) {
  SampledCoordinates sampled{{}, {}, {}, {}, {}, std::vector<double>(posterior_a.size(), 0.0)};
  sampled.restrictions = read.chain_restrictions();
  if (!read.has_equalities) {
    sampled.start = result.start.centre;
    sampled.shape_a = posterior_a;
    sampled.shape_b = posterior_b;
    for (std::size_t j = 0; j < posterior_a.size(); ++j) sampled.coordinate_of_item.push_back(j);
    return sampled;
  }
  const CollapsedHypothesis& collapsed = read.collapsed;
  sampled.shape_a = collapsed.posterior_a;
  sampled.shape_b = collapsed.posterior_b;
  sampled.coordinate_of_item.assign(posterior_a.size(), SampledCoordinates::kFixedItem);
  for (std::size_t g = 0; g < collapsed.groups.size(); ++g) {
    sampled.start.push_back(result.start.centre[collapsed.groups[g].front()]);
    for (std::size_t j : collapsed.groups[g]) sampled.coordinate_of_item[j] = g;
  }
  for (std::size_t j = 0; j < posterior_a.size(); ++j) {
    if (collapsed.item_value[j]) sampled.fixed_value[j] = *collapsed.item_value[j];
  }
  return sampled;
}

// The estimates per item from those per coordinate: a fixed item has its value with sd 0.
std::vector<ItemEstimate> item_estimates(const SampledCoordinates& sampled, const std::vector<ItemEstimate>& per_coordinate,
                                         const std::vector<std::string>& names) {
  std::vector<ItemEstimate> estimates;
  for (std::size_t j = 0; j < names.size(); ++j) {
    const std::size_t c = sampled.coordinate_of_item[j];
    ItemEstimate estimate;
    if (c == SampledCoordinates::kFixedItem) {
      const double value = sampled.fixed_value[j];
      estimate = {"", value, 0.0, value, value};
    } else {
      estimate = per_coordinate[c];
    }
    estimate.name = names[j];
    estimates.push_back(std::move(estimate));
  }
  return estimates;
}

// Every job's replications are cut into blocks of kReplicationBlock; a task draws one
// block of one job: the complexity's and the fit's stage products (stage t of block k
// from the stream (seed, hypothesis, phase, t, part k), one deviate after the other),
// then the two factors of each replication, stored as order keys. The stage draws are
// set up once, before the blocks; the order statistics of a job's two factors are
// selected as soon as its blocks are done.
void replication_group(const std::vector<IntervalJob>& jobs, StreamSeed seed, int threads) {
  struct Stage {
    std::size_t job;
    bool fit;
    std::size_t t;
  };
  std::vector<Stage> stages;
  std::vector<std::array<std::size_t, 2>> first_stage(jobs.size());  // per job: complexity's, fit's
  for (std::size_t j = 0; j < jobs.size(); ++j) {
    for (const bool fit : {false, true}) {
      first_stage[j][fit ? 1 : 0] = stages.size();
      const std::size_t count = (fit ? jobs[j].result->fit_stages : jobs[j].result->complexity_stages).size();
      for (std::size_t t = 1; t <= count; ++t) stages.push_back({j, fit, t});
    }
  }
  constexpr auto replications = static_cast<std::size_t>(kReplications);
  constexpr std::size_t blocks = replications / kReplicationBlock;
  static_assert(blocks * kReplicationBlock == replications);
  const int team = static_cast<int>(std::min(static_cast<std::size_t>(threads), jobs.size() * blocks));
  // One buffer: keys[2 j k ...]: job j's factors against the complement, keys[(2 j + 1) k
  // ...]: against the unconstrained hypothesis (k = kReplications); per thread of the team
  // a block's complexity and fit products; the stage draws. Left unset here: each task
  // writes its own part (and is the first to touch its pages).
  using Draw = std::optional<StageDraw>;
  static_assert(std::is_trivially_destructible_v<Draw>);
  const std::size_t key_bytes = 2 * jobs.size() * replications * sizeof(std::uint64_t);
  const std::size_t product_bytes = static_cast<std::size_t>(team) * 2 * kReplicationBlock * sizeof(double);
  const HugeBuffer buffer(key_bytes + product_bytes + stages.size() * sizeof(Draw) + alignof(Draw));
  std::uint64_t* const keys_data = reinterpret_cast<std::uint64_t*>(buffer.data());
  double* const products_data = reinterpret_cast<double*>(buffer.data() + key_bytes);
  const std::size_t draw_offset = (key_bytes + product_bytes + alignof(Draw) - 1) / alignof(Draw) * alignof(Draw);
  Draw* const draws = reinterpret_cast<Draw*>(buffer.data() + draw_offset);
  run_in_parallel(stages.size(), team, [&](std::size_t i) {
    const Stage& stage = stages[i];
    const HypothesisResult& result = *jobs[stage.job].result;
    const std::vector<StageCount>& counts = stage.fit ? result.fit_stages : result.complexity_stages;
    (new (draws + i) Draw())->emplace(stage_shapes(counts[stage.t - 1], result.niter, jobs[stage.job].corrected));
  });
  std::vector<std::atomic<std::size_t>> blocks_done(jobs.size());
  for (std::atomic<std::size_t>& done : blocks_done) done.store(0);
  run_in_parallel(jobs.size() * blocks, team, [&](std::size_t i) {
    const std::size_t j = i / blocks;
    const std::size_t block = i % blocks;
    const IntervalJob& job = jobs[j];
    double* const products = products_data + static_cast<std::size_t>(omp_get_thread_num()) * 2 * kReplicationBlock;
    for (const bool fit : {false, true}) {
      double* product = products + (fit ? kReplicationBlock : 0);
      const std::size_t count = (fit ? job.result->fit_stages : job.result->complexity_stages).size();
      if (count == 0) std::fill(product, product + kReplicationBlock, 1.0);
      for (std::size_t t = 1; t <= count; ++t) {
        CounterStream stream(seed, job.hypothesis, replication_kind(fit, job.corrected), t, block);
        draws[first_stage[j][fit ? 1 : 0] + t - 1]->multiply(product, kReplicationBlock, t == 1, stream);
      }
    }
    std::uint64_t* complement = keys_data + 2 * j * replications + block * kReplicationBlock;
    std::uint64_t* unconstrained = complement + replications;
    for (std::size_t r = 0; r < kReplicationBlock; ++r) {
      const double c = products[r];
      const double f = products[kReplicationBlock + r];
      const double against_unconstrained = model::factor_against_unconstrained(f, c);
      unconstrained[r] = order_key(against_unconstrained);
      complement[r] = order_key(model::factor_against_complement(against_unconstrained, f, c));
    }
    // The task that ends a job's last block selects its order statistics (the others'
    // keys are visible to it through the counter).
    if (blocks_done[j].fetch_add(1, std::memory_order_acq_rel) + 1 == blocks) {
      for (std::size_t k = 0; k < 2; ++k) {
        *interval_targets(job)[k] = key_interval(keys_data + (2 * j + k) * replications);
      }
    }
  });
}

}  // namespace

int default_thread_count() { return std::max(1, omp_get_num_procs()); }

// At most this many jobs at once: their keys take 1.6 MB each.
constexpr std::size_t kJobsAtOnce = 16;

void replication_intervals(const std::vector<IntervalJob>& jobs, StreamSeed seed, int threads) {
  for (std::size_t from = 0; from < jobs.size(); from += kJobsAtOnce) {
    const auto to = std::min(jobs.size(), from + kJobsAtOnce);
    replication_group(std::vector<IntervalJob>(jobs.begin() + static_cast<std::ptrdiff_t>(from),
                                               jobs.begin() + static_cast<std::ptrdiff_t>(to)),
                      seed, threads);
  }
}

// One job, stage and replication after the other, each stage's draws set up anew; the
// order statistics from a full sort with NaNs last.
void replication_intervals_plain(const std::vector<IntervalJob>& jobs, StreamSeed seed) {
  for (const IntervalJob& job : jobs) {
    std::array<std::vector<double>, 2> products;  // complexity, fit
    for (const bool fit : {false, true}) {
      std::vector<double>& product = products[fit ? 1 : 0];
      product.assign(static_cast<std::size_t>(kReplications), 1.0);
      const std::vector<StageCount>& counts = fit ? job.result->fit_stages : job.result->complexity_stages;
      for (std::size_t t = 1; t <= counts.size(); ++t) {
        const StageDraw draw(stage_shapes(counts[t - 1], job.result->niter, job.corrected));
        for (std::size_t block = 0; block * kReplicationBlock < product.size(); ++block) {
          CounterStream stream(seed, job.hypothesis, replication_kind(fit, job.corrected), t, block);
          for (std::size_t r = 0; r < kReplicationBlock; ++r) {
            draw.multiply(&product[block * kReplicationBlock + r], 1, false, stream);
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

namespace {
Evaluation evaluate(const CountsProblem& problem, int threads, bool progress_line, const RunControl& control);
}  // namespace

Evaluation evaluate_problem(const CountsProblem& problem, int threads, bool progress_line) {
  return evaluate(problem, threads, progress_line, RunControl{});
}

Evaluation evaluate_problem(const CountsProblem& problem, int threads, const RunControl& control) {
  return evaluate(problem, threads, false, control);
}

namespace {
Evaluation evaluate(const CountsProblem& problem, int threads, bool progress_line, const RunControl& control) {
  Progress progress(progress_line, control);
  Evaluation evaluation;
  evaluation.problem = problem;
  std::vector<std::string> names;
  std::vector<double> prior_a;
  std::vector<double> prior_b;
  std::vector<double> posterior_a;
  std::vector<double> posterior_b;
  for (const Item& item : problem.items) {
    names.push_back(item.name);
    prior_a.push_back(item.prior_a);
    prior_b.push_back(item.prior_b);
    posterior_a.push_back(item.prior_a + static_cast<double>(item.successes));
    posterior_b.push_back(item.prior_b + static_cast<double>(item.trials - item.successes));
  }
  // Every hypothesis is read and given its starting point before any sampling starts.
  std::vector<Prepared> prepared;
  for (const HypothesisText& hypothesis : problem.hypotheses) {
    prepared.push_back(prepare(problem, hypothesis, names));
    const Prepared& read = prepared.back();
    HypothesisResult result;
    result.name = hypothesis.name;
    result.text = hypothesis.text;
    result.restrictions = read.parsed.restrictions;
    const std::vector<Restriction>& restrictions = read.chain_restrictions();
    const std::size_t space = read.has_equalities ? read.collapsed.groups.size() : names.size();
    if (restrictions.empty()) {
      result.start.interior = true;
      result.start.centre.assign(space, 0.5);
      result.start.radius = 0.5;
    } else {
      result.start = find_start_point(restrictions, space);
      if (!result.start.interior) no_interior(problem, hypothesis, restrictions, result.start);
    }
    if (read.has_equalities) {
      for (const Equality& equality : read.parsed.equalities) result.equalities.push_back(equality.text);
      result.log_bf_equalities = read.collapsed.log_factor;
      result.bf_equalities = std::exp(result.log_bf_equalities);
      result.complement_defined = false;
    }
    evaluation.hypotheses.push_back(std::move(result));
  }
  const Settings& settings = problem.settings;
  const StreamSeed seed(static_cast<std::uint64_t>(settings.seed), settings.stream_key);
  threads = usable_thread_count(threads);
  std::vector<HypothesisResult>& results = evaluation.hypotheses;
  std::vector<HypothesisChains> chains(results.size());
  const auto prior_draws = std::make_shared<const std::vector<TruncatedBeta>>(item_draws(prior_a, prior_b));
  const auto posterior_draws = std::make_shared<const std::vector<TruncatedBeta>>(item_draws(posterior_a, posterior_b));
  std::vector<std::size_t> running;
  for (std::size_t h = 0; h < results.size(); ++h) {
    HypothesisResult& result = results[h];
    const Prepared& read = prepared[h];
    const std::vector<Restriction>& restrictions = read.chain_restrictions();
    ChainSettings complexity{0, seed, h, StreamKind::ComplexitySweeps};
    ChainSettings fit{0, seed, h, StreamKind::FitSweeps};
    // With equalities, the collapsed items' own shapes; otherwise the items', shared.
    const CollapsedHypothesis& collapsed = read.collapsed;
    const std::size_t space = read.has_equalities ? collapsed.groups.size() : names.size();
    const auto& chain_prior_a = read.has_equalities ? collapsed.prior_a : prior_a;
    const auto& chain_prior_b = read.has_equalities ? collapsed.prior_b : prior_b;
    const auto& chain_posterior_a = read.has_equalities ? collapsed.posterior_a : posterior_a;
    const auto& chain_posterior_b = read.has_equalities ? collapsed.posterior_b : posterior_b;
    auto chain_prior_draws = prior_draws;
    auto chain_posterior_draws = posterior_draws;
    if (read.has_equalities && !restrictions.empty()) {
      chain_prior_draws = std::make_shared<const std::vector<TruncatedBeta>>(item_draws(chain_prior_a, chain_prior_b));
      chain_posterior_draws =
          std::make_shared<const std::vector<TruncatedBeta>>(item_draws(chain_posterior_a, chain_posterior_b));
    }
    const auto sparse = std::make_shared<const SparseRestrictions>(restrictions, space);
    const auto prior_bands = band_moves(restrictions, chain_prior_a, chain_prior_b);
    const auto posterior_bands = band_moves(restrictions, chain_posterior_a, chain_posterior_b);
    for (std::size_t t = 1; t <= restrictions.size(); ++t) {
      chains[h].complexity.emplace_back(sparse, t, result.start.centre, chain_prior_draws, complexity, prior_bands);
      chains[h].fit.emplace_back(sparse, t, result.start.centre, chain_posterior_draws, fit, posterior_bands);
    }
    if (read.has_equalities) {
      // The start point reported per item: its group's value, or the point value.
      std::vector<double> centre(names.size(), 0.0);
      for (std::size_t g = 0; g < collapsed.groups.size(); ++g) {
        for (std::size_t j : collapsed.groups[g]) centre[j] = result.start.centre[g];
      }
      for (std::size_t j = 0; j < names.size(); ++j) {
        if (collapsed.item_value[j]) centre[j] = *collapsed.item_value[j];
      }
      result.start.centre = centre;
    }
    result.niter = settings.niter;
    running.push_back(h);
  }
  const std::int64_t max_niter = settings.max_niter_or_default();
  // Fixed mode: one round with both kinds of interval. Precision mode: rounds of the
  // corrected intervals until every hypothesis has stopped, then the independent ones.
  const std::vector<bool> round_kinds = settings.precision ? std::vector<bool>{true} : std::vector<bool>{false, true};
  while (!running.empty()) {
    run_chains(chains, results, running, prior_a, prior_b, posterior_a, posterior_b, threads, progress);
    std::vector<std::size_t> next;
    std::vector<IntervalJob> jobs;
    for (std::size_t h : running) {
      HypothesisResult& result = results[h];
      result.complexity_stages.clear();
      result.fit_stages.clear();
      for (const StageChain& chain : chains[h].complexity) result.complexity_stages.push_back(chain.count());
      for (const StageChain& chain : chains[h].fit) result.fit_stages.push_back(chain.count());
      result.complexity = share_product(result.complexity_stages, result.niter);
      result.fit = share_product(result.fit_stages, result.niter);
      result.bf_unconstrained = model::factor_against_unconstrained(result.fit, result.complexity);
      result.bf_complement = model::factor_against_complement(result.bf_unconstrained, result.fit, result.complexity);
      for (const bool corrected : round_kinds) jobs.push_back({&result, h, corrected});
    }
    replication_intervals(jobs, seed, threads);
    std::vector<IntervalJob> closing;
    std::vector<std::size_t> finished;
    for (std::size_t h : running) {
      HypothesisResult& result = results[h];
      result.log_bf_unconstrained = std::log(result.bf_unconstrained);
      if (!result.complement_defined) {
        result.log_bf_unconstrained += result.log_bf_equalities;
        result.bf_unconstrained *= result.bf_equalities;
        result.bf_complement = std::nan("");
        scale_for_equalities(result, round_kinds);
      }
      result.relative_half_width =
          relative_half_width(holding(result.bf_unconstrained_interval, result.bf_unconstrained),
                              result.bf_unconstrained);
      if (result.complement_defined) {
        result.relative_half_width = std::max(
            result.relative_half_width,
            relative_half_width(holding(result.bf_complement_interval, result.bf_complement), result.bf_complement));
      } else if (chains[h].complexity.empty()) {
        result.relative_half_width = 0.0;  // a closed form: no Monte Carlo error
      }
      if (!settings.precision) {
        finish_intervals(result);
        continue;
      }
      result.interval_trusted = unmeasured_stages(result).empty();
      result.precision_reached = result.interval_trusted && result.relative_half_width <= *settings.precision;
      if (result.precision_reached || result.niter >= max_niter) {
        closing.push_back({&result, h, false});
        finished.push_back(h);
      } else {
        result.niter = result.niter > max_niter / 2 ? max_niter : 2 * result.niter;
        next.push_back(h);
      }
    }
    replication_intervals(closing, seed, threads);
    for (std::size_t h : finished) {
      if (!results[h].complement_defined) scale_for_equalities(results[h], {false});
      finish_intervals(results[h]);
    }
    running = std::move(next);
  }
  for (std::size_t h = 0; h < results.size(); ++h) {
    HypothesisResult& result = results[h];
    if (!result.complement_defined) {
      if (chains[h].complexity.empty()) {
        result.notes.push_back("the hypothesis has equalities only: bf_unconstrained is exact (a closed form) and has "
                               "no Monte Carlo error; its intervals are the factor itself");
      } else {
        result.notes.push_back("complexity and fit are those of the inequalities given the equalities, on the items "
                               "the equalities tie together; bf_unconstrained is bf_equalities (exact) times fit / "
                               "complexity, and its intervals are those of fit / complexity times bf_equalities");
      }
      result.notes.push_back("bf_complement is not defined: the complement of a hypothesis with an equality has "
                             "probability one");
    }
    for (const std::string& warning : prepared[h].warnings) result.notes.push_back("warning: " + warning);
  }
  // Estimates: exact for the unconstrained model; one chain per hypothesis, run to the
  // niter its factors settled at.
  for (std::size_t j = 0; j < names.size(); ++j) {
    evaluation.unconstrained_estimates.push_back(beta_estimate(names[j], posterior_a[j], posterior_b[j]));
  }
  run_in_parallel(results.size(), threads, [&](std::size_t h) {
    if (progress.cancelled()) throw Cancelled();
    const SampledCoordinates sampled = sampled_coordinates(results[h], prepared[h], posterior_a, posterior_b);
    const std::vector<ItemEstimate> per_coordinate = restricted_estimates(
        sampled.restrictions, sampled.start, sampled.shape_a, sampled.shape_b, {results[h].niter, seed, h});
    results[h].estimates = item_estimates(sampled, per_coordinate, names);
  });
  // Posterior model probabilities with equal prior probabilities: each hypothesis's
  // factor against the unconstrained one over the sum of the factors in the set. One
  // hypothesis is set against its complement, whose factor is (1 - fit) / (1 - complexity).
  double sum = 0.0;
  for (const HypothesisResult& result : evaluation.hypotheses) sum += result.bf_unconstrained;
  if (evaluation.hypotheses.size() == 1) {
    HypothesisResult& only = evaluation.hypotheses.front();
    // The complement of a hypothesis with an equality is the unconstrained hypothesis
    // up to a set of probability zero: its factor is 1.
    const double complement = only.complement_defined ? (1.0 - only.fit) / (1.0 - only.complexity) : 1.0;
    only.pmp = only.bf_unconstrained / (only.bf_unconstrained + complement);
    only.pmp_complement = complement / (only.bf_unconstrained + complement);
  } else {
    for (HypothesisResult& result : evaluation.hypotheses) result.pmp = result.bf_unconstrained / sum;
  }
  for (HypothesisResult& result : evaluation.hypotheses) result.pmp_with_unconstrained = result.bf_unconstrained / (sum + 1.0);
  evaluation.pmp_unconstrained = 1.0 / (sum + 1.0);
  return evaluation;
}
}  // namespace

}  // namespace propbf::evaluate
