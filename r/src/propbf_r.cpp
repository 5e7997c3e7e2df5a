// The R entry point: builds the problem of `propbf evaluate` from R's vectors, prepares it
// the one way every front door does (prepare_problem), runs it on a thread of its own
// while R's thread shows the progress line and watches for an interrupt, and hands back
// the results as R data (or, asked for, the engine's JSON document). No R error ever
// jumps over a C++ frame: R is asked for an interrupt only inside R_ToplevelExec, R
// objects are made only once the engine has stopped, and conditions are raised by the R
// code from the returned status.
#include <cpp11/declarations.hpp>
#include <cpp11/doubles.hpp>
#include <cpp11/integers.hpp>
#include <cpp11/list.hpp>
#include <cpp11/logicals.hpp>
#include <cpp11/strings.hpp>

#include <R_ext/Print.h>
#include <R_ext/Rdynload.h>
#include <R_ext/Utils.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/evaluation.hpp"
#include "input/plan_file.hpp"
#include "plan/plan_report.hpp"
#include "plan/plan_run.hpp"
#include "plan/planner.hpp"
#include "polytope/polytope.hpp"
#include "problem/categories.hpp"
#include "engine/threads.hpp"
#include "input/problem_file.hpp"
#include "problem/prepare.hpp"
#include "problem/problem.hpp"
#include "report/report.hpp"

namespace {

using namespace propbf::evaluate;

// The name the hypotheses' messages are placed in ("hypotheses:N:C" is character C of the
// N-th hypothesis) and the one the results carry.
const char* const kHypothesesLabel = "hypotheses";
const char* const kResultLabel = "bf_proportions()";

// A polytope given beside a hypothesis (bf_multinomial()): a restriction matrix A θ <= b
// or vertices, as R matrices; `label` names it in messages and results (e.g.
// "polytopes$SWOP$A").
struct PolytopeArgument {
  std::string label;
  PolytopeForm form = PolytopeForm::Matrix;
  std::vector<std::string> headers;  // the columns' names
  std::vector<double> values;        // rows x columns, row after row
  std::vector<double> b;             // a matrix's right-hand side, one per row
  std::size_t rows = 0;
};

struct Arguments {
  std::vector<std::string> names;
  std::vector<double> successes;
  std::vector<double> trials;
  std::vector<double> prior_a;  // one value, or one per item
  std::vector<double> prior_b;
  std::vector<std::string> hypothesis_names;
  std::vector<std::string> hypothesis_texts;
  std::vector<double> settings;  // niter, seed, precision, max_niter (NaN (NA): the engine's default), tied prior (1: common)
  double threads = 0;            // 0: one per processor
  bool progress = false;
  bool json = false;
  // Items of categories (bf_multinomial()): per item its counts, its category names
  // (empty: "1" ... "K") and its Dirichlet concentrations (one for every category, or one
  // per category); per hypothesis the polytopes given beside its text.
  bool categorical = false;
  std::vector<std::vector<double>> counts;
  std::vector<std::vector<std::string>> categories;
  std::vector<std::vector<double>> concentration;
  std::vector<std::vector<PolytopeArgument>> polytopes;
};

// A count as the whole number it is; InputError otherwise.
std::int64_t count(const char* what, const std::string& item, double value) {
  if (!(std::fabs(value) <= 9007199254740992.0) || value != std::trunc(value)) {
    throw InputError("propbf: " + std::string(what) + " of item '" + visible_text(item) + "' (" +
                     format_number(value, 17) + ") must be a whole number");
  }
  return static_cast<std::int64_t>(value);
}

// Where each byte of the hypothesis on line `line` stands: columns count characters.
std::vector<SourcePosition> string_positions(const std::string& text, int line) {
  std::vector<SourcePosition> positions;
  positions.reserve(text.size() + 1);
  int column = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++column;
    positions.push_back({line, column});
  }
  positions.push_back({line, column + 1});
  return positions;
}

// A polytope given as R matrices, as the table a matrix or vertex file reads as, checked
// as the reader checks a file (a column naming no free parameter or one twice, a value
// that is not a finite number); its row r stands on "line" r of `label`.
PolytopeTable polytope_table(const PolytopeArgument& polytope, const ParameterNames& names) {
  const auto fail = [&](std::size_t row, std::size_t column, const std::string& message) {
    throw InputError(describe_position(polytope.label, {static_cast<int>(row), static_cast<int>(column)}) + ": " +
                     message);
  };
  const std::size_t columns = polytope.headers.size();
  if (columns == 0) {
    fail(1, 1, "the matrix has no columns; name them by the free parameters, e.g. " +
                   (names.names().empty() ? std::string("a[1]") : names.names().front()));
  }
  if (polytope.rows == 0) fail(1, 1, "the matrix has no rows");
  if (polytope.values.size() != polytope.rows * columns ||
      (polytope.form == PolytopeForm::Matrix && polytope.b.size() != polytope.rows)) {
    throw std::invalid_argument("propbf_run: malformed polytope");
  }
  PolytopeTable table;
  std::vector<std::size_t> seen(names.coordinates(), columns);
  for (std::size_t i = 0; i < columns; ++i) {
    const std::string& name = polytope.headers[i];
    const std::size_t* coordinate = names.find(name);
    if (coordinate == nullptr) {
      std::string list;
      for (const std::string& known : names.names()) list += (list.empty() ? "" : ", ") + known;
      fail(1, i + 1, "column " + std::to_string(i + 1) + " is named '" + visible_text(name) +
                         "', which is no free parameter of the items; the parameters are " + list);
    }
    if (seen[*coordinate] != columns) {
      fail(1, i + 1, "columns " + std::to_string(seen[*coordinate] + 1) + " and " + std::to_string(i + 1) +
                         " both name parameter '" + names.names()[*coordinate] + "'; give each column once");
    }
    seen[*coordinate] = i;
    table.coordinates.push_back(*coordinate);
    table.headers.push_back(name);
  }
  if (polytope.form == PolytopeForm::Vertices && polytope.rows > kMaxVertices) {
    fail(kMaxVertices + 1, 1, too_many_vertices(polytope.rows, false));
  }
  for (std::size_t r = 0; r < polytope.rows; ++r) {
    for (std::size_t i = 0; i <= columns; ++i) {
      if (i == columns && polytope.form != PolytopeForm::Matrix) break;
      const double value = i == columns ? polytope.b[r] : polytope.values[r * columns + i];
      if (!std::isfinite(value)) {
        fail(r + 1, i + 1, "expected a finite number for '" + (i == columns ? std::string("b") : table.headers[i]) +
                               "', but found " + format_number(value, 17));
      }
      (i == columns ? table.b : table.values).push_back(value);
      if (polytope.form == PolytopeForm::Vertices) table.exact.push_back(shortest_text(value));
    }
    table.lines.push_back(static_cast<int>(r + 1));
  }
  return table;
}

