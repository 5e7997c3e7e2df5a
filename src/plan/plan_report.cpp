#include "plan/plan_report.hpp"

#include <algorithm>
#include <boost/math/special_functions/beta.hpp>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "messages/messages.hpp"
#include "report/json_writer.hpp"

namespace propbf::evaluate {
namespace {

std::string hex_key(std::uint64_t key) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(key));
  return text;
}

std::int64_t total_of(const std::vector<std::int64_t>& size) {
  std::int64_t total = 0;
  for (std::int64_t n : size) total += n;
  return total;
}

bool uniform(const std::vector<std::int64_t>& size) {
  return std::all_of(size.begin(), size.end(), [&](std::int64_t n) { return n == size.front(); });
}

// The trials of a size as the JSON gives them: one number when every item has as many,
// else one per item.
void write_size(JsonWriter& json, const std::vector<std::int64_t>& size) {
  if (uniform(size)) {
    json.integer(size.front());
    return;
  }
  json.begin_array();
  for (std::int64_t n : size) json.integer(n);
  json.end_array();
}

// A factor in a part's record: a number, or "inf" (JSON has no infinity), or null.
void write_factor(JsonWriter& json, double value) {
  if (std::isinf(value)) {
    json.string(value > 0 ? "inf" : "-inf");
  } else {
    json.number(value);
  }
}

std::string against_phrase(const std::string& against) {
  if (against == "unconstrained") return "the unconstrained hypothesis";
  if (against == "complement") return "each hypothesis's complement";
  return "hypothesis " + visible_text(against);
}

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string size_text(const std::vector<std::int64_t>& size) {
  if (uniform(size)) return std::to_string(size.front());
  std::string text;
  for (std::int64_t n : size) {
    if (!text.empty()) text += ',';
    text += std::to_string(n);
  }
  return text;
}

}  // namespace

TargetReach target_reach(const PlanHeader& header, const std::vector<SizeSummary>& sizes, std::size_t h) {
  TargetReach reach;
  const std::size_t k = header.target_threshold;
  double previous_p = 0.0;
  for (std::size_t s = 0; s < sizes.size(); ++s) {
    const SizeSummary& summary = sizes[s];
    const double p = static_cast<double>(summary.hypotheses()[h].above[k]) / static_cast<double>(summary.count());
    if (p >= *header.target) {
      reach.reached = true;
      reach.size = s;
      const auto total = static_cast<double>(total_of(header.sizes[summary.size()]));
      if (s == 0 || !(p > previous_p)) {
        reach.total = total;
      } else {
        // Linear between the last size below the target and this one.
        const auto before = static_cast<double>(total_of(header.sizes[sizes[s - 1].size()]));
        reach.total = before + (*header.target - previous_p) / (p - previous_p) * (total - before);
        reach.interpolated = true;
      }
      return reach;
    }
    previous_p = p;
  }
  return reach;
}


PlanHeader plan_header(const PlanFile& plan, const Planner& planner, const std::string& version) {
  PlanHeader header;
  header.version = version;
  header.key = plan.key;
  for (const Item& item : plan.problem.items) header.items.push_back(item.name);
  for (const HypothesisText& h : plan.problem.hypotheses) header.hypotheses.push_back(h.name);
  for (const PlanComplexity& complexity : planner.complexities()) {
    header.complexities.push_back(complexity.value);
    header.complexities_exact.push_back(complexity.exact);
  }
  header.sizes = plan.design.sizes;
  header.datasets = plan.design.datasets;
  header.seed = plan.design.seed;
  header.thresholds = plan.design.thresholds;
  header.threshold_names = plan.design.threshold_names;
  header.against = plan.design.factor == PlanFactor::Unconstrained ? "unconstrained"
                   : plan.design.factor == PlanFactor::Complement  ? "complement"
                                                                    : plan.design.against;
  header.target = plan.design.target;
  header.target_threshold = plan.design.target_threshold;
  return header;
}

SizeSummary::SizeSummary(const PlanHeader& header, std::size_t size) : header_(&header), size_(size) {
  hypotheses_.resize(header.hypotheses.size());
  for (Hypothesis& h : hypotheses_) {
    h.above.assign(header.thresholds.size(), 0);
    h.below.assign(header.thresholds.size(), 0);
  }
}

