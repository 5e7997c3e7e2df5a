// The JSON document, written as it is produced (json_writer.hpp): its size and the
// memory it takes grow with the hypotheses and items, never with their square.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/json_writer.hpp"
#include "report/report.hpp"
#include "problem/categories.hpp"

namespace propbf::evaluate {
namespace {

using Notes = std::vector<std::string>;

// A finite value as a number; otherwise null, with a note saying what it was.
void number(JsonWriter& out, double value, const std::string& key, Notes& notes) {
  if (!std::isfinite(value)) {
    notes.push_back(key + (std::isnan(value) ? " is not a number (0/0 or infinity/infinity)"
                                             : value > 0 ? " is +infinity" : " is -infinity") +
                    ", written as null");
  }
  out.number(value);
}

void numbers(JsonWriter& out, const std::vector<double>& values) {
  out.begin_array();
  for (const double value : values) out.number(value);
  out.end_array();
}

// An interval, or null when it has none (both ends NaN; the hypothesis's notes say why).
void interval(JsonWriter& out, const Interval& value, const std::string& key, Notes& notes) {
  if (std::isnan(value[0]) && std::isnan(value[1])) {
    out.null();
    return;
  }
  out.begin_array();
  number(out, value[0], key + "[0]", notes);
  number(out, value[1], key + "[1]", notes);
  out.end_array();
}

// Estimates per item under `key` ("estimates", "unconstrained_estimates").
void estimates(JsonWriter& out, const std::vector<ItemEstimate>& values, const std::string& key, Notes& notes) {
  out.begin_array();
  for (std::size_t j = 0; j < values.size(); ++j) {
    const ItemEstimate& e = values[j];
    const std::string at = key + "[" + std::to_string(j) + "].";
    out.begin_object();
    out.key("name").string(e.name);
    number(out.key("mean"), e.mean, at + "mean", notes);
    number(out.key("sd"), e.sd, at + "sd", notes);
    number(out.key("lower"), e.lower, at + "lower", notes);
    number(out.key("upper"), e.upper, at + "upper", notes);
    number(out.key("mean_mcse"), e.mean_mcse, at + "mean_mcse", notes);
    number(out.key("lower_mcse"), e.lower_mcse, at + "lower_mcse", notes);
    number(out.key("upper_mcse"), e.upper_mcse, at + "upper_mcse", notes);
    out.end_object();
  }
  out.end_array();
}

void notes_array(JsonWriter& out, const Notes& notes) {
  out.begin_array();
  for (const std::string& note : notes) out.string(note);
  out.end_array();
}

// Whether a hypothesis of the run has a stage split into levels (engine/rare_stages.hpp).
bool any_split(const Evaluation& evaluation) {
  for (const HypothesisResult& result : evaluation.hypotheses) {
    for (const std::vector<StageLevels>* levels : {&result.complexity_levels, &result.fit_levels}) {
      for (const StageLevels& stage : *levels) {
        if (stage.split()) return true;
      }
    }
  }
  return false;
}

void explanations(JsonWriter& out, bool precision, bool categories, bool split, bool rows_left_out) {
  const std::string matrix =
      "row i, column j: bf_unconstrained of hypothesis i / bf_unconstrained of hypothesis j, the factor of hypothesis "
      "i against hypothesis j (hypotheses in file order); given for at most " +
      std::to_string(kMostMatrixHypotheses) +
      " hypotheses (its size grows with their square), null beyond: the factor of any two is then the ratio of their "
      "bf_unconstrained";
  const std::pair<const char*, std::string> entries[] = {
      {"restrictions", "each restriction holds when the sum of coefficients[j] * proportion[j] is greater than "
                       "constant; coefficients follow the order of settings.items"},
      {"bf_unconstrained", "fit / complexity: the Bayes factor of the hypothesis against the unconstrained one"},
      {"complexity_exact",
       "true when the complexity is exact rather than estimated: the restrictions all read x_i > x_j and order items "
       "whose priors are the same within each connected block of the order, so the complexity is the product over "
       "blocks of (linear extensions of the block's order) / (its items)!; only the fit is then estimated, the "
       "intervals are those of the fit alone, and the stages' complexity keys are null"},
      {"fit_exact",
       "true when the fit is exact too: the complexity is exact and the items' posteriors are also the same within "
       "each block (as with no data); no chain runs, stages is empty and the factors have no Monte Carlo error"},
      {"bf_complement", "(fit / complexity) / ((1 - fit) / (1 - complexity)): against the hypothesis's complement"},
      {"equalities", "the hypothesis's equalities as written; items they tie form one proportion, complexity and fit "
                     "are then those of the inequalities given the equalities, and bf_complement is null (the "
                     "complement of a hypothesis with an equality has probability one)"},
      {"bf_equalities", "the exact factor of the equalities against the unconstrained hypothesis (1 without "
                        "equalities); bf_unconstrained = bf_equalities * fit / complexity"},
      {"log_bf_unconstrained", "the natural logarithm of bf_unconstrained, finite where the factor under- or "
                               "overflows"},
      {"bf_unconstrained_interval",
       "95% interval for the Monte Carlo error of the factor, accounting for the autocorrelation of successive "
       "sweeps: each stage share is redrawn from Beta(1 + share * n_eff, 1 + (1 - share) * n_eff), n_eff the stage's "
       "effective sweeps from its hit sequence by batch means; ends are the 2500th and 97500th of the sorted "
       "replicated factors"},
      {"bf_unconstrained_interval_independent",
       "the same interval treating the sweeps as independent (n_eff = niter), as the zero-argument program does; "
       "too narrow when successive sweeps are correlated"},
      {"bf_complement_interval", "as bf_unconstrained_interval, for the factor against the complement"},
      {"interval_trusted",
       "false when a stage (or a level of a rare stage) has fewer than 10 hits, or fewer than 4 effective sweeps per "
       "batch once discounted for the correlation of neighbouring batch shares: the corrected intervals then "
       "understate the error; see notes"},
      {"bf_complement_interval_independent", "as bf_unconstrained_interval_independent, for bf_complement"},
      {"pmp", "posterior model probability with equal prior probabilities among the listed hypotheses; with one "
              "hypothesis, among it and its complement"},
      {"pmp_with_unconstrained", "the same among the listed hypotheses and the unconstrained hypothesis"},
      {"ppp",
       "posterior predictive p-value: the share of draws theta of the restricted posterior (from the estimates' "
       "chain after its burn-in, at most 20000, evenly thinned; fewer beyond 200 items) whose replicated counts "
       "(per item Multinomial(n, theta)) have a Pearson X^2 = sum over items and categories of (count - n theta)^2 / "
       "(n theta) at least that of the observed counts; ppp_unconstrained: the same without restrictions"},
      {"estimates",
       "per item under the hypothesis: posterior mean, sd and 95% equal-tailed interval [lower, upper] from a chain "
       "of niter sweeps sampling the posterior restricted by all its restrictions, the first niter / 10 dropped; "
       "the interval ends are order statistics of the kept draws (at most 20000 per item, evenly thinned; "
       "fewer beyond 200 items); items in no restriction have the exact unconstrained estimates. mean_mcse, "
       "lower_mcse and upper_mcse are the Monte Carlo standard errors of mean, lower and upper: the mean's by batch "
       "means (B = integer cube root of the sweeps after the burn-in batches, sqrt(sum (batch mean - mean of batch "
       "means)^2 / (B (B - 1)))), an end's by sectioning the kept draws (B' = integer cube root of their number "
       "sections of consecutive draws, sqrt(sum (section's end - end)^2 / (B' (B' - 1)))); 0 where exact"},
      {"unconstrained_estimates", "the same exactly, from each item's Beta(prior_a + successes, prior_b + failures)"},
      {"bf_matrix", matrix}};
  out.begin_object();
  for (const auto& [name, text] : entries) {
    if (categories && std::string_view(name) == "restrictions") {
      out.key(name).string("each restriction holds when the sum of coefficients[j] * proportion[j] is greater than "
                           "constant; coefficients follow settings.parameters, the free categories of each item (the "
                           "last category of an item of categories is 1 minus the others)");
    } else if (categories && std::string_view(name) == "unconstrained_estimates") {
      out.key(name).string("the same exactly: an item of categories per category from its marginal Beta(alpha_c + "
                           "n_c, the other categories' alpha + n summed), a binomial item from Beta(prior_a + "
                           "successes, prior_b + failures)");
    } else {
      out.key(name).string(text);
    }
  }
  if (rows_left_out) {
    out.key("polytope_rows").string(
        "the number of rows read from the hypothesis's matrix or vertex file (a vertex file's facets), left out of restrictions, which lists only "
        "those written in the language; the chains read every row");
  }
  if (precision) {
    out.key("niter").string(
        "sweeps per stage this hypothesis ran: settings.niter doubled (the last step up to settings.max_niter) until "
        "its precision was reached; every result is the one a run with this niter gives");
    out.key("precision").string(
        "target: settings.precision; achieved: the larger of (upper - lower) / 2 / factor over "
        "bf_unconstrained_interval and bf_complement_interval (null when a factor or an interval end is not finite: "
        "such a hypothesis cannot reach a precision); reached: achieved <= target");
  }
  if (split) {
    out.key("complexity_levels").string(
        "in a stage whose share is rare (a pilot of 1000 sweeps saw fewer than 1% of hits): the number L of levels it "
        "was split into, restriction g x > c relaxed to g x > b_1, ..., g x > b_L = c (complexity_level_bounds, each "
        "chosen by pilots so that about a fifth of the level before exceeds it); the chain of level l samples the "
        "stage's distribution with g x > b_(l-1) and counts g x > b_l (complexity_level_hits, "
        "complexity_level_effective_sweeps; complexity_hits and complexity_effective_sweeps are level 1's), and the "
        "stage's share is the product of the levels' shares; the same for fit_levels");
  }
  out.end_object();
}

void hypothesis_entry(JsonWriter& out, const HypothesisResult& result, const Evaluation& evaluation,
                      const JsonOptions& options) {
  const Settings& settings = evaluation.problem.settings;
  Notes notes;
  out.begin_object();
  out.key("name").string(result.name);
  out.key("hypothesis").string(result.text);
  out.key("restrictions").begin_array();
  const std::size_t listed =
      options.polytope_rows ? result.restrictions.size() : result.restrictions.size() - result.polytope_rows;
  for (std::size_t k = 0; k < listed; ++k) {
    const Restriction& restriction = result.restrictions[k];
    out.begin_object();
    out.key("text").string(restriction.text);
    numbers(out.key("coefficients"), restriction.coefficients);
    out.key("constant").number(restriction.constant);
    out.end_object();
  }
  out.end_array();
  out.key("equalities").begin_array();
  for (const std::string& equality : result.equalities) out.string(equality);
  out.end_array();
  if (!options.polytope_rows && result.polytope_rows > 0) {
    out.key("polytope_rows").integer(static_cast<std::int64_t>(result.polytope_rows));
  }
  if (result.facets) out.key("facets").integer(static_cast<std::int64_t>(*result.facets));
  numbers(out.key("start"), result.start.centre);
  out.key("start_radius").number(result.start.radius);
  if (settings.precision) {
    out.key("niter").integer(result.niter);
    out.key("precision").begin_object();
    out.key("target").number(*settings.precision);
    out.key("reached").boolean(result.precision_reached);
    out.key("achieved");
    if (result.interval_trusted) {
      number(out, result.relative_half_width, "precision.achieved", notes);
    } else {
      out.null();
    }
    out.end_object();
    if (!result.interval_trusted) notes.push_back("precision.achieved not given: the intervals are not trusted");
  }
  number(out.key("complexity"), result.complexity, "complexity", notes);
  out.key("complexity_exact").boolean(result.complexity_exact);
  number(out.key("fit"), result.fit, "fit", notes);
  out.key("fit_exact").boolean(result.fit_exact);
  number(out.key("bf_unconstrained"), result.bf_unconstrained, "bf_unconstrained", notes);
  interval(out.key("bf_unconstrained_interval"), result.bf_unconstrained_interval, "bf_unconstrained_interval", notes);
  interval(out.key("bf_unconstrained_interval_independent"), result.bf_unconstrained_interval_independent,
           "bf_unconstrained_interval_independent", notes);
  number(out.key("bf_equalities"), result.bf_equalities, "bf_equalities", notes);
  number(out.key("log_bf_unconstrained"), result.log_bf_unconstrained, "log_bf_unconstrained", notes);
  // An undefined factor against the complement is null; the hypothesis's notes say why.
  if (result.complement_defined) {
    number(out.key("bf_complement"), result.bf_complement, "bf_complement", notes);
  } else {
    out.key("bf_complement").null();
  }
  interval(out.key("bf_complement_interval"), result.bf_complement_interval, "bf_complement_interval", notes);
  interval(out.key("bf_complement_interval_independent"), result.bf_complement_interval_independent,
           "bf_complement_interval_independent", notes);
  out.key("interval_trusted").boolean(result.interval_trusted);
  number(out.key("pmp"), result.pmp, "pmp", notes);
  number(out.key("pmp_with_unconstrained"), result.pmp_with_unconstrained, "pmp_with_unconstrained", notes);
  if (evaluation.hypotheses.size() == 1) {
    number(out.key("pmp_complement"), result.pmp_complement, "pmp_complement", notes);
  }
  number(out.key("ppp"), result.ppp, "ppp", notes);
  estimates(out.key("estimates"), result.estimates, "estimates", notes);
  out.key("stages").begin_array();
  // Grouped hypotheses may have more stages in one phase than in the other: the keys of
  // the phase without that stage are null.
  for (std::size_t t = 0; t < std::max(result.fit_stages.size(), result.complexity_stages.size()); ++t) {
    out.begin_object();
    // An exact complexity has no stages: its keys are null.
    if (t < result.complexity_stages.size()) {
      out.key("complexity_hits").integer(result.complexity_stages[t].hits);
      out.key("complexity_effective_sweeps").number(result.complexity_stages[t].effective_sweeps);
      out.key("complexity_batch_correlation").number(result.complexity_stages[t].batch_correlation);
    } else {
      out.key("complexity_hits").null();
      out.key("complexity_effective_sweeps").null();
      out.key("complexity_batch_correlation").null();
    }
    if (t < result.fit_stages.size()) {
      out.key("fit_hits").integer(result.fit_stages[t].hits);
      out.key("fit_effective_sweeps").number(result.fit_stages[t].effective_sweeps);
      out.key("fit_batch_correlation").number(result.fit_stages[t].batch_correlation);
    } else {
      out.key("fit_hits").null();
      out.key("fit_effective_sweeps").null();
      out.key("fit_batch_correlation").null();
    }
    // A stage split into levels (a rare stage): its levels' bounds and counts; the keys
    // above are those of its level 1.
    for (const bool fit : {false, true}) {
      const std::vector<StageLevels>& levels = fit ? result.fit_levels : result.complexity_levels;
      if (t >= levels.size() || !levels[t].split()) continue;
      const std::vector<StageCount>& stages = fit ? result.fit_stages : result.complexity_stages;
      const std::string phase = fit ? "fit_" : "complexity_";
      out.key(phase + "levels").integer(static_cast<std::int64_t>(levels[t].bounds.size()));
      out.key(phase + "level_bounds").begin_array();
      for (double bound : levels[t].bounds) out.number(bound);
      out.end_array();
      out.key(phase + "level_hits").begin_array();
      out.integer(stages[t].hits);
      for (const StageCount& count : levels[t].counts) out.integer(count.hits);
      out.end_array();
      out.key(phase + "level_effective_sweeps").begin_array();
      out.number(stages[t].effective_sweeps);
      for (const StageCount& count : levels[t].counts) out.number(count.effective_sweeps);
      out.end_array();
    }
    out.end_object();
  }
  out.end_array();
  for (const std::string& note : result.notes) notes.push_back(note);
  notes_array(out.key("notes"), notes);
  out.end_object();
}

void write_document(JsonWriter& out, const Evaluation& evaluation, const std::string& version, const Notes& run_notes,
                    const JsonOptions& options) {
  const CountsProblem& problem = evaluation.problem;
  const Settings& settings = problem.settings;
  out.begin_object();
  out.key("program").string("propbf evaluate");
  out.key("version").string(version);
  out.key("problem").string(problem.file_name);
  out.key("settings").begin_object();
  out.key("niter").integer(settings.niter);
  out.key("seed").integer(settings.seed);
  if (!settings.stream_name.empty()) {
    char key[17];
    std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(settings.stream_key));
    out.key("stream").begin_object();
    out.key("per_problem").string(settings.stream_name);
    out.key("key").string(key);
    out.end_object();
  }
  if (settings.precision) {
    out.key("precision").number(*settings.precision);
    out.key("max_niter").integer(settings.max_niter_or_default());
  }
  if (settings.complexity_niter) out.key("complexity_niter").integer(*settings.complexity_niter);
  out.key("replications").integer(kReplications);
  out.key("tied_prior").string(tied_prior_name(problem.tied_prior));
  out.key("version").string(version);
  out.key("items").begin_array();
  for (const Item& item : problem.items) {
    out.begin_object();
    out.key("name").string(item.name);
    if (is_categorical(item)) {
      // A categorical item: its categories, counts and Dirichlet concentrations.
      out.key("categories").begin_array();
      for (const std::string& category : item.categories) out.string(category);
      out.end_array();
      out.key("counts").begin_array();
      for (std::int64_t count : item.counts) out.integer(count);
      out.end_array();
      numbers(out.key("prior"), item.concentration);
      out.end_object();
      continue;
    }
    out.key("successes").integer(item.successes);
    out.key("trials").integer(item.trials);
    out.key("prior_a").number(item.prior_a);
    out.key("prior_b").number(item.prior_b);
    out.end_object();
  }
  out.end_array();
  if (const ParameterSpace space = parameter_space(problem.items); space.any_categorical) {
    // The order of the restrictions' coefficients and of the start point.
    out.key("parameters").begin_array();
    for (const Parameter& parameter : space.parameters) out.string(parameter.name);
    out.end_array();
  }
  out.end_object();
  const bool rows_left_out =
      !options.polytope_rows && std::any_of(evaluation.hypotheses.begin(), evaluation.hypotheses.end(),
                                            [](const HypothesisResult& result) { return result.polytope_rows > 0; });
  explanations(out.key("explanations"), settings.precision.has_value(),
               parameter_space(problem.items).any_categorical, any_split(evaluation), rows_left_out);
  out.key("hypotheses").begin_array();
  for (const HypothesisResult& result : evaluation.hypotheses) hypothesis_entry(out, result, evaluation, options);
  out.end_array();
  Notes notes = run_notes;
  for (const std::string& warning : problem.warnings) notes.push_back("warning: " + warning);
  estimates(out.key("unconstrained_estimates"), evaluation.unconstrained_estimates, "unconstrained_estimates", notes);
  out.key("bf_matrix");
  if (evaluation.hypotheses.size() <= kMostMatrixHypotheses) {
    const std::vector<std::vector<double>> factors = bf_matrix(evaluation);
    out.begin_array();
    for (std::size_t i = 0; i < factors.size(); ++i) {
      out.begin_array();
      for (std::size_t j = 0; j < factors[i].size(); ++j) {
        number(out, factors[i][j], "bf_matrix[" + std::to_string(i) + "][" + std::to_string(j) + "]", notes);
      }
      out.end_array();
    }
    out.end_array();
  } else {
    out.null();
  }
  number(out.key("pmp_unconstrained"), evaluation.pmp_unconstrained, "pmp_unconstrained", notes);
  number(out.key("ppp_unconstrained"), evaluation.ppp_unconstrained, "ppp_unconstrained", notes);
  for (std::string& note : probability_notes(evaluation)) notes.push_back(std::move(note));
  if (!notes.empty()) notes_array(out.key("notes"), notes);
  out.end_object();
}

}  // namespace

