// The R entry point: builds a problem of `propbf evaluate` from R's vectors, runs it on a
// thread of its own while R's thread shows the progress line and watches for an
// interrupt, and hands back the table, the JSON document and the key figures. No R error
// ever jumps over a C++ frame: R is asked for an interrupt only inside R_ToplevelExec,
// and conditions are raised by the R code from the returned status.
#include <cpp11/declarations.hpp>
#include <cpp11/doubles.hpp>
#include <cpp11/list.hpp>
#include <cpp11/strings.hpp>

#include <R_ext/Print.h>
#include <R_ext/Rdynload.h>
#include <R_ext/Utils.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "command/batch.hpp"
#include "engine/evaluation.hpp"
#include "input/problem_file.hpp"
#include "problem/problem.hpp"
#include "report/report.hpp"

namespace {

using namespace propbf::evaluate;

// The name messages about the items and settings are read under (its positions, in the
// TOML written below, mean nothing to the caller and are cut off) and the one the
// hypotheses are: "hypotheses:N:C" is character C of the N-th hypothesis.
const char* const kArgumentsLabel = "arguments";
const char* const kHypothesesLabel = "hypotheses";

// A TOML basic string.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Shortest text that reads back as `value` (a whole number as an integer).
std::string number(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

// A count as a whole number, or nothing when it is not one a problem can hold.
std::optional<std::int64_t> whole(double value) {
  if (!(std::fabs(value) <= 9007199254740992.0) || value != std::trunc(value)) return std::nullopt;
  return static_cast<std::int64_t>(value);
}

struct Arguments {
  std::vector<std::string> names;
  std::vector<double> successes;
  std::vector<double> trials;
  std::vector<double> prior_a;  // one value, or one per item
  std::vector<double> prior_b;
  std::vector<std::string> hypothesis_names;
  std::vector<std::string> hypothesis_texts;
  double niter = 20000;
  double seed = 1;
  double precision = NAN;  // NaN: not given
  double max_niter = NAN;
  int threads = 0;
  bool progress = false;
  std::string version;
};

// The problem as a TOML document, read by the same reader as a problem file so that it
// is checked (and warned about) as one.
std::string problem_toml(const Arguments& arguments) {
  std::string toml = "[items]\nnames = [";
  for (std::size_t j = 0; j < arguments.names.size(); ++j) toml += (j ? ", " : "") + quoted(arguments.names[j]);
  toml += "]\n";
  const auto counts = [&](const char* key, const std::vector<double>& values) {
    toml += std::string(key) + " = [";
    for (std::size_t j = 0; j < values.size(); ++j) {
      const std::optional<std::int64_t> count = whole(values[j]);
      if (!count) throw InputError(std::string("'") + key + "' must hold whole numbers (counts)");
      toml += (j ? ", " : "") + std::to_string(*count);
    }
    toml += "]\n";
  };
  counts("successes", arguments.successes);
  counts("trials", arguments.trials);
  const auto priors = [&](const char* key, const std::vector<double>& values) {
    toml += std::string(key) + " = [";
    for (std::size_t j = 0; j < values.size(); ++j) toml += (j ? ", " : "") + number(values[j]);
    toml += "]\n";
    if (values.size() == 1) toml.replace(toml.rfind('['), std::string::npos, number(values[0]) + "\n");
  };
  priors("prior_a", arguments.prior_a);
  priors("prior_b", arguments.prior_b);
  toml += "[hypotheses]\n";
  for (std::size_t h = 0; h < arguments.hypothesis_names.size(); ++h) {
    toml += quoted(arguments.hypothesis_names[h]) + " = " + quoted(arguments.hypothesis_texts[h]) + "\n";
  }
  toml += "[sampling]\n";
  const auto setting = [&](const char* key, double value, bool integer) {
    if (std::isnan(value)) return;
    if (integer) {
      const std::optional<std::int64_t> count = whole(value);
      if (!count) throw InputError(std::string("'") + key + "' must be a whole number");
      toml += std::string(key) + " = " + std::to_string(*count) + "\n";
    } else {
      toml += std::string(key) + " = " + number(value) + "\n";
    }
  };
  setting("niter", arguments.niter, true);
  setting("seed", arguments.seed, true);
  setting("precision", arguments.precision, false);
  setting("max_niter", arguments.max_niter, true);
  return toml;
}

// Where each byte of the hypothesis on line `line` stands: columns count characters.
std::vector<SourcePosition> string_positions(const std::string& text, int line) {
  std::vector<SourcePosition> positions;
  int column = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++column;
    positions.push_back({line, column});
  }
  positions.push_back({line, column + 1});
  return positions;
}

// A message of the reader, without the place in the TOML written above.
std::string without_place(const std::string& message) {
  const std::string prefix = std::string(kArgumentsLabel) + ":";
  if (message.rfind(prefix, 0) != 0) return message;
  std::size_t at = prefix.size();
  for (int field = 0; field < 2; ++field) {
    const std::size_t end = message.find(':', at);
    if (end == std::string::npos || end == at || message.find_first_not_of("0123456789", at) != end) return message;
    at = end + 1;
  }
  return message.substr(message[at] == ' ' ? at + 1 : at);
}

CountsProblem build_problem(const Arguments& arguments) {
  CountsProblem problem;
  try {
    problem = read_problem_text(kArgumentsLabel, problem_toml(arguments));
    apply_overrides(problem, SettingOverrides{});
  } catch (const InputError& error) {
    throw InputError(without_place(error.what()));
  }
  problem.file_name = kHypothesesLabel;
  for (std::size_t h = 0; h < problem.hypotheses.size(); ++h) {
    problem.hypotheses[h].positions = string_positions(problem.hypotheses[h].text, static_cast<int>(h + 1));
  }
  return problem;
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
  std::string table;
  std::string json;
  std::vector<double> numbers;  // per hypothesis, in the order of kNumberNames
};

// The figures the R side checks its parsed JSON against.
void key_numbers(const Evaluation& evaluation, std::vector<double>& numbers) {
  for (const HypothesisResult& result : evaluation.hypotheses) {
    for (const double value :
         {result.complexity, result.fit, result.bf_unconstrained, result.bf_complement,
          result.bf_unconstrained_interval[0], result.bf_unconstrained_interval[1],
          result.bf_complement_interval[0], result.bf_complement_interval[1], result.pmp,
          result.pmp_with_unconstrained}) {
      numbers.push_back(value);
    }
  }
  numbers.push_back(evaluation.pmp_unconstrained);
}

Outcome run(const Arguments& arguments) {
  Outcome outcome;
  try {
    const CountsProblem problem = build_problem(arguments);
    std::atomic<bool> cancel{false};
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::string line;
    RunControl control;
    control.cancel = &cancel;
    if (arguments.progress) {
      control.progress = [&](const std::string& text) {
        const std::lock_guard<std::mutex> lock(mutex);
        line = text;
      };
    }
    std::optional<Evaluation> evaluation;
    std::exception_ptr failure;
    std::thread worker([&] {
      try {
        evaluation.emplace(evaluate_problem(problem, arguments.threads, control));
      } catch (...) {
        failure = std::current_exception();
      }
      const std::lock_guard<std::mutex> lock(mutex);
      done = true;
      finished.notify_one();
    });
    // Whatever ends this scope, the worker has stopped first.
    struct Joined {
      std::thread& worker;
      std::atomic<bool>& cancel;
      ~Joined() {
        if (!worker.joinable()) return;
        cancel = true;
        worker.join();
      }
    } joined{worker, cancel};
    ConsoleLine console;
    for (;;) {
      std::unique_lock<std::mutex> lock(mutex);
      finished.wait_for(lock, std::chrono::milliseconds(100), [&] { return done; });
      if (done) break;
      const std::string current = line;
      lock.unlock();
      if (arguments.progress) console.show(current);
      if (!cancel.load() && R_ToplevelExec(check_interrupt, nullptr) == FALSE) cancel = true;
    }
    worker.join();
    console.show("");
    if (failure) std::rethrow_exception(failure);
    Evaluation& result = *evaluation;
    result.problem.file_name = "bf_proportions()";  // the table's and the document's name of the problem
    outcome.table = format_table(result);
    outcome.json = format_json(result, arguments.version);
    key_numbers(result, outcome.numbers);
  } catch (const Cancelled&) {
    outcome.status = "interrupted";
    outcome.message = "interrupted: the evaluation stopped before it ended";
  } catch (const InputError& error) {
    outcome.status = "input_error";
    outcome.message = printable_message(error.what());
  } catch (const std::bad_alloc&) {
    outcome.status = "error";
    outcome.message = printable_message(out_of_memory_message(kHypothesesLabel));
  } catch (const std::exception& error) {
    outcome.status = "error";
    outcome.message = error.what();
  }
  return outcome;
}

std::vector<std::string> text_vector(SEXP value) {
  std::vector<std::string> out;
  for (const cpp11::r_string text : cpp11::strings(value)) out.push_back(std::string(text));
  return out;
}

std::vector<double> number_vector(SEXP value) {
  const cpp11::doubles values(value);
  return std::vector<double>(values.begin(), values.end());
}

}  // namespace