void SizeSummary::add(const DatasetRecord& record) {
  ++count_;
  for (std::size_t h = 0; h < hypotheses_.size(); ++h) {
    Hypothesis& summary = hypotheses_[h];
    const double factor = record.factors[h];
    for (std::size_t k = 0; k < header_->thresholds.size(); ++k) {
      const double threshold = header_->thresholds[k];
      if (factor > threshold) ++summary.above[k];
      if (factor < 1.0 / threshold) ++summary.below[k];
    }
    summary.factors.push_back(factor);
    summary.pmp_sum += record.pmp[h];
    summary.sweeps_sum += static_cast<double>(record.sweeps[h]);
  }
}

void SizeSummary::finish() {
  if (finished_) return;
  finished_ = true;
  for (Hypothesis& h : hypotheses_) {
    std::sort(h.factors.begin(), h.factors.end());
    h.quartiles = {sorted_quantile(h.factors, 0.25), sorted_quantile(h.factors, 0.5), sorted_quantile(h.factors, 0.75)};
    std::vector<double>().swap(h.factors);
  }
}

std::string plan_progress_text(double done, std::int64_t datasets, double elapsed) {
  const double left = done > 0.0 ? elapsed * (1.0 - done) / done : 0.0;
  const auto seconds = static_cast<long long>(std::llround(left));
  return std::to_string(static_cast<int>(done * 100.0)) + "% of " + std::to_string(datasets) + " data sets, about " +
         (seconds >= 60 ? std::to_string(seconds / 60) + " min " : "") + std::to_string(seconds % 60) + " s left";
}

std::array<double, 2> clopper_pearson(std::int64_t x, std::int64_t n) {
  const auto k = static_cast<double>(x);
  const auto m = static_cast<double>(n);
  const double lower = x == 0 ? 0.0 : boost::math::ibeta_inv(k, m - k + 1.0, 0.025);
  const double upper = x == n ? 1.0 : boost::math::ibeta_inv(k + 1.0, m - k, 0.975);
  return {lower, upper};
}

double sorted_quantile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return std::numeric_limits<double>::quiet_NaN();
  const double position = p * static_cast<double>(sorted.size() - 1);
  const auto below = static_cast<std::size_t>(std::floor(position));
  const std::size_t above = std::min(below + 1, sorted.size() - 1);
  const double low = sorted[below];
  const double high = sorted[above];
  if (low == high) return low;
  const double fraction = position - static_cast<double>(below);
  return low + fraction * (high - low);
}

std::string format_plan_json(const PlanHeader& header, std::vector<SizeSummary>& sizes) {
  std::string out;
  JsonWriter json(out, 2);
  json.begin_object();
  json.key("version").string(header.version);
  json.key("plan_key").string(hex_key(header.key));
  json.key("datasets").integer(header.datasets);
  json.key("seed").integer(header.seed);
  json.key("against").string(header.against);
  json.key("thresholds");
  json.begin_array();
  for (const std::string& name : header.threshold_names) json.string(name);
  json.end_array();
  json.key("complexities");
  json.begin_array();
  for (std::size_t h = 0; h < header.hypotheses.size(); ++h) {
    json.begin_object();
    json.key("name").string(header.hypotheses[h]);
    json.key("complexity").number(header.complexities[h]);
    json.key("complexity_exact").boolean(header.complexities_exact[h]);
    json.end_object();
  }
  json.end_array();
  json.key("sizes");
  json.begin_array();
  for (SizeSummary& summary : sizes) {
    summary.finish();
    const std::vector<std::int64_t>& size = header.sizes[summary.size()];
    json.begin_object();
    json.key("n");
    write_size(json, size);
    json.key("total").integer(total_of(size));
    json.key("hypotheses");
    json.begin_array();
    for (std::size_t h = 0; h < header.hypotheses.size(); ++h) {
      const SizeSummary::Hypothesis& result = summary.hypotheses()[h];
      const auto count = summary.count();
      json.begin_object();
      json.key("name").string(header.hypotheses[h]);
      for (const bool above : {true, false}) {
        const std::vector<std::int64_t>& hits = above ? result.above : result.below;
        json.key(above ? "p_above" : "p_below");
        json.begin_object();
        for (std::size_t k = 0; k < hits.size(); ++k) {
          json.key(header.threshold_names[k]).number(static_cast<double>(hits[k]) / static_cast<double>(count));
        }
        json.end_object();
        json.key(above ? "p_above_interval" : "p_below_interval");
        json.begin_object();
        for (std::size_t k = 0; k < hits.size(); ++k) {
          const std::array<double, 2> interval = clopper_pearson(hits[k], count);
          json.key(header.threshold_names[k]);
          json.begin_array();
          json.number(interval[0]);
          json.number(interval[1]);
          json.end_array();
        }
        json.end_object();
      }
      json.key("median_bf").number(result.quartiles[1]);
      json.key("bf_quartiles");
      json.begin_array();
      json.number(result.quartiles[0]);
      json.number(result.quartiles[2]);
      json.end_array();
      json.key("pmp_mean").number(result.pmp_sum / static_cast<double>(count));
      json.key("mean_sweeps").number(result.sweeps_sum / static_cast<double>(count));
      json.end_object();
    }
    json.end_array();
    json.end_object();
  }
  json.end_array();
  if (header.target) {
    json.key("target");
    json.begin_object();
    json.key("probability").number(*header.target);
    json.key("threshold").string(header.threshold_names[header.target_threshold]);
    json.key("hypotheses");
    json.begin_array();
    for (std::size_t h = 0; h < header.hypotheses.size(); ++h) {
      const TargetReach reach = target_reach(header, sizes, h);
      json.begin_object();
      json.key("name").string(header.hypotheses[h]);
      json.key("reached").boolean(reach.reached);
      json.key("total");
      if (reach.reached) {
        json.number(reach.total);
      } else {
        json.null();
      }
      json.key("interpolated").boolean(reach.interpolated);
      json.end_object();
    }
    json.end_array();
    json.end_object();
  }
  json.end_object();
  out += '\n';
  return out;
}

