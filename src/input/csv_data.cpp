// Reading item counts from CSV, through the CSV reader with places that the matrix and
// vertex reader uses too (positioned_csv.hpp).
#include "input/csv_data.hpp"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <new>
#include <optional>
#include <unordered_map>

#include "input/positioned_csv.hpp"
#include "messages/messages.hpp"
#include "problem/categories.hpp"

namespace propbf::evaluate {
namespace {

constexpr const char* kForms =
    "'name,successes,trials' (one row per item) or 'name,outcome' (one row per observation, outcome 0 or 1)";

using Field = CsvField;

class CsvReader {
 public:
  CsvReader(const std::string& file_name) : file_name_(file_name), csv_(file_name) {}

  CsvData read(std::string_view content) {
    csv_.read(content, [this](std::span<const CsvField> fields) {
      if (!header_read_) {
        header(fields);
      } else {
        row(fields);
      }
    });
    if (csv_.failure()) throw InputError(*csv_.failure());
    if (!header_read_) {
      throw InputError(describe_position(file_name_, {1, 1}) + ": the CSV file is empty; expected a header, " + kForms);
    }
    if (data_.items.empty()) {
      throw InputError(describe_position(file_name_, csv_.here()) +
                       ": the CSV file has no rows after its header; expected one row per item (counts) or per "
                       "observation");
    }
    if (category_) finish_categories();
    return std::move(data_);
  }

 private:
  // Records the first failure; the parser is fed no more after it.
  void fail(SourcePosition at, const std::string& message) { csv_.fail(at, message); }

  void header(std::span<const Field> fields) {
    header_read_ = true;
    header_size_ = fields.size();
    for (std::size_t i = 0; i < fields.size(); ++i) {
      std::optional<std::size_t>* column = fields[i].text == "name"        ? &name_
                                           : fields[i].text == "category"  ? &category_
                                           : fields[i].text == "count"     ? &count_
                                           : fields[i].text == "successes" ? &successes_
                                           : fields[i].text == "trials"    ? &trials_
                                           : fields[i].text == "outcome"   ? &outcome_
                                                                           : nullptr;
      if (column == nullptr) {
        header_names_.push_back(fields[i].text);
        continue;  // another column: ignored
      }
      if (*column) return fail(fields[i].at, "the header names column '" + fields[i].text + "' twice");
      *column = i;
      header_names_.push_back(fields[i].text);
    }
    const SourcePosition start = fields.empty() ? csv_.here() : fields.front().at;
    if (!name_) return fail(start, "the header (the first line) has no 'name' column; expected " + std::string(kForms));
    if (category_ || count_) {
      // The forms of items with categories: name,category,count or name,category.
      if (!category_) return fail(fields[*count_].at, "the header names 'count' but no 'category' column; expected "
                                                      "'name,category,count' (one row per item and category)");
      for (const auto& [column, word] : {std::pair{successes_, "successes"}, std::pair{trials_, "trials"},
                                         std::pair{outcome_, "outcome"}}) {
        if (column) {
          return fail(fields[*column].at, "the header names both 'category' and '" + std::string(word) +
                                              "'; expected one form: 'name,category,count', 'name,category', " + kForms);
        }
      }
      return;
    }
    if (outcome_ && (successes_ || trials_)) {
      return fail(fields[*outcome_].at, "the header names both 'outcome' and '" +
                                            std::string(successes_ ? "successes" : "trials") +
                                            "'; expected one of the two forms, " + kForms);
    }
    if (!outcome_ && !(successes_ && trials_)) {
      return fail(start, std::string(successes_ ? "the header has no 'trials' column"
                                     : trials_  ? "the header has no 'successes' column"
                                                : "the header has neither 'successes' and 'trials' nor 'outcome'") +
                             "; expected " + kForms);
    }
  }

  // A count or outcome: decimal digits only, at most `most`.
  std::optional<std::int64_t> whole_number(const Field& field, std::int64_t most) const {
    const std::string& text = field.text;
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    std::int64_t value = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || value > most) return std::nullopt;
    return value;
  }