// Adds a hypothesis's polytopes to it, as the problem file's reader adds its matrix and
// vertex files: the matrix's rows (each named `label[r, ]`), then the vertices' facets.
void add_polytopes(HypothesisText& hypothesis, const std::vector<PolytopeArgument>& polytopes,
                   const ParameterNames& names) {
  for (const PolytopeArgument& polytope : polytopes) {
    const PolytopeTable table = polytope_table(polytope, names);
    const bool matrix = polytope.form == PolytopeForm::Matrix;
    PolytopeRestrictions read = matrix ? matrix_restrictions(polytope.label, table, names.coordinates())
                                       : vertex_restrictions(polytope.label, table, names.coordinates());
    if (!matrix) hypothesis.facets = read.facets;
    for (Restriction& restriction : read.restrictions) {
      // "LABEL line R" as the matrix's row R.
      const std::size_t at = restriction.text.rfind(' ');
      restriction.text = polytope.label + "[" + restriction.text.substr(at + 1) + ", ]";
    }
    hypothesis.polytope_source +=
        (hypothesis.polytope_source.empty() ? "" : "; ") + std::string(matrix ? "matrix " : "vertices ") + polytope.label;
    hypothesis.polytope.append(std::move(read.restrictions));
    hypothesis.polytope_equalities.insert(hypothesis.polytope_equalities.end(), read.equalities.begin(),
                                          read.equalities.end());
  }
  if (!polytopes.empty() && hypothesis.polytope.empty() && hypothesis.polytope_equalities.empty() &&
      hypothesis.text.find_first_not_of(" \t\r\n") == std::string::npos) {
    throw InputError("propbf: hypothesis " + hypothesis.name +
                     ": every row of its polytope holds for every proportion in [0, 1]; it restricts nothing");
  }
}

// The items of categories as given: counts, category names ("1" ... "K" when not given)
// and concentrations (one number for every category of an item, or one per category).
void categorical_items(CountsProblem& problem, const Arguments& arguments) {
  const std::size_t items = arguments.names.size();
  if (arguments.counts.size() != items || arguments.categories.size() != items) {
    throw std::invalid_argument("propbf_run: malformed arguments");
  }
  if (arguments.concentration.size() != 1 && arguments.concentration.size() != items) {
    throw InputError("propbf: 'prior' has " + std::to_string(arguments.concentration.size()) +
                     " values but there are " + std::to_string(items) +
                     " items; give one number for all, one per item or a list with one per item (one number or "
                     "one per category)");
  }
  problem.items.resize(items);
  for (std::size_t j = 0; j < items; ++j) {
    Item& item = problem.items[j];
    item.name = arguments.names[j];
    for (const double value : arguments.counts[j]) item.counts.push_back(count("a count", item.name, value));
    const std::size_t k = item.counts.size();
    item.categories = arguments.categories[j];
    if (item.categories.empty()) {
      for (std::size_t c = 0; c < k; ++c) item.categories.push_back(std::to_string(c + 1));
    }
    const std::vector<double>& alpha = arguments.concentration[arguments.concentration.size() == 1 ? 0 : j];
    if (alpha.size() == 1) {
      item.concentration.assign(k, alpha.front());
    } else {
      item.concentration = alpha;
    }
  }
}

// The problem as given, prepared as a problem file or --data is.
CountsProblem build_problem(const Arguments& arguments) {
  CountsProblem problem;
  problem.file_name = kHypothesesLabel;
  const std::size_t items = arguments.names.size();
  if (arguments.hypothesis_names.size() != arguments.hypothesis_texts.size() || arguments.settings.size() != 7) {
    throw std::invalid_argument("propbf_run: malformed arguments");
  }
  if (arguments.categorical) {
    categorical_items(problem, arguments);
  } else if (arguments.successes.size() != items || arguments.trials.size() != items ||
             (arguments.prior_a.size() != 1 && arguments.prior_a.size() != items) ||
             (arguments.prior_b.size() != 1 && arguments.prior_b.size() != items)) {
    throw std::invalid_argument("propbf_run: malformed arguments");
  } else {
    problem.items.resize(items);
    for (std::size_t j = 0; j < items; ++j) {
      Item& item = problem.items[j];
      item.name = arguments.names[j];
      item.successes = count("successes", item.name, arguments.successes[j]);
      item.trials = count("trials", item.name, arguments.trials[j]);
      item.prior_a = arguments.prior_a[arguments.prior_a.size() == 1 ? 0 : j];
      item.prior_b = arguments.prior_b[arguments.prior_b.size() == 1 ? 0 : j];
    }
  }
  const bool polytopes = std::any_of(arguments.polytopes.begin(), arguments.polytopes.end(),
                                     [](const auto& given) { return !given.empty(); });
  if (polytopes) {
    if (arguments.polytopes.size() != arguments.hypothesis_names.size()) {
      throw std::invalid_argument("propbf_run: malformed polytopes");
    }
    check_items(problem);  // the parameters' names need items as a reader leaves them
  }
  const std::optional<ParameterNames> names =
      polytopes ? std::optional<ParameterNames>(std::in_place, problem.items) : std::nullopt;
  for (std::size_t h = 0; h < arguments.hypothesis_names.size(); ++h) {
    HypothesisText hypothesis;
    hypothesis.name = arguments.hypothesis_names[h];
    hypothesis.text = arguments.hypothesis_texts[h];
    hypothesis.positions = string_positions(hypothesis.text, static_cast<int>(h + 1));
    if (polytopes) add_polytopes(hypothesis, arguments.polytopes[h], *names);
    problem.hypotheses.push_back(std::move(hypothesis));
  }
  SettingOverrides overrides;
  const auto given = [&](std::size_t k, const char* name) -> std::optional<std::int64_t> {
    if (std::isnan(arguments.settings[k])) return std::nullopt;
    return whole_setting(name, arguments.settings[k]);
  };
  overrides.niter = given(0, "niter");
  overrides.seed = given(1, "seed");
  if (!std::isnan(arguments.settings[2])) overrides.precision = arguments.settings[2];
  overrides.max_niter = given(3, "max_niter");
  overrides.tied_prior = arguments.settings[4] == 1.0 ? TiedPrior::Common : TiedPrior::Conditional;
  overrides.keep_samples = arguments.settings[5] == 1.0;
  overrides.thin = given(6, "thin");
  return prepare_problem(std::move(problem), overrides);
}