std::string format_plan_table(const PlanHeader& header, std::vector<SizeSummary>& sizes) {
  std::string out = "propbf plan: " + std::to_string(header.datasets) + " data sets per size; factors against " +
                    against_phrase(header.against) + "\n";
  for (std::size_t h = 0; h < header.hypotheses.size(); ++h) {
    out += "  " + visible_text(header.hypotheses[h]) + ": complexity " + format_number(header.complexities[h], 6) +
           (header.complexities_exact[h] ? " (exact)" : "") + "\n";
  }
  out += "\n";
  std::string columns = padded("n", 12) + padded("hypothesis", 14);
  for (const std::string& name : header.threshold_names) columns += padded("P(BF>" + name + ")", 12);
  for (const std::string& name : header.threshold_names) columns += padded("P(BF<1/" + name + ")", 13);
  columns += "median BF   quartiles";
  out += columns + "\n";
  for (SizeSummary& summary : sizes) {
    summary.finish();
    for (std::size_t h = 0; h < header.hypotheses.size(); ++h) {
      const SizeSummary::Hypothesis& result = summary.hypotheses()[h];
      const auto count = static_cast<double>(summary.count());
      std::string line = padded(size_text(header.sizes[summary.size()]), 12) +
                         padded(visible_text(header.hypotheses[h]), 14);
      for (std::int64_t hits : result.above) line += padded(format_number(static_cast<double>(hits) / count, 3), 12);
      for (std::int64_t hits : result.below) line += padded(format_number(static_cast<double>(hits) / count, 3), 13);
      line += padded(format_number(result.quartiles[1], 4), 12);
      line += '[';
      line += format_number(result.quartiles[0], 3);
      line += ", ";
      line += format_number(result.quartiles[2], 3);
      line += "]\n";
      out += line;
    }
  }
  if (header.target) {
    out += "\nSmallest size with P(BF > " + header.threshold_names[header.target_threshold] +
           ") >= " + format_number(*header.target, 6) + ":\n";
    for (std::size_t h = 0; h < header.hypotheses.size(); ++h) {
      const TargetReach reach = target_reach(header, sizes, h);
      std::string line = "  " + visible_text(header.hypotheses[h]) + ": ";
      if (!reach.reached) {
        line += "not reached up to " + std::to_string(total_of(header.sizes[sizes.back().size()])) + " trials in all";
      } else {
        line += (reach.interpolated ? "about " : "") + format_number(reach.total, 4) + " trials in all";
        const std::vector<std::int64_t>& at = header.sizes[sizes[reach.size].size()];
        if (uniform(at)) {
          line += " (" + format_number(reach.total / static_cast<double>(at.size()), 4) + " per item)";
        }
        if (reach.interpolated) line += ", interpolated between sizes";
      }
      out += line + "\n";
    }
  }
  return out;
}