extern "C" SEXP propbf_run(SEXP names, SEXP successes, SEXP trials, SEXP prior_a, SEXP prior_b, SEXP hypothesis_names,
                           SEXP hypothesis_texts, SEXP settings, SEXP threads, SEXP progress, SEXP version) {
  BEGIN_CPP11
  Arguments arguments;
  arguments.names = text_vector(names);
  arguments.successes = number_vector(successes);
  arguments.trials = number_vector(trials);
  arguments.prior_a = number_vector(prior_a);
  arguments.prior_b = number_vector(prior_b);
  arguments.hypothesis_names = text_vector(hypothesis_names);
  arguments.hypothesis_texts = text_vector(hypothesis_texts);
  const std::vector<double> values = number_vector(settings);  // niter, seed, precision, max_niter (NA: not given)
  if (values.size() != 4 || arguments.hypothesis_names.size() != arguments.hypothesis_texts.size()) {
    throw std::invalid_argument("propbf_run: malformed arguments");
  }
  arguments.niter = values[0];
  arguments.seed = values[1];
  arguments.precision = values[2];
  arguments.max_niter = values[3];
  arguments.threads = cpp11::as_cpp<int>(threads);
  arguments.progress = cpp11::as_cpp<bool>(progress);
  arguments.version = cpp11::as_cpp<std::string>(version);
  const Outcome outcome = run(arguments);
  using namespace cpp11::literals;
  cpp11::writable::doubles numbers(outcome.numbers.begin(), outcome.numbers.end());
  return cpp11::writable::list({"status"_nm = outcome.status, "message"_nm = outcome.message,
                                "table"_nm = outcome.table, "json"_nm = outcome.json, "numbers"_nm = numbers});
  END_CPP11
}

extern "C" void R_init_propbf(DllInfo* info) {
  // Through void (*)(), the type any function pointer may pass as.
  const auto entry = reinterpret_cast<DL_FUNC>(reinterpret_cast<void (*)()>(&propbf_run));
  static const R_CallMethodDef methods[] = {{"propbf_run", entry, 11}, {nullptr, nullptr, 0}};
  R_registerRoutines(info, nullptr, methods, nullptr, nullptr);
  R_useDynamicSymbols(info, FALSE);
}