void check_interrupt(void*) { R_CheckUserInterrupt(); }

// The progress line on R's console: what the engine last reported, redrawn in place.
class ConsoleLine {
 public:
  void show(const std::string& line) {
    if (line == shown_) return;
    std::string bytes = "\r" + line;
    if (line.size() < shown_.size()) bytes += std::string(shown_.size() - line.size(), ' ') + "\r" + line;
    REprintf("%s", bytes.c_str());
    shown_ = line;
  }

 private:
  std::string shown_;
};

struct Outcome {
  std::string status = "ok";  // "ok", "input_error", "interrupted", "error"
  std::string message;
  std::optional<Evaluation> evaluation;
};

// What the worker thread and R's thread share: the worker owns it as much as R's thread
// does, so that R may stop waiting for it (see run_problem).
// What a worker thread and R's thread share: the worker owns it as much as R's thread
// does, so that R may stop waiting for it (see watch_worker).
struct Watched {
  std::atomic<bool> cancel{false};
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::string line;  // the progress line last reported
  std::exception_ptr failure;
};

struct Run : Watched {
  CountsProblem problem;
  int threads = 0;
  RunControl control;
  std::optional<Evaluation> evaluation;
};

// Thrown when a second interrupt came while the engine was winding down.
struct Abandoned {};

// Runs `work` on a worker thread; R's thread redraws the progress line and asks R for an
// interrupt every 100 ms. The first interrupt cancels the run, which ends at the
// engine's next look at the flag. R's thread goes on asking while the engine winds
// down: a second interrupt stops the wait at once (Abandoned), and the worker, which
// shares the state, finishes in the background and frees it. No interrupt is left
// pending to cancel whatever R runs next. What the work throws is thrown here.
template <class State>
void watch_worker(const std::shared_ptr<State>& state, void (*work)(State&), bool progress, bool& interrupted) {
  std::thread worker([state, work] {
    try {
      work(*state);
    } catch (...) {
      state->failure = std::current_exception();
    }
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->done = true;
    state->finished.notify_one();
  });
  // Whatever ends this scope but an abandoned wait, the worker has stopped first.
  struct Joined {
    std::thread& worker;
    std::atomic<bool>& cancel;
    ~Joined() {
      if (!worker.joinable()) return;
      cancel = true;
      worker.join();
    }
  } joined{worker, state->cancel};
  ConsoleLine console;
  for (;;) {
    std::unique_lock<std::mutex> lock(state->mutex);
    state->finished.wait_for(lock, std::chrono::milliseconds(100), [&] { return state->done; });
    if (state->done) break;
    const std::string current = state->line;
    lock.unlock();
    if (progress) console.show(current);
    if (R_ToplevelExec(check_interrupt, nullptr) == FALSE) {
      if (interrupted) {
        worker.detach();
        console.show("");
        throw Abandoned{};
      }
      interrupted = true;
      state->cancel = true;
    }
  }
  worker.join();
  console.show("");
  if (state->failure) std::rethrow_exception(state->failure);
}

// Runs the problem on a worker thread, watched from R's (watch_worker).
Evaluation run_problem(CountsProblem problem, const Arguments& arguments, bool& interrupted) {
  const auto run = std::make_shared<Run>();
  run->problem = std::move(problem);
  run->threads = checked_threads(whole_setting("threads", arguments.threads));
  run->control.cancel = &run->cancel;
  if (arguments.progress) {
    Run* const shared = run.get();  // the control is the run's own: it lives as long as the run
    run->control.progress = [shared](const std::string& text) {
      const std::lock_guard<std::mutex> lock(shared->mutex);
      shared->line = text;
    };
  }
  watch_worker<Run>(
      run, [](Run& state) { state.evaluation.emplace(evaluate_problem(state.problem, state.threads, state.control)); },
      arguments.progress, interrupted);
  return std::move(*run->evaluation);
}

Outcome run(const Arguments& arguments) {
  Outcome outcome;
  bool interrupted = false;
  try {
    CountsProblem problem = build_problem(arguments);
    outcome.evaluation.emplace(run_problem(std::move(problem), arguments, interrupted));
    outcome.evaluation->problem.file_name = arguments.categorical ? "bf_multinomial()" : kResultLabel;
  } catch (const Cancelled&) {
    outcome.status = "interrupted";
    outcome.message = "interrupted: the evaluation stopped before it ended";
  } catch (const Abandoned&) {
    outcome.status = "interrupted";
    outcome.message = "interrupted twice: the evaluation stops in the background";
  } catch (const InputError& error) {
    outcome.status = "input_error";
    outcome.message = printable_message(error.what());
  } catch (const std::bad_alloc&) {
    outcome.status = "error";
    outcome.message = printable_message(out_of_memory_message(kResultLabel, "niter"));
  } catch (const std::exception& error) {
    outcome.status = "error";
    outcome.message = error.what();
  }
  // An interrupt that came as the run ended (it may have finished first) still ends it.
  if (interrupted && outcome.status == "ok") {
    outcome.status = "interrupted";
    outcome.message = "interrupted: the evaluation ended as it was interrupted";
    outcome.evaluation.reset();
  }
  // What R reads: the engine's messages without the program's name.
  if (outcome.message.starts_with("propbf: ")) outcome.message.erase(0, 8);
  return outcome;
}