std::string format_part_header(const PlanHeader& header, std::int64_t shard, std::int64_t shards) {
  std::string out;
  JsonWriter json(out, -1);
  json.begin_object();
  json.key("propbf_plan").string(header.version);
  json.key("plan_key").string(hex_key(header.key));
  json.key("shard").integer(shard);
  json.key("shards").integer(shards);
  json.key("items");
  json.begin_array();
  for (const std::string& name : header.items) json.string(name);
  json.end_array();
  json.key("hypotheses");
  json.begin_array();
  for (const std::string& name : header.hypotheses) json.string(name);
  json.end_array();
  json.key("complexities");
  json.begin_array();
  for (double c : header.complexities) json.number(c);
  json.end_array();
  json.key("complexities_exact");
  json.begin_array();
  for (const bool exact : header.complexities_exact) json.boolean(exact);
  json.end_array();
  json.key("sizes");
  json.begin_array();
  for (const std::vector<std::int64_t>& size : header.sizes) {
    json.begin_array();
    for (std::int64_t n : size) json.integer(n);
    json.end_array();
  }
  json.end_array();
  json.key("datasets").integer(header.datasets);
  json.key("seed").integer(header.seed);
  json.key("thresholds");
  json.begin_array();
  for (double k : header.thresholds) json.number(k);
  json.end_array();
  json.key("threshold_names");
  json.begin_array();
  for (const std::string& name : header.threshold_names) json.string(name);
  json.end_array();
  json.key("against").string(header.against);
  json.key("target");
  if (header.target) {
    json.number(*header.target);
  } else {
    json.null();
  }
  json.key("target_threshold").integer(static_cast<std::int64_t>(header.target_threshold));
  json.end_object();
  out += '\n';
  return out;
}

std::string format_part_record(const DatasetRecord& record) {
  std::string out;
  JsonWriter json(out, -1);
  json.begin_object();
  json.key("size").integer(static_cast<std::int64_t>(record.size));
  json.key("dataset").integer(record.dataset);
  if (record.counts.empty()) {
    json.key("successes");
    json.begin_array();
    for (std::int64_t k : record.successes) json.integer(k);
    json.end_array();
  } else {
    // Items of categories: per item its counts per category.
    json.key("counts");
    json.begin_array();
    for (const std::vector<std::int64_t>& item : record.counts) {
      json.begin_array();
      for (std::int64_t n : item) json.integer(n);
      json.end_array();
    }
    json.end_array();
  }
  json.key("factors");
  json.begin_array();
  for (double f : record.factors) write_factor(json, f);
  json.end_array();
  json.key("intervals");
  json.begin_array();
  for (const std::array<double, 2>& interval : record.intervals) {
    json.begin_array();
    write_factor(json, interval[0]);
    write_factor(json, interval[1]);
    json.end_array();
  }
  json.end_array();
  json.key("pmp");
  json.begin_array();
  for (double p : record.pmp) json.number(p);
  json.end_array();
  json.key("sweeps");
  json.begin_array();
  for (std::int64_t n : record.sweeps) json.integer(n);
  json.end_array();
  json.end_object();
  out += '\n';
  return out;
}