  static std::string found(const Field& field) {
    if (field.text.empty()) return "an empty field";
    std::string quoted = "'";
    quoted += visible_text(field.text);
    quoted += '\'';
    return quoted;
  }

  void row(std::span<const Field> fields) {
    if (fields.size() < header_size_) {
      return fail(csv_.here(), "this row has " + std::to_string(fields.size()) + " field" + (fields.size() == 1 ? "" : "s") +
                             " but the header has " + std::to_string(header_size_) + "; expected a value for '" +
                             visible_text(header_names_[fields.size()]) + "' here");
    }
    if (fields.size() > header_size_) {
      return fail(fields[header_size_].at, "this row has " + std::to_string(fields.size()) +
                                               " fields but the header has " + std::to_string(header_size_) +
                                               "; expected the end of the line (quote a field that holds a ',')");
    }
    const Field& name = fields[*name_];
    if (!is_item_name(name.text)) return fail(name.at, item_name_refusal(visible_text(name.text)));
    if (category_) return category_row(fields);
    if (outcome_) {
      const Field& outcome = fields[*outcome_];
      if (outcome.text != "0" && outcome.text != "1") {
        return fail(outcome.at, "expected 0 or 1 for 'outcome', but found " + found(outcome));
      }
      auto [entry, added] = index_.try_emplace(name.text, data_.items.size());
      if (added) {
        Item item;
        item.name = name.text;
        data_.items.push_back(item);
        data_.places.push_back(name.at);
        lines_.push_back(name.at.line);
      }
      Item& item = data_.items[entry->second];
      ++item.trials;
      if (outcome.text == "1") ++item.successes;
      return;
    }
    std::int64_t counts[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
      const Field& field = fields[k == 0 ? *successes_ : *trials_];
      const auto value = whole_number(field, kMaxCount);
      if (!value) {
        return fail(field.at, "expected a whole number from 0 to " + std::to_string(kMaxCount) + " for '" +
                                  (k == 0 ? "successes" : "trials") + "', but found " + found(field));
      }
      counts[k] = *value;
    }
    if (counts[0] > counts[1]) {
      return fail(fields[*successes_].at, "item '" + name.text + "' has more successes (" + std::to_string(counts[0]) +
                                              ") than trials (" + std::to_string(counts[1]) + ")");
    }
    const auto [entry, added] = index_.try_emplace(name.text, data_.items.size());
    if (!added) {
      return fail(name.at, "item name \"" + name.text + "\" is given twice (first on line " +
                               std::to_string(lines_[entry->second]) + "); the counts form has one row per item");
    }
    Item item;
    item.name = name.text;
    item.successes = counts[0];
    item.trials = counts[1];
    data_.items.push_back(item);
    data_.places.push_back(fields[*trials_].at);
    lines_.push_back(name.at.line);
  }

  // A row of name,category,count or name,category: the item's count of the category,
  // the categories of an item in order of first appearance.
  void category_row(std::span<const Field> fields) {
    const Field& name = fields[*name_];
    const Field& category = fields[*category_];
    std::int64_t count = 1;
    if (count_) {
      const auto value = whole_number(fields[*count_], kMaxCount);
      if (!value) {
        return fail(fields[*count_].at, "expected a whole number from 0 to " + std::to_string(kMaxCount) +
                                            " for 'count', but found " + found(fields[*count_]));
      }
      count = *value;
    }
    if (category.text.empty()) return fail(category.at, "expected a category name, but found an empty field");
    auto [entry, added] = index_.try_emplace(name.text, data_.items.size());
    if (added) {
      Item item;
      item.name = name.text;
      data_.items.push_back(item);
      data_.places.push_back(name.at);
      lines_.push_back(name.at.line);
      category_index_.emplace_back();
      category_lines_.emplace_back();
    }
    Item& item = data_.items[entry->second];
    auto& categories = category_index_[entry->second];
    const auto [at, new_category] = categories.try_emplace(category.text, item.counts.size());
    if (new_category) {
      if (item.counts.size() == kMaxCategories) {
        return fail(category.at, "item '" + name.text + "' has more than " + std::to_string(kMaxCategories) +
                                     " categories");
      }
      item.categories.push_back(category.text);
      item.counts.push_back(0);
      category_lines_[entry->second].push_back(category.at.line);
    } else if (count_) {
      return fail(category.at, "item '" + name.text + "' has category \"" + visible_text(category.text) +
                                   "\" twice (first on line " +
                                   std::to_string(category_lines_[entry->second][at->second]) +
                                   "); the form name,category,count has one row per item and category");
    }
    if (item.counts[at->second] > kMaxCount - count) {
      return fail(category.at, "item '" + name.text + "' counts more than " + std::to_string(kMaxCount) +
                                   " in one category");
    }
    item.counts[at->second] += count;
  }