// R objects from the results (on R's thread, after the run).
SEXP text(const std::string& value) { return cpp11::as_sexp(value.c_str()); }

cpp11::writable::strings texts(const std::vector<std::string>& values) {
  cpp11::writable::strings out(static_cast<R_xlen_t>(values.size()));
  for (std::size_t i = 0; i < values.size(); ++i) {
    SET_STRING_ELT(out, static_cast<R_xlen_t>(i), Rf_mkCharLenCE(values[i].data(), static_cast<int>(values[i].size()), CE_UTF8));
  }
  return out;
}

cpp11::writable::doubles numbers(const std::vector<double>& values) {
  cpp11::writable::doubles out(static_cast<R_xlen_t>(values.size()));
  for (std::size_t i = 0; i < values.size(); ++i) out[static_cast<R_xlen_t>(i)] = values[i];
  return out;
}

cpp11::writable::doubles interval(const Interval& value) { return numbers({value[0], value[1]}); }

// A list with names, from (name, value) pairs. Each value is protected (cpp11::sexp) from
// the moment it is made, as the next one's allocation may collect garbage.
cpp11::writable::list named(std::initializer_list<std::pair<const char*, cpp11::sexp>> members) {
  cpp11::writable::list out(static_cast<R_xlen_t>(members.size()));
  cpp11::writable::strings names(static_cast<R_xlen_t>(members.size()));
  R_xlen_t i = 0;
  for (const auto& [name, value] : members) {
    out[i] = value;
    names[i] = name;
    ++i;
  }
  out.attr("names") = names;
  return out;
}

// A hypothesis's posterior samples as a matrix, one row per draw and one column per
// parameter (`columns`); NULL where none were kept. R's matrices are column after column,
// the samples row after row.
SEXP sample_matrix(const std::vector<double>& values, const std::vector<std::string>& columns) {
  if (columns.empty()) return R_NilValue;
  const std::size_t width = columns.size();
  const std::size_t rows = values.size() / width;
  cpp11::writable::doubles matrix(static_cast<R_xlen_t>(rows * width));
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < width; ++c) matrix[static_cast<R_xlen_t>(r + c * rows)] = values[r * width + c];
  }
  matrix.attr("dim") = cpp11::writable::integers({static_cast<int>(rows), static_cast<int>(width)});
  matrix.attr("dimnames") = cpp11::writable::list({R_NilValue, static_cast<SEXP>(texts(columns))});
  return matrix;
}

// A data frame of `columns` (each of `rows` values).
SEXP data_frame(cpp11::writable::list columns, std::size_t rows) {
  columns.attr("row.names") = cpp11::writable::integers({NA_INTEGER, -static_cast<int>(rows)});
  columns.attr("class") = "data.frame";
  return columns;
}

// The estimates, one row per item (a binomial item's success probability) or, with items
// of categories, one per category, named item[category] and with the columns item and
// category beside.
SEXP estimates(const std::vector<ItemEstimate>& values, const std::vector<Item>& items) {
  std::vector<std::string> names, item_names, category_names;
  std::vector<double> mean, sd, lower, upper;
  for (const ItemEstimate& e : values) {
    names.push_back(e.name);
    mean.push_back(e.mean);
    sd.push_back(e.sd);
    lower.push_back(e.lower);
    upper.push_back(e.upper);
  }
  bool categorical = false;
  for (const Item& item : items) {
    categorical = categorical || is_categorical(item);
    for (std::size_t c = 0; c < (is_categorical(item) ? item.counts.size() : 1); ++c) {
      item_names.push_back(item.name);
      category_names.push_back(is_categorical(item) ? item.categories[c] : "1");
    }
  }
  if (!categorical || item_names.size() != values.size()) {
    return data_frame(named({{"name", texts(names)}, {"mean", numbers(mean)}, {"sd", numbers(sd)},
                             {"lower", numbers(lower)}, {"upper", numbers(upper)}}),
                      values.size());
  }
  return data_frame(named({{"name", texts(names)}, {"item", texts(item_names)}, {"category", texts(category_names)},
                           {"mean", numbers(mean)}, {"sd", numbers(sd)}, {"lower", numbers(lower)},
                           {"upper", numbers(upper)}}),
                    values.size());
}

SEXP stages(const HypothesisResult& result) {
  std::vector<double> columns[6];
  // An exact complexity has no stages, and a grouped hypothesis may have more stages in
  // one phase than in the other: NA.
  const std::size_t stage_count = std::max(result.fit_stages.size(), result.complexity_stages.size());
  const StageCount none{NA_INTEGER, NA_REAL, NA_REAL, true};
  for (std::size_t t = 0; t < stage_count; ++t) {
    const StageCount c = t < result.complexity_stages.size() ? result.complexity_stages[t] : none;
    const StageCount f = t < result.fit_stages.size() ? result.fit_stages[t] : none;
    for (const auto& [k, value] : {std::pair{0, c.hits == NA_INTEGER ? NA_REAL : static_cast<double>(c.hits)},
                                   std::pair{1, c.effective_sweeps},
                                   std::pair{2, c.batch_correlation}, std::pair{3, f.hits == NA_INTEGER ? NA_REAL : static_cast<double>(f.hits)},
                                   std::pair{4, f.effective_sweeps}, std::pair{5, f.batch_correlation}}) {
      columns[k].push_back(value);
    }
  }
  return data_frame(named({{"complexity_hits", numbers(columns[0])}, {"complexity_effective_sweeps", numbers(columns[1])},
                           {"complexity_batch_correlation", numbers(columns[2])}, {"fit_hits", numbers(columns[3])},
                           {"fit_effective_sweeps", numbers(columns[4])}, {"fit_batch_correlation", numbers(columns[5])}}),
                    stage_count);
}