namespace {

using Json = nlohmann::json;

[[noreturn]] void part_error(const std::string& file, std::size_t line, const std::string& message) {
  throw InputError(file + ":" + std::to_string(line) + ": " + message);
}

double json_double(const Json& value) {
  if (value.is_number()) return value.get<double>();
  if (value.is_string() && value.get<std::string>() == "inf") return std::numeric_limits<double>::infinity();
  if (value.is_string() && value.get<std::string>() == "-inf") return -std::numeric_limits<double>::infinity();
  if (value.is_null()) return std::numeric_limits<double>::quiet_NaN();
  throw std::invalid_argument("not a number");
}

PlanHeader read_header(const Json& j) {
  PlanHeader header;
  header.version = j.at("propbf_plan").get<std::string>();
  header.key = std::stoull(j.at("plan_key").get<std::string>(), nullptr, 16);
  header.items = j.at("items").get<std::vector<std::string>>();
  header.hypotheses = j.at("hypotheses").get<std::vector<std::string>>();
  for (const Json& c : j.at("complexities")) header.complexities.push_back(json_double(c));
  for (const Json& e : j.at("complexities_exact")) header.complexities_exact.push_back(e.get<bool>());
  header.sizes = j.at("sizes").get<std::vector<std::vector<std::int64_t>>>();
  header.datasets = j.at("datasets").get<std::int64_t>();
  header.seed = j.at("seed").get<std::int64_t>();
  header.thresholds = j.at("thresholds").get<std::vector<double>>();
  header.threshold_names = j.at("threshold_names").get<std::vector<std::string>>();
  header.against = j.at("against").get<std::string>();
  if (!j.at("target").is_null()) header.target = j.at("target").get<double>();
  header.target_threshold = j.at("target_threshold").get<std::size_t>();
  if (header.hypotheses.empty() || header.complexities.size() != header.hypotheses.size() ||
      header.complexities_exact.size() != header.hypotheses.size() || header.sizes.empty() ||
      header.threshold_names.size() != header.thresholds.size() || header.thresholds.empty() ||
      header.target_threshold >= header.thresholds.size() || header.datasets < 1 ||
      header.datasets > kMaxPlanDatasets || header.sizes.size() > kMaxPlanSizes) {
    throw std::invalid_argument("inconsistent header");
  }
  for (const auto& size : header.sizes) {
    if (size.size() != header.items.size()) throw std::invalid_argument("inconsistent header");
  }
  return header;
}

bool same_plan(const PlanHeader& a, const PlanHeader& b) {
  return a.version == b.version && a.key == b.key && a.items == b.items && a.hypotheses == b.hypotheses &&
         a.sizes == b.sizes && a.datasets == b.datasets && a.seed == b.seed && a.threshold_names == b.threshold_names &&
         a.against == b.against && a.target == b.target && a.target_threshold == b.target_threshold &&
         a.complexities_exact == b.complexities_exact &&
         std::equal(a.complexities.begin(), a.complexities.end(), b.complexities.begin(), b.complexities.end(),
                    [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); });
}

}  // namespace

namespace {

// A line of a part that is not a record (a header) or a record, read from `line`.
void read_part_line(const std::string& file_name, std::size_t line_number, const std::string& line, PlanPart& part,
                    bool& have_header, DatasetRecord& record) {
  Json j;
  try {
    j = Json::parse(line);
  } catch (const Json::exception&) {
    part_error(file_name, line_number, "not a line of JSON (a part of a plan holds JSON lines)");
  }
  try {
    if (!have_header) {
      if (!j.is_object() || !j.contains("propbf_plan")) {
        part_error(file_name, line_number, "not the header of a plan's part (written by propbf plan --jsonl)");
      }
      part.header = read_header(j);
      part.shard = j.at("shard").get<std::int64_t>();
      part.shards = j.at("shards").get<std::int64_t>();
      if (part.shards < 1 || part.shard < 1 || part.shard > part.shards) throw std::invalid_argument("shard");
      return;
    }
    record = DatasetRecord{};
    record.size = j.at("size").get<std::size_t>();
    record.dataset = j.at("dataset").get<std::int64_t>();
    if (j.contains("counts")) {
      record.counts = j.at("counts").get<std::vector<std::vector<std::int64_t>>>();
    } else {
      record.successes = j.at("successes").get<std::vector<std::int64_t>>();
    }
    for (const Json& f : j.at("factors")) record.factors.push_back(json_double(f));
    for (const Json& p : j.at("pmp")) record.pmp.push_back(json_double(p));
    record.sweeps = j.at("sweeps").get<std::vector<std::int64_t>>();
    const std::size_t hypotheses = part.header.hypotheses.size();
    if (record.size >= part.header.sizes.size() || record.dataset < 0 || record.dataset >= part.header.datasets ||
        record.factors.size() != hypotheses || record.pmp.size() != hypotheses || record.sweeps.size() != hypotheses ||
        (record.counts.empty() ? record.successes.size() : record.counts.size()) != part.header.items.size()) {
      throw std::invalid_argument("record");
    }
  } catch (const InputError&) {
    throw;
  } catch (const std::exception&) {
    part_error(file_name, line_number, have_header ? "not a data set's record of this plan"
                                                   : "a header of a plan's part with missing or wrong fields");
  }
}

}  // namespace