  // Every item of categories once read: at least two categories; categories that are all
  // whole numbers in numerical order; names a hypothesis can name.
  void finish_categories() {
    for (std::size_t j = 0; j < data_.items.size(); ++j) {
      Item& item = data_.items[j];
      const std::string where = describe_position(file_name_, data_.places[j]) + ": ";
      if (item.counts.size() < 2) {
        throw InputError(where + "item '" + item.name + "' has only the category \"" +
                         visible_text(item.categories.front()) + "\"; an item needs at least 2 (a category with no "
                         "observation is given with count 0 in the form name,category,count)");
      }
      const bool numbers = std::all_of(item.categories.begin(), item.categories.end(), [](const std::string& c) {
        return c.size() <= 9 && c.find_first_not_of("0123456789") == std::string::npos;
      });
      if (numbers) {
        std::vector<std::size_t> order(item.counts.size());
        for (std::size_t c = 0; c < order.size(); ++c) order[c] = c;
        std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
          return std::stol(item.categories[x]) < std::stol(item.categories[y]);
        });
        std::vector<std::string> categories;
        std::vector<std::int64_t> counts;
        for (std::size_t c : order) {
          categories.push_back(item.categories[c]);
          counts.push_back(item.counts[c]);
        }
        item.categories = std::move(categories);
        item.counts = std::move(counts);
      }
      for (std::size_t c = 0; c < item.categories.size(); ++c) {
        if (std::string refusal = category_name_refusal(item.categories[c], c); !refusal.empty()) {
          throw InputError(where + "item '" + item.name + "': " + refusal);
        }
      }
      item.concentration.assign(item.counts.size(), 1.0);
    }
  }

  std::string file_name_;
  PositionedCsv csv_;
  bool header_read_ = false;
  std::size_t header_size_ = 0;
  std::vector<std::string> header_names_;
  std::optional<std::size_t> name_, successes_, trials_, outcome_, category_, count_;  // columns
  std::vector<std::unordered_map<std::string, std::size_t>> category_index_;  // per item: category -> index
  std::vector<std::vector<int>> category_lines_;  // per item, each category's first line
  std::unordered_map<std::string, std::size_t> index_;  // item name -> its index
  std::vector<int> lines_;                             // each item's first line
  CsvData data_;
};

}  // namespace

CsvData parse_csv_data(const std::string& file_name, std::string_view content) {
  return CsvReader(file_name).read(content);
}

CsvData read_csv_data(const std::string& file_name) {
  std::ifstream in(file_name, std::ios::binary);
  if (!in) throw InputError(file_name + ": cannot open the CSV file: " + std::strerror(errno));
  std::string content;
  std::vector<char> block(std::size_t{1} << 16);
  while (in && content.size() <= kMaxProblemFileBytes) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    content.append(block.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) throw InputError(file_name + ": cannot read the CSV file: " + std::strerror(errno != 0 ? errno : EIO));
  if (content.size() > kMaxProblemFileBytes) {
    throw InputError(file_name + ": the CSV file is larger than " + std::to_string(kMaxProblemFileBytes >> 20) +
                     " MiB, the largest read");
  }
  return parse_csv_data(file_name, content);
}

}  // namespace propbf::evaluate