std::vector<std::vector<double>> bf_matrix(const Evaluation& evaluation) {
  std::vector<std::vector<double>> matrix;
  for (const HypothesisResult& row : evaluation.hypotheses) {
    std::vector<double> line;
    for (const HypothesisResult& column : evaluation.hypotheses) {
      line.push_back(&row == &column ? 1.0 : row.bf_unconstrained / column.bf_unconstrained);
    }
    matrix.push_back(std::move(line));
  }
  return matrix;
}

std::string format_json(const Evaluation& evaluation, const std::string& version, const Notes& notes,
                        const JsonOptions& options) {
  std::string text;
  JsonWriter out(text, 2);
  write_document(out, evaluation, version, notes, options);
  text.push_back('\n');
  return text;
}

std::string format_json_record(const std::string& path, const Evaluation& evaluation, const std::string& version,
                               const JsonOptions& options) {
  std::string text;
  JsonWriter out(text, -1);
  out.begin_object();
  out.key("path").string(path);
  out.key("status").string("ok");
  write_document(out.key("result"), evaluation, version, {}, options);
  out.end_object();
  text.push_back('\n');
  return text;
}

std::string format_json_error_record(const std::string& path, const std::string& message) {
  std::string text;
  JsonWriter out(text, -1);
  out.begin_object();
  out.key("path").string(path);
  out.key("status").string("error");
  out.key("error").string(message);
  out.end_object();
  text.push_back('\n');
  return text;
}

}  // namespace propbf::evaluate