PlanPart read_plan_part(const std::string& file_name, std::istream& in,
                        const std::function<void(const PlanPart&, const DatasetRecord&)>& on_record) {
  PlanPart part;
  std::size_t line_number = 0;
  bool have_header = false;
  DatasetRecord record;
  std::string line;
  std::string pending;  // the start of a line not yet ended
  std::vector<char> block(std::size_t{1} << 16);
  const auto take_line = [&](const std::string& text) {
    ++line_number;
    if (text.empty()) return;
    read_part_line(file_name, line_number, text, part, have_header, record);
    if (!have_header) {
      have_header = true;
    } else {
      on_record(part, record);
    }
  };
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    std::size_t at = 0;
    while (at < got) {
      const char* begin = block.data() + at;
      const auto* newline = static_cast<const char*>(std::memchr(begin, '\n', got - at));
      const std::size_t length = newline == nullptr ? got - at : static_cast<std::size_t>(newline - begin);
      if (pending.size() + length > kMaxPartLineBytes) {
        part_error(file_name, line_number + 1, "a line longer than " + std::to_string(kMaxPartLineBytes >> 20) +
                                                   " MiB (a part of a plan holds one short line per data set)");
      }
      pending.append(begin, length);
      at += length;
      if (newline != nullptr) {
        ++at;
        line.swap(pending);
        pending.clear();
        take_line(line);
      }
    }
  }
  if (in.bad()) {
    throw InputError(file_name + ": cannot read the part of a plan: " + std::strerror(errno != 0 ? errno : EIO));
  }
  if (!pending.empty()) take_line(pending);
  if (!have_header) part_error(file_name, 1, "empty: no header of a plan's part");
  return part;
}

void PlanMerge::add_part(const std::string& file_name, std::istream& in) {
  PlanPart part = read_plan_part(file_name, in, [&](const PlanPart& read, const DatasetRecord& record) {
    places_.push_back(static_cast<std::uint64_t>(record.size) * static_cast<std::uint64_t>(read.header.datasets) +
                      static_cast<std::uint64_t>(record.dataset));
    for (std::size_t h = 0; h < record.factors.size(); ++h) {
      values_.push_back(record.factors[h]);
      values_.push_back(record.pmp[h]);
      sweeps_.push_back(record.sweeps[h]);
    }
  });
  if (!have_plan_) {
    header_ = part.header;
    shards_ = part.shards;
    have_plan_ = true;
  } else if (!same_plan(part.header, header_) || part.shards != shards_) {
    throw InputError("propbf plan merge: the parts come from different plans (or versions, or shard counts)");
  }
  if (!parts_.insert(part.shard).second) {
    throw InputError("propbf plan merge: part " + std::to_string(part.shard) + " of " + std::to_string(shards_) +
                     " is given twice");
  }
}

std::vector<SizeSummary> PlanMerge::summaries(PlanHeader& header) {
  if (!have_plan_) throw InputError("propbf plan merge: no part given");
  for (std::int64_t s = 1; s <= shards_; ++s) {
    if (parts_.count(s) == 0) {
      throw InputError("propbf plan merge: part " + std::to_string(s) + " of " + std::to_string(shards_) +
                       " is missing");
    }
  }
  header = header_;
  const std::size_t sizes = header.sizes.size();
  const auto datasets = static_cast<std::size_t>(header.datasets);
  const std::size_t hypotheses = header.hypotheses.size();
  // The records in grid order (size, then data set); each place once.
  std::vector<std::size_t> order(places_.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return places_[x] < places_[y]; });
  std::vector<SizeSummary> summaries;
  DatasetRecord record;
  record.factors.resize(hypotheses);
  record.pmp.resize(hypotheses);
  record.sweeps.resize(hypotheses);
  std::size_t next = 0;
  for (std::size_t s = 0; s < sizes; ++s) {
    summaries.emplace_back(header, s);
    for (std::size_t d = 0; d < datasets; ++d) {
      const std::size_t g = s * datasets + d;
      if (next >= order.size() || places_[order[next]] != g) {
        throw InputError("propbf plan merge: data set " + std::to_string(d + 1) + " of size " + std::to_string(s + 1) +
                         " is missing (a part cut short?)");
      }
      if (next + 1 < order.size() && places_[order[next + 1]] == g) {
        throw InputError("propbf plan merge: data set " + std::to_string(d + 1) + " of size " + std::to_string(s + 1) +
                         " is given twice");
      }
      const std::size_t at = order[next];
      for (std::size_t h = 0; h < hypotheses; ++h) {
        record.factors[h] = values_[2 * (at * hypotheses + h)];
        record.pmp[h] = values_[2 * (at * hypotheses + h) + 1];
        record.sweeps[h] = sweeps_[at * hypotheses + h];
      }
      summaries.back().add(record);
      ++next;
    }
    summaries.back().finish();
  }
  return summaries;
}

}  // namespace propbf::evaluate