SEXP hypothesis(const HypothesisResult& result, const Evaluation& evaluation) {
  const Settings& settings = evaluation.problem.settings;
  cpp11::writable::list restrictions(static_cast<R_xlen_t>(result.restrictions.size()));
  for (std::size_t k = 0; k < result.restrictions.size(); ++k) {
    const Restriction& r = result.restrictions[k];
    restrictions[static_cast<R_xlen_t>(k)] =
        named({{"text", text(r.text)}, {"coefficients", numbers(r.coefficients)}, {"constant", cpp11::as_sexp(r.constant)}});
  }
  // Without a number the engine gives none: NA, as the JSON's null.
  const auto figure = [](double value, bool defined = true) { return cpp11::as_sexp(defined ? value : NA_REAL); };
  const bool single = evaluation.hypotheses.size() == 1;
  const cpp11::sexp precision =
      settings.precision ? static_cast<SEXP>(named({{"target", cpp11::as_sexp(*settings.precision)},
                                                    {"reached", cpp11::as_sexp(result.precision_reached)},
                                                    {"achieved", figure(result.relative_half_width, result.interval_trusted)}}))
                         : R_NilValue;
  return named({{"name", text(result.name)},
                {"hypothesis", text(result.text)},
                {"restrictions", restrictions},
                {"equalities", texts(result.equalities)},
                {"start", numbers(result.start.centre)},
                {"start_radius", cpp11::as_sexp(result.start.radius)},
                {"niter", cpp11::as_sexp(static_cast<double>(result.niter))},
                {"precision", precision},
                {"complexity", figure(result.complexity)},
                {"fit", figure(result.fit)},
                {"bf_unconstrained", figure(result.bf_unconstrained)},
                {"bf_unconstrained_interval", interval(result.bf_unconstrained_interval)},
                {"bf_unconstrained_interval_independent", interval(result.bf_unconstrained_interval_independent)},
                {"bf_equalities", figure(result.bf_equalities)},
                {"log_bf_unconstrained", figure(result.log_bf_unconstrained)},
                {"bf_complement", figure(result.bf_complement, result.complement_defined)},
                {"bf_complement_interval", interval(result.bf_complement_interval)},
                {"bf_complement_interval_independent", interval(result.bf_complement_interval_independent)},
                {"interval_trusted", cpp11::as_sexp(result.interval_trusted)},
                {"pmp", figure(result.pmp)},
                {"pmp_with_unconstrained", figure(result.pmp_with_unconstrained)},
                {"pmp_complement", figure(result.pmp_complement, single)},
                {"ppp", figure(result.ppp)},
                {"samples", sample_matrix(result.samples, evaluation.sample_columns)},
                {"estimates", estimates(result.estimates, evaluation.problem.items)},
                {"stages", stages(result)},
                {"facets", cpp11::as_sexp(result.facets ? static_cast<double>(*result.facets) : NA_REAL)},
                {"notes", texts(result.notes)}});
}

SEXP results(const Evaluation& evaluation, const std::string& version) {
  const CountsProblem& problem = evaluation.problem;
  const Settings& settings = problem.settings;
  std::vector<std::string> names;
  std::vector<double> successes, trials, prior_a, prior_b;
  for (const Item& item : problem.items) {
    names.push_back(item.name);
    successes.push_back(static_cast<double>(item.successes));
    trials.push_back(static_cast<double>(item.trials));
    prior_a.push_back(item.prior_a);
    prior_b.push_back(item.prior_b);
  }
  // Items of categories: one row per category, its count and its prior concentration.
  std::vector<std::string> category_items, category_names;
  std::vector<double> category_counts, category_prior;
  bool categorical = false;
  for (const Item& item : problem.items) {
    categorical = categorical || is_categorical(item);
    for (std::size_t c = 0; c < item.counts.size(); ++c) {
      category_items.push_back(item.name);
      category_names.push_back(item.categories[c]);
      category_counts.push_back(static_cast<double>(item.counts[c]));
      category_prior.push_back(item.concentration[c]);
    }
  }
  const cpp11::sexp items =
      categorical ? data_frame(named({{"name", texts(category_items)}, {"category", texts(category_names)},
                                      {"count", numbers(category_counts)}, {"prior", numbers(category_prior)}}),
                               category_items.size())
                  : data_frame(named({{"name", texts(names)}, {"successes", numbers(successes)},
                                      {"trials", numbers(trials)}, {"prior_a", numbers(prior_a)},
                                      {"prior_b", numbers(prior_b)}}),
                               names.size());
  const cpp11::sexp precision = settings.precision ? cpp11::as_sexp(*settings.precision) : cpp11::as_sexp(NA_REAL);
  const cpp11::sexp max_niter = settings.precision ? cpp11::as_sexp(static_cast<double>(settings.max_niter_or_default()))
                                            : cpp11::as_sexp(NA_REAL);
  const cpp11::sexp settings_list = named({{"niter", cpp11::as_sexp(static_cast<double>(settings.niter))},
                                    {"seed", cpp11::as_sexp(static_cast<double>(settings.seed))},
                                    {"precision", precision},
                                    {"max_niter", max_niter},
                                    {"replications", cpp11::as_sexp(static_cast<double>(kReplications))},
                                    {"version", text(version)},
                                    {"items", items}});
  const std::size_t count = evaluation.hypotheses.size();
  cpp11::writable::list hypotheses(static_cast<R_xlen_t>(count));
  std::vector<std::string> hypothesis_names;
  for (std::size_t h = 0; h < count; ++h) {
    hypotheses[static_cast<R_xlen_t>(h)] = hypothesis(evaluation.hypotheses[h], evaluation);
    hypothesis_names.push_back(evaluation.hypotheses[h].name);
  }
  hypotheses.attr("names") = texts(hypothesis_names);
  cpp11::writable::doubles matrix(static_cast<R_xlen_t>(count * count));
  const std::vector<std::vector<double>> factors = bf_matrix(evaluation);
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t j = 0; j < count; ++j) matrix[static_cast<R_xlen_t>(i + j * count)] = factors[i][j];
  }
  matrix.attr("dim") = cpp11::writable::integers({static_cast<int>(count), static_cast<int>(count)});
  matrix.attr("dimnames") = cpp11::writable::list({texts(hypothesis_names), texts(hypothesis_names)});
  std::vector<std::string> notes;
  for (const std::string& warning : problem.warnings) notes.push_back("warning: " + warning);
  return named({{"program", text("propbf evaluate")},
                {"version", text(version)},
                {"problem", text(problem.file_name)},
                {"settings", settings_list},
                {"hypotheses", hypotheses},
                {"unconstrained_estimates", estimates(evaluation.unconstrained_estimates, problem.items)},
                {"bf_matrix", matrix},
                {"pmp_unconstrained", cpp11::as_sexp(evaluation.pmp_unconstrained)},
                {"ppp_unconstrained", cpp11::as_sexp(evaluation.ppp_unconstrained)},
                {"notes", texts(notes)},
                {"table", text(format_table(evaluation))}});
}

