#include "command/complexity_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "messages/messages.hpp"
#include "problem/problem.hpp"

namespace propbf::evaluate {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kFormat = "propbf complexities";
// The deepest nesting the format has: top object, the list, a record, its levels, a
// stage's levels, their counts, a count.
constexpr int kMaxDepth = 7;
// A hypothesis's name as kept in a record (it only names where it was computed).
constexpr std::size_t kMaxRecordNameBytes = 4096;

std::string hex(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

Json number_list(const std::vector<double>& values) {
  Json list = Json::array();
  for (double value : values) list.push_back(value);
  return list;
}

// A reader of one file's values, each mistake an InputError naming the file and the
// value's place (e.g. complexities[0].stages[3].hits).
class Reader {
 public:
  explicit Reader(std::string path) : path_(std::move(path)) {}

  [[noreturn]] void fail(const std::string& place, const std::string& what) const {
    throw InputError("propbf: " + path_ + ": not a usable complexity file: " + (place.empty() ? "" : place + ": ") +
                     what);
  }

  const Json& member(const Json& object, const std::string& place, const char* name) const {
    const auto found = object.find(name);
    if (found == object.end()) fail(place, std::string("'") + name + "' is missing");
    return *found;
  }

  void only_keys(const Json& object, const std::string& place, std::initializer_list<const char*> keys) const {
    if (!object.is_object()) fail(place, "must be an object");
    for (const auto& [name, value] : object.items()) {
      bool known = false;
      for (const char* key : keys) known = known || name == key;
      if (!known) fail(place, "unknown key '" + visible_text(name) + "'");
    }
  }

  std::uint64_t whole(const Json& value, const std::string& place, std::uint64_t low, std::uint64_t high) const {
    if (!value.is_number_integer() || (value.is_number_integer() && !value.is_number_unsigned() && value.get<std::int64_t>() < 0)) {
      fail(place, "must be a whole number from " + std::to_string(low) + " to " + std::to_string(high));
    }
    const auto number = value.get<std::uint64_t>();
    if (number < low || number > high) {
      fail(place, "must be a whole number from " + std::to_string(low) + " to " + std::to_string(high));
    }
    return number;
  }

  double real(const Json& value, const std::string& place, double low, double high) const {
    if (!value.is_number()) fail(place, "must be a number");
    const double number = value.get<double>();
    if (!std::isfinite(number) || number < low || number > high) {
      fail(place, "must be a number from " + format_number(low, 6) + " to " + format_number(high, 6));
    }
    return number;
  }

  std::uint64_t hex_word(const Json& value, const std::string& place) const {
    if (!value.is_string() || value.get_ref<const std::string&>().size() != 16) fail(place, "must be 16 hex digits");
    std::uint64_t word = 0;
    for (const char c : value.get_ref<const std::string&>()) {
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      if (digit < 0) fail(place, "must be 16 hex digits (0-9, a-f)");
      word = word << 4 | static_cast<std::uint64_t>(digit);
    }
    return word;
  }

  std::vector<double> reals(const Json& value, const std::string& place, double low, double high) const {
    if (!value.is_array() || value.empty()) fail(place, "must be a list of numbers, not empty");
    std::vector<double> numbers;
    for (std::size_t i = 0; i < value.size(); ++i) {
      numbers.push_back(real(value[i], place + "[" + std::to_string(i) + "]", low, high));
    }
    return numbers;
  }

  ComplexityKey key(const Json& value, const std::string& place) const {
    only_keys(value, place, {"hypothesis_key", "prior_a", "prior_b", "start", "stage_ends", "seed", "stream", "niter"});
    ComplexityKey key;
    key.hypothesis = hex_word(member(value, place, "hypothesis_key"), place + ".hypothesis_key");
    key.prior_a = reals(member(value, place, "prior_a"), place + ".prior_a", 0.0, std::numeric_limits<double>::max());
    key.prior_b = reals(member(value, place, "prior_b"), place + ".prior_b", 0.0, std::numeric_limits<double>::max());
    if (key.prior_b.size() != key.prior_a.size()) fail(place + ".prior_b", "must have as many numbers as prior_a");
    key.start = reals(member(value, place, "start"), place + ".start", 0.0, 1.0);
    if (key.start.size() != key.prior_a.size()) fail(place + ".start", "must have as many numbers as prior_a");
    const Json& ends = member(value, place, "stage_ends");
    if (!ends.is_array() || ends.empty()) fail(place + ".stage_ends", "must be a list of whole numbers, not empty");
    for (std::size_t t = 0; t < ends.size(); ++t) {
      const std::uint64_t low = key.stage_ends.empty() ? 1 : key.stage_ends.back() + 1;
      key.stage_ends.push_back(static_cast<std::size_t>(whole(ends[t], place + ".stage_ends[" + std::to_string(t) + "]",
                                                              low, std::numeric_limits<std::uint32_t>::max())));
    }
    key.seed = whole(member(value, place, "seed"), place + ".seed", 0,
                     static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
    key.stream = hex_word(member(value, place, "stream"), place + ".stream");
    key.niter = static_cast<std::int64_t>(
        whole(member(value, place, "niter"), place + ".niter", 1, static_cast<std::uint64_t>(kMaxNiter)));
    return key;
  }

  // A stage's levels (rare_stages.hpp): none (empty bounds), or L >= 2 bounds rising
  // strictly and the counts of levels 2 ... L.
  StageLevels levels(const Json& value, const std::string& place, std::int64_t niter) const {
    only_keys(value, place, {"bounds", "counts"});
    StageLevels stage;
    const Json& bounds = member(value, place, "bounds");
    if (!bounds.is_array()) fail(place + ".bounds", "must be a list of numbers");
    for (std::size_t l = 0; l < bounds.size(); ++l) {
      const std::string where = place + ".bounds[" + std::to_string(l) + "]";
      const double bound =
          real(bounds[l], where, -std::numeric_limits<double>::max(), std::numeric_limits<double>::max());
      if (!stage.bounds.empty() && !(bound > stage.bounds.back())) fail(where, "must be above the bound before it");
      stage.bounds.push_back(bound);
    }
    if (stage.bounds.size() == 1) fail(place + ".bounds", "must be empty or hold at least two bounds");
    const Json& counts = member(value, place, "counts");
    const std::size_t expected = stage.bounds.empty() ? 0 : stage.bounds.size() - 1;
    if (!counts.is_array() || counts.size() != expected) {
      fail(place + ".counts", "must be a list of one record per level after the first (" + std::to_string(expected) +
                                  ")");
    }
    for (std::size_t l = 0; l < counts.size(); ++l) {
      stage.counts.push_back(this->stage(counts[l], place + ".counts[" + std::to_string(l) + "]", niter));
    }
    return stage;
  }

  StageCount stage(const Json& value, const std::string& place, std::int64_t niter) const {
    only_keys(value, place, {"hits", "sweeps", "effective_sweeps", "batch_correlation", "error_measured"});
    StageCount count;
    const auto sweeps = static_cast<std::uint64_t>(niter);
    count.hits = static_cast<std::int64_t>(whole(member(value, place, "hits"), place + ".hits", 0, sweeps));
    whole(member(value, place, "sweeps"), place + ".sweeps", sweeps, sweeps);
    count.effective_sweeps =
        real(member(value, place, "effective_sweeps"), place + ".effective_sweeps", 0.0, static_cast<double>(niter));
    count.batch_correlation = real(member(value, place, "batch_correlation"), place + ".batch_correlation", -1.0, 1.0);
    const Json& measured = member(value, place, "error_measured");
    if (!measured.is_boolean()) fail(place + ".error_measured", "must be true or false");
    count.error_measured = measured.get<bool>();
    return count;
  }

  ComplexityRecord record(const Json& value, const std::string& place) const {
    only_keys(value, place, {"hypothesis", "complexity", "key", "stages", "levels"});
    ComplexityRecord record;
    const Json& name = member(value, place, "hypothesis");
    if (!name.is_string() || name.get_ref<const std::string&>().size() > kMaxRecordNameBytes) {
      fail(place + ".hypothesis", "must be a name of at most " + std::to_string(kMaxRecordNameBytes) + " bytes");
    }
    record.hypothesis_name = name.get<std::string>();
    real(member(value, place, "complexity"), place + ".complexity", 0.0, 1.0);  // shown, not used
    record.key = key(member(value, place, "key"), place + ".key");
    const Json& stages = member(value, place, "stages");
    if (!stages.is_array() || stages.size() != record.key.stage_ends.size()) {
      fail(place + ".stages", "must be a list of one record per stage of key.stage_ends (" +
                                  std::to_string(record.key.stage_ends.size()) + ")");
    }
    for (std::size_t t = 0; t < stages.size(); ++t) {
      record.stages.push_back(stage(stages[t], place + ".stages[" + std::to_string(t) + "]", record.key.niter));
    }
    // Empty when no stage is split; else one entry per stage.
    const Json& levels = member(value, place, "levels");
    if (!levels.is_array() || (!levels.empty() && levels.size() != stages.size())) {
      fail(place + ".levels", "must be an empty list or one entry per stage (" + std::to_string(stages.size()) + ")");
    }
    for (std::size_t t = 0; t < levels.size(); ++t) {
      record.levels.push_back(this->levels(levels[t], place + ".levels[" + std::to_string(t) + "]", record.key.niter));
    }
    record.loaded = true;
    return record;
  }

 private:
  std::string path_;
};

}  // namespace

std::string format_complexity_file(const ComplexityCache& cache, const std::string& version) {
  Json document;
  document["format"] = kFormat;
  document["version"] = kComplexityFileVersion;
  document["program_version"] = version;
  Json records = Json::array();
  for (const ComplexityRecord& record : cache.records()) {
    Json key;
    key["hypothesis_key"] = hex(record.key.hypothesis);
    key["prior_a"] = number_list(record.key.prior_a);
    key["prior_b"] = number_list(record.key.prior_b);
    key["start"] = number_list(record.key.start);
    key["stage_ends"] = record.key.stage_ends;
    key["seed"] = record.key.seed;
    key["stream"] = hex(record.key.stream);
    key["niter"] = record.key.niter;
    const auto count_json = [&record](const StageCount& count) {
      Json stage;
      stage["hits"] = count.hits;
      stage["sweeps"] = record.key.niter;
      stage["effective_sweeps"] = count.effective_sweeps;
      stage["batch_correlation"] = count.batch_correlation;
      stage["error_measured"] = count.error_measured;
      return stage;
    };
    // The complexity shown is the product of the shares in stage and level order, as
    // the engine forms it.
    const double n = static_cast<double>(record.key.niter);
    Json stages = Json::array();
    Json levels = Json::array();
    double complexity = 1.0;
    for (std::size_t t = 0; t < record.stages.size(); ++t) {
      complexity *= static_cast<double>(record.stages[t].hits) / n;
      stages.push_back(count_json(record.stages[t]));
      if (t >= record.levels.size()) continue;
      Json level_counts = Json::array();
      for (const StageCount& count : record.levels[t].counts) {
        complexity *= static_cast<double>(count.hits) / n;
        level_counts.push_back(count_json(count));
      }
      Json stage_levels;
      stage_levels["bounds"] = number_list(record.levels[t].bounds);
      stage_levels["counts"] = std::move(level_counts);
      levels.push_back(std::move(stage_levels));
    }
    Json entry;
    entry["hypothesis"] = record.hypothesis_name;
    entry["complexity"] = complexity;
    entry["key"] = std::move(key);
    entry["stages"] = std::move(stages);
    entry["levels"] = std::move(levels);
    records.push_back(std::move(entry));
  }
  // One record a line. Doubles are written in their shortest form that reads back to
  // the same bits.
  std::string text = document.dump(-1, ' ', false, Json::error_handler_t::replace);
  text.pop_back();  // the closing brace
  text += records.empty() ? ",\"complexities\":[]}\n" : ",\"complexities\":[\n";
  for (std::size_t i = 0; i < records.size(); ++i) {
    text += records[i].dump(-1, ' ', false, Json::error_handler_t::replace) + (i + 1 < records.size() ? ",\n" : "\n]}\n");
  }
  return text;
}

void parse_complexity_file(const std::string& path, const std::string& bytes, ComplexityCache& cache) {
  const Reader reader(path);
  Json document;
  try {
    // Deeper nesting than the format's is refused while parsing, before it is built.
    document = Json::parse(bytes, [&reader](int depth, Json::parse_event_t, Json&) {
      if (depth > kMaxDepth) reader.fail("", "nested deeper than the format (" + std::to_string(kMaxDepth) + " levels)");
      return true;
    });
  } catch (const Json::parse_error& error) {
    reader.fail("", "not JSON (at byte " + std::to_string(error.byte) + ")");
  } catch (const Json::exception&) {  // a number beyond the doubles
    reader.fail("", "not JSON this program reads (a number out of range)");
  }
  reader.only_keys(document, "the document", {"format", "version", "program_version", "complexities"});
  const Json& format = reader.member(document, "the document", "format");
  if (!format.is_string() || format.get_ref<const std::string&>() != kFormat) {
    reader.fail("format", std::string("must be \"") + kFormat + "\"");
  }
  const Json& version = reader.member(document, "the document", "version");
  if (version.is_number_integer() && version.get<std::int64_t>() == 1) {
    reader.fail("version", "version 1 of the format, written by a development build, holds no levels of rare stages; "
                           "write the file again with --save-complexity");
  }
  if (!version.is_number_integer() || version.get<std::int64_t>() != kComplexityFileVersion) {
    reader.fail("version", "this program reads version " + std::to_string(kComplexityFileVersion) +
                               " of the format (a file written by another version of propbf?)");
  }
  const Json& program = reader.member(document, "the document", "program_version");
  if (!program.is_string()) reader.fail("program_version", "must be a string");
  const Json& list = reader.member(document, "the document", "complexities");
  if (!list.is_array()) reader.fail("complexities", "must be a list");
  std::vector<ComplexityRecord> records;
  for (std::size_t i = 0; i < list.size(); ++i) {
    records.push_back(reader.record(list[i], "complexities[" + std::to_string(i) + "]"));
  }
  if (records.empty()) reader.fail("complexities", "holds no complexity");
  for (ComplexityRecord& record : records) cache.add(std::move(record));
  cache.source() = path;
}

void read_complexity_file(const std::string& path, ComplexityCache& cache) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw InputError("propbf: " + path + ": cannot open the complexity file: " + std::strerror(errno));
  std::string bytes;
  char buffer[1 << 16];
  int failure = 0;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) failure = EISDIR;
  while (failure == 0) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) failure = errno;
    if (got <= 0) break;
    if (bytes.size() + static_cast<std::size_t>(got) > kMaxComplexityFileBytes) {
      ::close(fd);
      throw InputError("propbf: " + path + ": the complexity file is larger than " +
                       std::to_string(kMaxComplexityFileBytes >> 20) + " MiB");
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  if (failure != 0) throw InputError("propbf: " + path + ": cannot read the complexity file: " + std::strerror(failure));
  parse_complexity_file(path, bytes, cache);
}

}  // namespace propbf::evaluate
