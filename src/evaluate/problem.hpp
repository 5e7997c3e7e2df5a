// The problem of `propbf evaluate`: items with counts and beta priors, named hypotheses
// written in the hypothesis language, and the sampling settings.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace propbf::evaluate {

// A mistake in the problem or on the command line. what() is the whole message as it is
// shown to the user (one or more lines, no trailing newline); the program prints it on
// standard error and ends with exit status 2.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A place in the problem file: line and column, both counted from 1 (columns in bytes).
struct SourcePosition {
  int line = 0;
  int column = 0;
};

struct Item {
  std::string name;
  std::int64_t successes = 0;  // k, 0 <= k <= n
  std::int64_t trials = 0;     // n >= 0
  double prior_a = 1.0;        // Beta(a, b) prior, a > 0 and finite
  double prior_b = 1.0;        // b > 0 and finite
};

struct HypothesisText {
  std::string name;
  std::string text;  // the hypothesis as TOML decoded it
  // positions[i]: where byte i of `text` stands in the file; positions[text.size()] is
  // the position just past the last byte (the closing quote). Empty when not known.
  std::vector<SourcePosition> positions;
};

// Limits of what a problem may ask (each refused with a message, exit status 2):
// the problem file's size;
inline constexpr std::size_t kMaxProblemFileBytes = std::size_t{64} << 20;
// sweeps per stage (niter and max_niter), 2^40: a chain keeps one bit per sweep;
inline constexpr std::int64_t kMaxNiter = std::int64_t{1} << 40;
// beta shapes, prior and posterior (prior + count): larger shapes are beyond the
// accuracy of the beta functions' inversion (and take it ever longer); smaller ones put
// most of an item's draws at exactly 0 or 1 (or a double next to them), where sweeps
// tie, which a warning says below kTieShape.
inline constexpr double kMaxShape = 1e10;
inline constexpr double kMinShape = 1e-3;
inline constexpr double kTieShape = 0.3;

// Sweeps per stage a hypothesis may reach in precision mode unless max_niter says
// otherwise (or niter is larger): 2^22.
inline constexpr std::int64_t kDefaultMaxNiter = std::int64_t{1} << 22;

struct Settings {
  std::int64_t niter = 20000;  // sweeps per stage (in precision mode, to start with), >= 1
  std::int64_t seed = 1;       // >= 0
  // Precision mode when given (0 < precision < 1): each hypothesis's sweeps per stage are
  // doubled, up to max_niter, until the corrected intervals of both its factors have a
  // half-width of at most precision times the factor.
  std::optional<double> precision;
  std::optional<std::int64_t> max_niter;  // only with precision; >= niter

  std::int64_t max_niter_or_default() const { return max_niter ? *max_niter : std::max(kDefaultMaxNiter, niter); }
};

// What the command line sets over the problem file's [sampling] values.
struct SettingOverrides {
  std::optional<std::int64_t> niter;
  std::optional<std::int64_t> seed;
  std::optional<double> precision;
  std::optional<std::int64_t> max_niter;
};

// A problem of `propbf evaluate`: items with their counts and priors, the hypotheses and
// the sampling settings. (The zero-argument program's Problem is its input.txt: one
// observation per item and one hypothesis as coefficient rows.)
struct CountsProblem {
  std::string file_name;  // as given on the command line; used in messages
  std::vector<Item> items;
  std::vector<HypothesisText> hypotheses;  // in file order
  Settings settings;
  // What the problem asks that the results may suffer from (shown on standard error,
  // before any result), one sentence each.
  std::vector<std::string> warnings;
};

// Reads and checks a problem file. Throws InputError naming the file, line and column
// for malformed TOML, missing or mismatched arrays, counts out of range (negative, k > n),
// priors or shapes beyond their limits, unknown keys and bad settings, and for a file
// larger than kMaxProblemFileBytes.
CountsProblem read_problem_file(const std::string& file_name);
// The same for a file's content, read already (`file_name` is used in messages).
CountsProblem read_problem_text(const std::string& file_name, std::string content);

// Sets the overrides over `problem.settings` and checks what the two give together:
// max_niter only with precision, and not below niter. Throws InputError.
void apply_overrides(CountsProblem& problem, const SettingOverrides& overrides);

// "FILE:LINE:COLUMN" (or "FILE" when the position is unknown).
std::string describe_position(const std::string& file_name, SourcePosition position);

}  // namespace propbf::evaluate