std::vector<std::string> text_vector(SEXP value) {
  std::vector<std::string> out;
  const cpp11::strings values(value);
  out.reserve(static_cast<std::size_t>(values.size()));
  for (R_xlen_t i = 0; i < values.size(); ++i) out.push_back(Rf_translateCharUTF8(STRING_ELT(values, i)));
  return out;
}

std::vector<double> number_vector(SEXP value) {
  const cpp11::doubles values(value);
  return std::vector<double>(values.begin(), values.end());
}

// The run and the value R reads: status, message and the results (or the JSON document).
SEXP finish(const Arguments& arguments, const std::string& engine_version) {
  const Outcome outcome = run(arguments);
  cpp11::sexp value = R_NilValue;
  if (outcome.evaluation) {
    value = arguments.json ? text(format_json(*outcome.evaluation, engine_version))
                           : results(*outcome.evaluation, engine_version);
  }
  return named({{"status", text(outcome.status)}, {"message", text(outcome.message)}, {"value", value}});
}

std::string element_text(SEXP list, const char* name) {
  const std::vector<std::string> values = text_vector(cpp11::list(list)[name]);
  if (values.size() != 1) throw std::invalid_argument(std::string("propbf_run: malformed ") + name);
  return values.front();
}

}  // namespace

extern "C" SEXP propbf_run(SEXP names, SEXP successes, SEXP trials, SEXP prior_a, SEXP prior_b, SEXP hypothesis_names,
                           SEXP hypothesis_texts, SEXP settings, SEXP threads, SEXP progress, SEXP version, SEXP json) {
  BEGIN_CPP11
  Arguments arguments;
  arguments.names = text_vector(names);
  arguments.successes = number_vector(successes);
  arguments.trials = number_vector(trials);
  arguments.prior_a = number_vector(prior_a);
  arguments.prior_b = number_vector(prior_b);
  arguments.hypothesis_names = text_vector(hypothesis_names);
  arguments.hypothesis_texts = text_vector(hypothesis_texts);
  arguments.settings = number_vector(settings);
  arguments.threads = cpp11::as_cpp<double>(threads);
  arguments.progress = cpp11::as_cpp<bool>(progress);
  arguments.json = cpp11::as_cpp<bool>(json);
  return finish(arguments, cpp11::as_cpp<std::string>(version));
  END_CPP11
}

// Items of categories (bf_multinomial()): `counts`, `categories` and `prior` are lists
// with one element per item (`prior` may have one for all); `polytopes` a list with one
// list per hypothesis of its polytopes, each a list of label, form ("matrix" or
// "vertices"), headers, values (row after row), b and rows.
extern "C" SEXP propbf_run_categories(SEXP names, SEXP counts, SEXP categories, SEXP prior, SEXP hypothesis_names,
                                      SEXP hypothesis_texts, SEXP polytopes, SEXP settings, SEXP threads,
                                      SEXP progress, SEXP version, SEXP json) {
  BEGIN_CPP11
  Arguments arguments;
  arguments.categorical = true;
  arguments.names = text_vector(names);
  for (SEXP item : cpp11::list(counts)) arguments.counts.push_back(number_vector(item));
  for (SEXP item : cpp11::list(categories)) {
    arguments.categories.push_back(Rf_isNull(item) ? std::vector<std::string>{} : text_vector(item));
  }
  for (SEXP item : cpp11::list(prior)) arguments.concentration.push_back(number_vector(item));
  arguments.hypothesis_names = text_vector(hypothesis_names);
  arguments.hypothesis_texts = text_vector(hypothesis_texts);
  for (SEXP hypothesis : cpp11::list(polytopes)) {
    std::vector<PolytopeArgument> given;
    for (SEXP entry : cpp11::list(hypothesis)) {
      PolytopeArgument polytope;
      polytope.label = element_text(entry, "label");
      polytope.form = element_text(entry, "form") == "vertices" ? PolytopeForm::Vertices : PolytopeForm::Matrix;
      const cpp11::list members(entry);
      polytope.headers = text_vector(members["headers"]);
      polytope.values = number_vector(members["values"]);
      polytope.b = number_vector(members["b"]);
      polytope.rows = static_cast<std::size_t>(cpp11::as_cpp<double>(members["rows"]));
      given.push_back(std::move(polytope));
    }
    arguments.polytopes.push_back(std::move(given));
  }
  arguments.settings = number_vector(settings);
  arguments.threads = cpp11::as_cpp<double>(threads);
  arguments.progress = cpp11::as_cpp<bool>(progress);
  arguments.json = cpp11::as_cpp<bool>(json);
  return finish(arguments, cpp11::as_cpp<std::string>(version));
  END_CPP11
}

// The limits and defaults the engine holds a problem to, for the R side's documentation
// and tests, and the processors the engine may use (the default thread count is at most
// two of them).
extern "C" SEXP propbf_limits() {
  BEGIN_CPP11
  return named({{"niter", cpp11::as_sexp(static_cast<double>(kDefaultNiter))},
                {"seed", cpp11::as_sexp(static_cast<double>(kDefaultSeed))},
                {"max_niter", cpp11::as_sexp(static_cast<double>(kDefaultMaxNiter))},
                {"most_niter", cpp11::as_sexp(static_cast<double>(kMaxNiter))},
                {"most_threads", cpp11::as_sexp(static_cast<double>(kMaxThreads))},
                {"smallest_shape", cpp11::as_sexp(kMinShape)},
                {"largest_shape", cpp11::as_sexp(kMaxShape)},
                {"processors", cpp11::as_sexp(static_cast<double>(available_processors()))}});
  END_CPP11
}

