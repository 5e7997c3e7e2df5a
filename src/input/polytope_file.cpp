// Reading restriction matrices and vertex files, through the CSV reader with places that
// the CSV data reader uses too (positioned_csv.hpp).
#include "input/polytope_file.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>

#include "input/positioned_csv.hpp"
#include "messages/messages.hpp"

namespace propbf::evaluate {

namespace {

using Field = CsvField;

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

class TableReader {
 public:
  TableReader(const std::string& file_name, const ParameterNames& names, PolytopeForm form, bool keep_text)
      : file_name_(file_name), names_(names), form_(form), keep_text_(keep_text), csv_(file_name) {}

  PolytopeTable read(std::string_view content) {
    csv_.read(content, [this](std::span<const CsvField> fields) {
      row_ = fields;
      if (!header_read_) {
        header();
      } else {
        row();
      }
    });
    if (csv_.failure()) throw InputError(*csv_.failure());
    if (!header_read_) {
      throw InputError(describe_position(file_name_, {1, 1}) + ": the file is empty; expected a header naming " +
                       (form_ == PolytopeForm::Matrix ? "the parameters and then 'b'" : "the parameters"));
    }
    if (table_.rows() == 0) {
      throw InputError(describe_position(file_name_, csv_.here()) + ": the file has no rows after its header; expected " +
                       (form_ == PolytopeForm::Matrix ? "one row per restriction A θ <= b" : "one row per vertex"));
    }
    return std::move(table_);
  }

 private:
  void fail(SourcePosition at, const std::string& message) { csv_.fail(at, message); }

  // A field's text quoted for a message (built with +=: g++ 12 warns, wrongly, about the
  // copies of "'" + text + "'").
  static std::string quoted(std::string_view text) {
    if (text.empty()) return "an empty field";
    std::string shown = "'";
    shown += visible_text(text);
    shown += '\'';
    return shown;
  }

  std::string expected_names() const {
    std::string list;
    for (const std::string& name : names_.names()) list += (list.empty() ? "" : ", ") + name;
    return list;
  }

  void header() {
    header_read_ = true;
    header_size_ = row_.size();
    std::size_t first = 0;
    if (row_.size() > 0 && trimmed(row_[0].text).empty()) first = 1;  // R's row names
    std::size_t last = row_.size();
    if (form_ == PolytopeForm::Matrix) {
      if (row_.size() == first || trimmed(row_[row_.size() - 1].text) != "b") {
        const SourcePosition at = row_.size() == 0 ? csv_.here() : row_[row_.size() - 1].at;
        return fail(at, "the header's last column must be 'b', the right-hand side of A θ <= b; found " +
                            (row_.size() == 0 ? std::string("no column") : quoted(row_[row_.size() - 1].text)));
      }
      last = row_.size() - 1;
    }
    first_column_ = first;
    std::vector<int> seen(names_.coordinates(), -1);
    for (std::size_t i = first; i < last; ++i) {
      const std::string name(trimmed(row_[i].text));
      const std::size_t* coordinate = names_.find(name);
      if (coordinate == nullptr) {
        return fail(row_[i].at, "the header names '" + visible_text(name) +
                                       "', which is no free parameter of the items; the parameters are " +
                                       expected_names());
      }
      if (seen[*coordinate] >= 0) {
        return fail(row_[i].at, "the header names parameter '" + names_.names()[*coordinate] + "' twice (as '" +
                                       visible_text(row_[static_cast<std::size_t>(seen[*coordinate])].text) +
                                       "' and '" + visible_text(name) + "'); give each column once");
      }
      seen[*coordinate] = static_cast<int>(i);
      table_.coordinates.push_back(*coordinate);
      table_.headers.push_back(name);
    }
    if (table_.coordinates.empty()) {
      return fail(row_.size() == 0 ? csv_.here() : row_[0].at, "the header names no parameter; expected names such as " +
                                                          (names_.names().empty() ? std::string("a[1]")
                                                                                  : names_.names().front()));
    }
  }

  // A finite decimal number (an optional sign, digits with an optional point, an
  // optional exponent), blanks around it allowed.
  std::optional<double> number(std::string_view text) const {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.find_first_not_of("0123456789.eE+-") != std::string_view::npos) return std::nullopt;
    double value = 0.0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || stop != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
  }

  void row() {
    if (row_.size() < header_size_) {
      return fail(csv_.here(), "this row has " + std::to_string(row_.size()) + " field" + (row_.size() == 1 ? "" : "s") +
                             " but the header has " + std::to_string(header_size_) + "; expected a value here");
    }
    if (row_.size() > header_size_) {
      return fail(row_[header_size_].at, "this row has " + std::to_string(row_.size()) + " fields but the header has " +
                                                std::to_string(header_size_) + "; expected the end of the line");
    }
    if (form_ == PolytopeForm::Vertices && table_.rows() == kMaxVertices) {
      // Refused as soon as it is seen: the rest of the file is not read.
      return fail(row_[0].at, too_many_vertices(kMaxVertices + 1, true));
    }
    const std::size_t columns = table_.coordinates.size();
    for (std::size_t i = 0; i <= columns; ++i) {
      if (i == columns && form_ != PolytopeForm::Matrix) break;
      const Field& field = row_[first_column_ + i];
      const std::optional<double> value = number(field.text);
      if (!value) {
        const std::string shown = quoted(field.text);
        return fail(field.at, "expected a finite number for '" + (i == columns ? std::string("b") : table_.headers[i]) +
                                  "', but found " + shown);
      }
      (i == columns ? table_.b : table_.values).push_back(*value);
      if (keep_text_) table_.exact.emplace_back(trimmed(field.text));
    }
    table_.lines.push_back(row_[0].at.line);
  }

  const std::string& file_name_;
  const ParameterNames& names_;
  PolytopeForm form_;
  bool keep_text_;
  PositionedCsv csv_;
  std::span<const CsvField> row_;  // the fields of the row being read
  bool header_read_ = false;
  std::size_t header_size_ = 0;
  std::size_t first_column_ = 0;
  PolytopeTable table_;
};

}  // namespace

PolytopeTable parse_polytope_table(const std::string& file_name, std::string_view content, const ParameterNames& names,
                                   PolytopeForm form, bool keep_text) {
  return TableReader(file_name, names, form, keep_text).read(content);
}

PolytopeRestrictions read_polytope(const std::string& path, const ParameterNames& names, PolytopeForm form,
                                   std::size_t item_count) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path + ": cannot open the " + (form == PolytopeForm::Matrix ? "matrix" : "vertex") +
                            " file: " + std::strerror(errno));
  std::string content;
  std::vector<char> block(std::size_t{1} << 16);
  while (in && content.size() <= kMaxProblemFileBytes) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    content.append(block.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) throw InputError(path + ": cannot read the file: " + std::strerror(errno != 0 ? errno : EIO));
  if (content.size() > kMaxProblemFileBytes) {
    throw InputError(path + ": the file is larger than " + std::to_string(kMaxProblemFileBytes >> 20) +
                     " MiB, the largest read");
  }
  const PolytopeTable table = parse_polytope_table(path, content, names, form, form == PolytopeForm::Vertices);
  return form == PolytopeForm::Matrix ? matrix_restrictions(path, table, item_count)
                                      : vertex_restrictions(path, table, item_count);
}

}  // namespace propbf::evaluate
