// The only file that includes nlohmann-json.
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "report/report.hpp"

namespace propbf::evaluate {
namespace {

using Json = nlohmann::ordered_json;

// A finite value as a number; otherwise null, with a note saying what it was.
Json number(double value, const std::string& key, Json& notes) {
  if (std::isfinite(value)) return value;
  notes.push_back(key + (std::isnan(value) ? " is not a number (0/0 or infinity/infinity)"
                                           : value > 0 ? " is +infinity" : " is -infinity") +
                  ", written as null");
  return nullptr;
}

// An interval, or null when it has none (both ends NaN; the hypothesis's notes say why).
Json interval(const Interval& value, const std::string& key, Json& notes) {
  if (std::isnan(value[0]) && std::isnan(value[1])) return nullptr;
  return Json::array({number(value[0], key + "[0]", notes), number(value[1], key + "[1]", notes)});
}

// Estimates per item under `key` ("estimates", "unconstrained_estimates").
Json estimates(const std::vector<ItemEstimate>& values, const std::string& key, Json& notes) {
  Json list = Json::array();
  for (std::size_t j = 0; j < values.size(); ++j) {
    const ItemEstimate& e = values[j];
    const std::string at = key + "[" + std::to_string(j) + "].";
    list.push_back({{"name", e.name},
                    {"mean", number(e.mean, at + "mean", notes)},
                    {"sd", number(e.sd, at + "sd", notes)},
                    {"lower", number(e.lower, at + "lower", notes)},
                    {"upper", number(e.upper, at + "upper", notes)}});
  }
  return list;
}

Json build_document(const Evaluation& evaluation, const std::string& version) {
  const CountsProblem& problem = evaluation.problem;
  Json document;
  document["program"] = "propbf evaluate";
  document["version"] = version;
  document["problem"] = problem.file_name;
  Json settings;
  settings["niter"] = problem.settings.niter;
  settings["seed"] = problem.settings.seed;
  if (!problem.settings.stream_name.empty()) {
    char key[17];
    std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(problem.settings.stream_key));
    settings["stream"] = {{"per_problem", problem.settings.stream_name}, {"key", key}};
  }
  if (problem.settings.precision) {
    settings["precision"] = *problem.settings.precision;
    settings["max_niter"] = problem.settings.max_niter_or_default();
  }
  settings["replications"] = kReplications;
  settings["version"] = version;
  Json items = Json::array();
  for (const Item& item : problem.items) {
    items.push_back({{"name", item.name},
                     {"successes", item.successes},
                     {"trials", item.trials},
                     {"prior_a", item.prior_a},
                     {"prior_b", item.prior_b}});
  }
  settings["items"] = items;
  document["settings"] = settings;
  document["explanations"] = {
      {"restrictions", "each restriction holds when the sum of coefficients[j] * proportion[j] is greater than "
                       "constant; coefficients follow the order of settings.items"},
      {"bf_unconstrained", "fit / complexity: the Bayes factor of the hypothesis against the unconstrained one"},
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
       "false when a stage's chain moved more slowly than its batches could measure (neighbouring batch shares "
       "correlated and few effective sweeps): the corrected intervals then understate the error; see notes"},
      {"bf_complement_interval_independent", "as bf_unconstrained_interval_independent, for bf_complement"},
      {"pmp", "posterior model probability with equal prior probabilities among the listed hypotheses; with one "
              "hypothesis, among it and its complement"},
      {"pmp_with_unconstrained", "the same among the listed hypotheses and the unconstrained hypothesis"},
      {"estimates",
       "per item under the hypothesis: posterior mean, sd and 95% equal-tailed interval [lower, upper] from a chain "
       "of niter sweeps sampling the posterior restricted by all its restrictions, the first niter / 10 dropped; "
       "the interval ends are order statistics of the kept draws (at most 20000 per item, evenly thinned; "
       "fewer beyond 200 items); items in no restriction have the exact unconstrained estimates"},
      {"unconstrained_estimates", "the same exactly, from each item's Beta(prior_a + successes, prior_b + failures)"},
      {"bf_matrix", "row i, column j: bf_unconstrained of hypothesis i / bf_unconstrained of hypothesis j, the factor "
                    "of hypothesis i against hypothesis j (hypotheses in file order)"}};
  if (problem.settings.precision) {
    document["explanations"]["niter"] =
        "sweeps per stage this hypothesis ran: settings.niter doubled (the last step up to settings.max_niter) until "
        "its precision was reached; every result is the one a run with this niter gives";
    document["explanations"]["precision"] =
        "target: settings.precision; achieved: the larger of (upper - lower) / 2 / factor over "
        "bf_unconstrained_interval and bf_complement_interval (null when a factor or an interval end is not finite: "
        "such a hypothesis cannot reach a precision); reached: achieved <= target";
  }
  Json hypotheses = Json::array();
  for (const HypothesisResult& result : evaluation.hypotheses) {
    Json notes = Json::array();
    Json entry;
    entry["name"] = result.name;
    entry["hypothesis"] = result.text;
    Json restrictions = Json::array();
    for (const Restriction& restriction : result.restrictions) {
      restrictions.push_back(
          {{"text", restriction.text}, {"coefficients", restriction.coefficients}, {"constant", restriction.constant}});
    }
    entry["restrictions"] = restrictions;
    entry["equalities"] = result.equalities;
    entry["start"] = result.start.centre;
    entry["start_radius"] = result.start.radius;
    if (problem.settings.precision) {
      entry["niter"] = result.niter;
      entry["precision"] = {{"target", *problem.settings.precision},
                            {"reached", result.precision_reached},
                            {"achieved", result.interval_trusted
                                             ? number(result.relative_half_width, "precision.achieved", notes)
                                             : Json(nullptr)}};
      if (!result.interval_trusted) notes.push_back("precision.achieved not given: the intervals are not trusted");
    }
    entry["complexity"] = number(result.complexity, "complexity", notes);
    entry["fit"] = number(result.fit, "fit", notes);
    entry["bf_unconstrained"] = number(result.bf_unconstrained, "bf_unconstrained", notes);
    entry["bf_unconstrained_interval"] = interval(result.bf_unconstrained_interval, "bf_unconstrained_interval", notes);
    entry["bf_unconstrained_interval_independent"] =
        interval(result.bf_unconstrained_interval_independent, "bf_unconstrained_interval_independent", notes);
    entry["bf_equalities"] = number(result.bf_equalities, "bf_equalities", notes);
    entry["log_bf_unconstrained"] = number(result.log_bf_unconstrained, "log_bf_unconstrained", notes);
    // An undefined factor against the complement is null; the hypothesis's notes say why.
    entry["bf_complement"] = result.complement_defined ? number(result.bf_complement, "bf_complement", notes)
                                                       : Json(nullptr);
    entry["bf_complement_interval"] = interval(result.bf_complement_interval, "bf_complement_interval", notes);
    entry["bf_complement_interval_independent"] =
        interval(result.bf_complement_interval_independent, "bf_complement_interval_independent", notes);
    entry["interval_trusted"] = result.interval_trusted;
    entry["pmp"] = number(result.pmp, "pmp", notes);
    entry["pmp_with_unconstrained"] = number(result.pmp_with_unconstrained, "pmp_with_unconstrained", notes);
    if (evaluation.hypotheses.size() == 1) entry["pmp_complement"] = number(result.pmp_complement, "pmp_complement", notes);
    entry["estimates"] = estimates(result.estimates, "estimates", notes);
    Json stages = Json::array();
    for (std::size_t t = 0; t < result.complexity_stages.size(); ++t) {
      stages.push_back({{"complexity_hits", result.complexity_stages[t].hits},
                        {"complexity_effective_sweeps", result.complexity_stages[t].effective_sweeps},
                        {"complexity_batch_correlation", result.complexity_stages[t].batch_correlation},
                        {"fit_hits", result.fit_stages[t].hits},
                        {"fit_effective_sweeps", result.fit_stages[t].effective_sweeps},
                        {"fit_batch_correlation", result.fit_stages[t].batch_correlation}});
    }
    entry["stages"] = stages;
    for (const std::string& note : result.notes) notes.push_back(note);
    entry["notes"] = notes;
    hypotheses.push_back(entry);
  }
  document["hypotheses"] = hypotheses;
  Json document_notes = Json::array();
  for (const std::string& warning : problem.warnings) document_notes.push_back("warning: " + warning);
  document["unconstrained_estimates"] =
      estimates(evaluation.unconstrained_estimates, "unconstrained_estimates", document_notes);
  Json matrix = Json::array();
  const std::vector<std::vector<double>> factors = bf_matrix(evaluation);
  for (std::size_t i = 0; i < factors.size(); ++i) {
    Json row = Json::array();
    for (std::size_t j = 0; j < factors[i].size(); ++j) {
      row.push_back(number(factors[i][j], "bf_matrix[" + std::to_string(i) + "][" + std::to_string(j) + "]",
                           document_notes));
    }
    matrix.push_back(row);
  }
  document["bf_matrix"] = matrix;
  document["pmp_unconstrained"] = number(evaluation.pmp_unconstrained, "pmp_unconstrained", document_notes);
  if (!document_notes.empty()) document["notes"] = document_notes;
  return document;
}

// Bytes that are not UTF-8 (a file name can hold any) become U+FFFD instead of stopping
// the output.
std::string dump(const Json& value, int indent) {
  return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string format_json(const Evaluation& evaluation, const std::string& version) {
  return dump(build_document(evaluation, version), 2) + "\n";
}

std::string format_json_record(const std::string& path, const Evaluation& evaluation, const std::string& version) {
  Json record;
  record["path"] = path;
  record["status"] = "ok";
  record["result"] = build_document(evaluation, version);
  return dump(record, -1) + "\n";
}

std::string format_json_error_record(const std::string& path, const std::string& message) {
  Json record;
  record["path"] = path;
  record["status"] = "error";
  record["error"] = message;
  return dump(record, -1) + "\n";
}

}  // namespace propbf::evaluate