namespace {

// bf_plan(): a plan read from its file, or from the text the R side wrote for it, run as
// `propbf plan` runs it, on a worker thread while R's thread shows the progress line and
// watches for an interrupt (watch_worker), as run_problem does for an evaluation.
struct PlanRun : Watched {
  std::string label;    // the file's name, or the name the R side's text goes by
  std::string content;  // the R side's text (from_file: unused)
  bool from_file = false;
  bool progress = false;
  std::string version;
  int threads = 1;
  PlanHeader header;  // the summaries point to it: it lives here, as long as they do
  std::vector<SizeSummary> summaries;
  std::string content_read;  // the plan's text as read (the file's bytes)
};

// On the worker: read, prepare (each hypothesis's complexity once), run every data set.
void run_plan_work(PlanRun& run) {
  const StopCheck stop = [&run] { return run.cancel.load(); };
  run.content_read = run.from_file ? read_input_file(run.label, "plan file") : run.content;
  const PlanFile plan = read_plan_text(run.label, run.content_read);
  const Planner planner(plan, stop);
  run.header = plan_header(plan, planner, run.version);
  PlanRunOptions options;
  options.threads = run.threads;
  options.stop = stop;
  const std::int64_t datasets = run.header.datasets * static_cast<std::int64_t>(run.header.sizes.size());
  const auto start = std::chrono::steady_clock::now();
  if (run.progress) {
    options.progress = [&run, datasets, start](double done) {
      const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (elapsed < 1.0) return;
      const std::lock_guard<std::mutex> lock(run.mutex);
      run.line = "bf_plan(): " + plan_progress_text(done, datasets, elapsed);
    };
  }
  run.summaries = run_plan(planner, run.header, options);
}

bool uniform_size(const std::vector<std::int64_t>& size) {
  return std::all_of(size.begin(), size.end(), [&](std::int64_t n) { return n == size.front(); });
}

// The plan's summary as R data: one row per size, hypothesis and threshold; the
// complexities; the sizes as a matrix (one row per size, one column per item); the
// table and the JSON document `propbf plan` writes.
SEXP plan_results(PlanRun& run) {
  PlanHeader& header = run.header;
  const std::string table = format_plan_table(header, run.summaries);  // finishes every size
  const std::string json = format_plan_json(header, run.summaries);
  std::vector<double> size_index, n, total, threshold, p_above, above_lower, above_upper, p_below, below_lower,
      below_upper, p_between, median, lower_quartile, upper_quartile, pmp_mean, mean_sweeps;
  std::vector<std::string> hypothesis, threshold_name;
  for (const SizeSummary& summary : run.summaries) {
    const std::vector<std::int64_t>& size = header.sizes[summary.size()];
    std::int64_t trials = 0;
    for (const std::int64_t t : size) trials += t;
    const std::int64_t count = summary.count();
    const auto share = [count](std::int64_t hits) { return static_cast<double>(hits) / static_cast<double>(count); };
    for (std::size_t h = 0; h < header.hypotheses.size(); ++h) {
      const SizeSummary::Hypothesis& result = summary.hypotheses()[h];
      for (std::size_t k = 0; k < header.thresholds.size(); ++k) {
        size_index.push_back(static_cast<double>(summary.size() + 1));
        n.push_back(uniform_size(size) ? static_cast<double>(size.front()) : NA_REAL);
        total.push_back(static_cast<double>(trials));
        hypothesis.push_back(header.hypotheses[h]);
        threshold.push_back(header.thresholds[k]);
        threshold_name.push_back(header.threshold_names[k]);
        const std::array<double, 2> above = clopper_pearson(result.above[k], count);
        const std::array<double, 2> below = clopper_pearson(result.below[k], count);
        p_above.push_back(share(result.above[k]));
        above_lower.push_back(above[0]);
        above_upper.push_back(above[1]);
        p_below.push_back(share(result.below[k]));
        below_lower.push_back(below[0]);
        below_upper.push_back(below[1]);
        p_between.push_back(share(count - result.above[k] - result.below[k]));
        median.push_back(result.quartiles[1]);
        lower_quartile.push_back(result.quartiles[0]);
        upper_quartile.push_back(result.quartiles[2]);
        pmp_mean.push_back(result.pmp_sum / static_cast<double>(count));
        mean_sweeps.push_back(result.sweeps_sum / static_cast<double>(count));
      }
    }
  }
  const std::size_t rows = hypothesis.size();
  const cpp11::sexp frame = data_frame(
      named({{"size", numbers(size_index)}, {"n", numbers(n)}, {"total", numbers(total)},
             {"hypothesis", texts(hypothesis)}, {"threshold", numbers(threshold)},
             {"threshold_name", texts(threshold_name)}, {"p_above", numbers(p_above)},
             {"p_above_lower", numbers(above_lower)}, {"p_above_upper", numbers(above_upper)},
             {"p_below", numbers(p_below)}, {"p_below_lower", numbers(below_lower)},
             {"p_below_upper", numbers(below_upper)}, {"p_between", numbers(p_between)},
             {"median_bf", numbers(median)}, {"bf_lower_quartile", numbers(lower_quartile)},
             {"bf_upper_quartile", numbers(upper_quartile)}, {"pmp_mean", numbers(pmp_mean)},
             {"mean_sweeps", numbers(mean_sweeps)}}),
      rows);
  std::vector<double> complexity_values(header.complexities.begin(), header.complexities.end());
  cpp11::writable::logicals exact(static_cast<R_xlen_t>(header.complexities_exact.size()));
  for (std::size_t h = 0; h < header.complexities_exact.size(); ++h) {
    exact[static_cast<R_xlen_t>(h)] = header.complexities_exact[h] ? TRUE : FALSE;
  }
  const cpp11::sexp complexities =
      data_frame(named({{"hypothesis", texts(header.hypotheses)}, {"complexity", numbers(complexity_values)},
                        {"exact", exact}}),
                 header.hypotheses.size());
  const std::size_t size_count = header.sizes.size();
  const std::size_t items = header.items.size();
  cpp11::writable::doubles sizes(static_cast<R_xlen_t>(size_count * items));
  for (std::size_t s = 0; s < size_count; ++s) {
    for (std::size_t j = 0; j < items; ++j) {
      sizes[static_cast<R_xlen_t>(s + j * size_count)] = static_cast<double>(header.sizes[s][j]);
    }
  }
  sizes.attr("dim") = cpp11::writable::integers({static_cast<int>(size_count), static_cast<int>(items)});
  sizes.attr("dimnames") = cpp11::writable::list({R_NilValue, static_cast<SEXP>(texts(header.items))});
  const cpp11::sexp target = header.target ? cpp11::as_sexp(*header.target) : cpp11::as_sexp(NA_REAL);
  // Where each hypothesis first reaches the target, as the table and the JSON say it:
  // trials in all, and per item when every size gives every item as many.
  cpp11::sexp reach = R_NilValue;
  if (header.target) {
    const bool uniform = std::all_of(header.sizes.begin(), header.sizes.end(), uniform_size);
    std::vector<double> reach_total, reach_n;
    cpp11::writable::logicals reached(static_cast<R_xlen_t>(header.hypotheses.size()));
    cpp11::writable::logicals interpolated(static_cast<R_xlen_t>(header.hypotheses.size()));
    for (std::size_t h = 0; h < header.hypotheses.size(); ++h) {
      const TargetReach at = target_reach(header, run.summaries, h);
      reached[static_cast<R_xlen_t>(h)] = at.reached ? TRUE : FALSE;
      interpolated[static_cast<R_xlen_t>(h)] = at.interpolated ? TRUE : FALSE;
      reach_total.push_back(at.reached ? at.total : NA_REAL);
      reach_n.push_back(at.reached && uniform ? at.total / static_cast<double>(header.items.size()) : NA_REAL);
    }
    reach = data_frame(named({{"hypothesis", texts(header.hypotheses)}, {"reached", reached},
                              {"total", numbers(reach_total)}, {"n", numbers(reach_n)},
                              {"interpolated", interpolated}}),
                       header.hypotheses.size());
  }
  return named({{"program", text("propbf plan")},
                {"version", text(header.version)},
                {"plan", text(run.label)},
                {"plan_text", text(run.content_read)},
                {"datasets", cpp11::as_sexp(static_cast<double>(header.datasets))},
                {"seed", cpp11::as_sexp(static_cast<double>(header.seed))},
                {"against", text(header.against)},
                {"thresholds", numbers(header.thresholds)},
                {"threshold_names", texts(header.threshold_names)},
                {"target", target},
                {"target_threshold", cpp11::as_sexp(header.thresholds[header.target_threshold])},
                {"items", texts(header.items)},
                {"sizes", sizes},
                {"complexities", complexities},
                {"table", frame},
                {"reach", reach},
                {"text", text(table)},
                {"json", text(json)}});
}

SEXP plan_outcome(const std::shared_ptr<PlanRun>& run) {
  std::string status = "ok";
  std::string message;
  cpp11::sexp value = R_NilValue;
  bool interrupted = false;
  bool finished = false;
  try {
    watch_worker<PlanRun>(run, run_plan_work, run->progress, interrupted);
    finished = true;
  } catch (const Cancelled&) {
    status = "interrupted";
    message = "interrupted: the plan stopped before it ended";
  } catch (const Abandoned&) {
    status = "interrupted";
    message = "interrupted twice: the plan stops in the background";
  } catch (const InputError& error) {
    status = "input_error";
    message = printable_message(error.what());
  } catch (const std::bad_alloc&) {
    status = "error";
    message = printable_message(out_of_memory_message("bf_plan()", "niter"));
  } catch (const std::exception& error) {
    status = "error";
    message = error.what();
  }
  if (interrupted && status == "ok") {
    status = "interrupted";
    message = "interrupted: the plan ended as it was interrupted";
    finished = false;
  }
  if (message.starts_with("propbf: ")) message.erase(0, 8);
  if (finished) value = plan_results(*run);
  return named({{"status", text(status)}, {"message", text(message)}, {"value", value}});
}

}  // namespace

