// The problem of `propbf evaluate`: items with counts and beta priors, named hypotheses
// written in the hypothesis language, and the sampling settings.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "messages/messages.hpp"
#include "problem/language.hpp"

namespace propbf::evaluate {

struct Item {
  std::string name;
  std::int64_t successes = 0;  // k, 0 <= k <= n
  std::int64_t trials = 0;     // n >= 0
  double prior_a = 1.0;        // Beta(a, b) prior, a > 0 and finite
  double prior_b = 1.0;        // b > 0 and finite
  // A categorical item (categories.hpp): its counts per category n_1 ... n_K (K >= 2),
  // its category names and its Dirichlet concentrations, one per category. Empty for an
  // item given by successes and trials, whose fields above then hold; for a categorical
  // item those are not read.
  std::vector<std::int64_t> counts{};
  std::vector<std::string> categories{};
  std::vector<double> concentration{};
};

// The prior of a proportion that equalities tie items into (equalities.hpp): the
// items' priors conditioned on their equality, Beta(sum a_i - (m - 1), sum b_i - (m - 1))
// (the default), or the Beta(a, b) the group's items share (refused when they do not).
enum class TiedPrior { Conditional, Common };

// "conditional" or "common"; nullopt for anything else.
std::optional<TiedPrior> tied_prior_named(std::string_view name);
const char* tied_prior_name(TiedPrior prior);

// Rows that every copy of a problem shares: a matrix may have a hundred thousand, which
// a copy of the problem (a batch's, a report's) should not repeat.
class SharedRestrictions {
 public:
  bool empty() const { return !rows_ || rows_->empty(); }
  std::size_t size() const { return rows_ ? rows_->size() : 0; }
  std::vector<Restriction>::const_iterator begin() const { return rows().begin(); }
  std::vector<Restriction>::const_iterator end() const { return rows().end(); }
  const std::vector<Restriction>& rows() const;
  // Adds `more` after the rows (a new list; copies made before keep theirs).
  void append(std::vector<Restriction> more);

 private:
  std::shared_ptr<const std::vector<Restriction>> rows_;
};

struct HypothesisText {
  std::string name;
  std::string text;  // the hypothesis as TOML decoded it
  // positions[i]: where byte i of `text` stands in the file; positions[text.size()] is
  // the position just past the last byte (the closing quote). Empty when not known.
  std::vector<SourcePosition> positions;
  // Where a hypothesis given outside a file came from (e.g. "propbf: --hypothesis 2"),
  // shown in messages in place of a place in the file; empty for a file's hypotheses.
  std::string origin;
  // A polytope given beside the text (a restriction matrix or the facets of vertices,
  // src/polytope): its restrictions over the items, which follow the text's, and, from
  // vertices, the number of facets of their hull. The text may then be empty.
  SharedRestrictions polytope;
  std::vector<Equality> polytope_equalities;  // a hull's implicit equalities, after the text's
  std::optional<std::size_t> facets;
  std::string polytope_source;  // how the table and JSON name it, e.g. matrix "A.csv"
};

// Limits of what a problem may ask (each refused with a message, exit status 2):
// the problem file's size;
inline constexpr std::size_t kMaxProblemFileBytes = std::size_t{64} << 20;
// sweeps per stage (niter and max_niter), 2^40: a chain keeps one bit per sweep;
inline constexpr std::int64_t kMaxNiter = std::int64_t{1} << 40;
// beta shapes, prior and posterior (prior + count): larger shapes are beyond the
// accuracy of the beta functions' inversion (and take it ever longer); smaller ones put
// many of an item's draws at exactly 0 or 1 (or a double next to them), where sweeps
// tie, which a warning says below kTieShape. A restriction between items that a chain
// draws with a shape below kRefusedTieShape is refused (prepare.hpp): there the ties
// bias the share measurably (with priors 0.05 on a > b and no data, fit 0.497 for 0.5;
// at 0.1, 0.4998, within the Monte Carlo error of 200000 sweeps).
inline constexpr double kMaxShape = 1e10;
inline constexpr double kMinShape = 1e-3;
inline constexpr double kTieShape = 0.3;
inline constexpr double kRefusedTieShape = 0.1;

// threads a run may ask: far beyond the processors of any machine this runs on. A run
// starts no more than the processors and the address-space limit allow
// (engine/threads.hpp, usable_thread_count), and says so when it starts fewer.
inline constexpr int kMaxThreads = 1024;

// What a problem that does not say gets: sweeps per stage, seed, and the sweeps per
// stage a hypothesis may reach in precision mode unless max_niter says otherwise (or
// niter is larger), 2^22.
inline constexpr std::int64_t kDefaultNiter = 20000;
inline constexpr std::int64_t kDefaultSeed = 1;
inline constexpr std::int64_t kDefaultMaxNiter = std::int64_t{1} << 22;

struct Settings {
  std::int64_t niter = kDefaultNiter;  // sweeps per stage (in precision mode, to start with), 1 to kMaxNiter
  std::int64_t seed = kDefaultSeed;    // >= 0
  // Precision mode when given (0 < precision < 1): each hypothesis's sweeps per stage are
  // doubled, up to max_niter, until the corrected intervals of both its factors have a
  // half-width of at most precision times the factor.
  std::optional<double> precision;
  std::optional<std::int64_t> max_niter;  // only with precision; niter to kMaxNiter
  // Sweeps per stage of the complexity chains when given (1 to kMaxNiter): run once, not
  // doubled in precision mode; without, the complexity runs niter sweeps as the fit does.
  std::optional<std::int64_t> complexity_niter;
  // With a stream per problem: the name the problem's streams are keyed by (its file's
  // name without folders) and the key's per-problem part (stream_key below). Without
  // (stream_name empty), every problem with the same seed sees the same streams.
  std::string stream_name;
  std::uint64_t stream_key = 0;
  bool seed_per_problem = false;  // [sampling] seed_per_problem: as --seed-per-problem
  // Whether the run keeps draws of each hypothesis's restricted posterior (--samples, the
  // R argument samples) and, when given, every how many sweeps after the burn-in it keeps
  // one (1 to kMaxNiter; by default as many as keep at most kMostSampleRows rows,
  // engine/posterior_draws.hpp). Neither changes any other number.
  bool keep_samples = false;
  std::optional<std::int64_t> thin;