// A plan: `file` names a plan file (TRUE) or `label` is the name the plan text `content`
// goes by in messages.
extern "C" SEXP propbf_plan(SEXP label, SEXP content, SEXP file, SEXP threads, SEXP progress, SEXP version) {
  BEGIN_CPP11
  const auto run = std::make_shared<PlanRun>();
  run->label = cpp11::as_cpp<std::string>(label);
  run->from_file = cpp11::as_cpp<bool>(file);
  if (!run->from_file) run->content = text_vector(content).at(0);
  run->version = cpp11::as_cpp<std::string>(version);
  run->progress = cpp11::as_cpp<bool>(progress);
  try {
    run->threads = usable_thread_count(checked_threads(whole_setting("threads", cpp11::as_cpp<double>(threads))));
  } catch (const InputError& error) {
    std::string message = printable_message(error.what());
    if (message.starts_with("propbf: ")) message.erase(0, 8);
    return named({{"status", text("input_error")}, {"message", text(message)}, {"value", R_NilValue}});
  }
  return plan_outcome(run);
  END_CPP11
}

extern "C" void R_init_propbf(DllInfo* info) {
  // Through void (*)(), the type any function pointer may pass as.
  const auto run_entry = reinterpret_cast<DL_FUNC>(reinterpret_cast<void (*)()>(&propbf_run));
  const auto categories_entry = reinterpret_cast<DL_FUNC>(reinterpret_cast<void (*)()>(&propbf_run_categories));
  const auto limits_entry = reinterpret_cast<DL_FUNC>(reinterpret_cast<void (*)()>(&propbf_limits));
  const auto plan_entry = reinterpret_cast<DL_FUNC>(reinterpret_cast<void (*)()>(&propbf_plan));
  static const R_CallMethodDef methods[] = {{"propbf_run", run_entry, 12},
                                            {"propbf_run_categories", categories_entry, 12},
                                            {"propbf_limits", limits_entry, 0},
                                            {"propbf_plan", plan_entry, 6},
                                            {nullptr, nullptr, 0}};
  R_registerRoutines(info, nullptr, methods, nullptr, nullptr);
  R_useDynamicSymbols(info, FALSE);
}