  std::int64_t max_niter_or_default() const { return max_niter ? *max_niter : std::max(kDefaultMaxNiter, niter); }
};

// What the command line sets over the problem file's [sampling] values.
struct SettingOverrides {
  std::optional<std::int64_t> niter;
  std::optional<std::int64_t> seed;
  std::optional<double> precision;
  std::optional<std::int64_t> max_niter;
  std::optional<std::int64_t> complexity_niter;
  bool stream_per_problem = false;  // key the streams by the problem file's name too
  std::optional<TiedPrior> tied_prior;  // over [items] tied_prior
  bool keep_samples = false;            // keep posterior samples (Settings::keep_samples)
  std::optional<std::int64_t> thin;     // Settings::thin
};

// The per-problem part of the streams' key for a problem file: a 64-bit FNV-1a hash of
// its name without folders (never 0, which stands for the shared streams), so that a
// file gets the same streams in any batch, in any order, and alone.
std::uint64_t stream_key(const std::string& file_name);

// A problem of `propbf evaluate`: items with their counts and priors, the hypotheses and
// the sampling settings. (The zero-argument program's Problem is its input.txt: one
// observation per item and one hypothesis as coefficient rows.)
struct CountsProblem {
  std::string file_name;  // as given on the command line; used in messages
  std::vector<Item> items;
  std::vector<HypothesisText> hypotheses;  // in file order
  Settings settings;
  TiedPrior tied_prior = TiedPrior::Conditional;  // [items] tied_prior
  // What the problem asks that the results may suffer from (shown on standard error,
  // before any result), one sentence each.
  std::vector<std::string> warnings;
};

// Whether `name` can stand for an item in a hypothesis: a letter or '_', then letters,
// digits or '_' (ASCII). The message refusing one that cannot (`shown`: the name as the
// message shows it).
bool is_item_name(std::string_view name);
std::string item_name_refusal(const std::string& shown);

// Which of an item's numbers a shape check refuses: its prior's first or second shape, or
// its counts (a posterior shape too large).
enum class ShapeFault { PriorA, PriorB, Count };
// Called with the item's index, what is refused and the message; it throws InputError
// with the message placed where the number came from.
using ShapeFailure = std::function<void(std::size_t, ShapeFault, const std::string&)>;

// Checks the items' beta shapes, prior and posterior, against kMinShape and kMaxShape;
// `fail` throws for the first one refused.
void check_shapes(const CountsProblem& problem, const ShapeFailure& fail);
// The warning about beta shapes below kTieShape (empty when none is).
std::string tie_warning(const CountsProblem& problem);

// Checks each item as a reader checks what it reads, without a place (prepare_problem's
// check of what a caller built): a name the hypotheses can use, given once; counts with
// 0 <= successes <= trials; priors positive and finite; the shapes (check_shapes).
// Throws InputError.
void check_items(const CountsProblem& problem);

// Sets the overrides over `problem.settings` (and the per-problem streams' key).
void apply_overrides(CountsProblem& problem, const SettingOverrides& overrides);

// Checks the settings against the limits above and each other: niter and max_niter from
// 1 to kMaxNiter, seed at least 0, precision between 0 and 1, max_niter only with a
// precision and not below niter. Throws InputError.
void check_settings(const Settings& settings);

// A setting given as a number (the R package's are doubles): the whole number it is.
// Throws InputError naming `setting` for anything else (a fraction, NaN, an infinity, a
// number beyond the 64-bit integers).
std::int64_t whole_setting(std::string_view setting, double value);

// The threads a caller asks for, 1 to kMaxThreads, or 0 for one per processor. Throws
// InputError.
int checked_threads(std::int64_t threads);

// What a run says when memory ran out for the problem `name` names; `niter`: how the
// caller's user sets the sweeps per stage.
std::string out_of_memory_message(const std::string& name, std::string_view niter = "--niter");

}  // namespace propbf::evaluate
