// Reading restriction matrices and vertex files. libcsv splits the fields; as in the CSV
// data reader (csv_data.cpp), the bytes are handed to the parser in runs that end just
// before each byte that can end a field, and those bytes one at a time, so that every
// field is reported while its place in the file is known.
#include "input/polytope_file.hpp"

#include <csv.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>

#include "messages/messages.hpp"

namespace propbf::evaluate {

namespace {

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

struct Field {
  std::string text;
  SourcePosition at;
};

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

class TableReader {
 public:
  TableReader(const std::string& file_name, const ParameterNames& names, PolytopeForm form, bool keep_text)
      : file_name_(file_name), names_(names), form_(form), keep_text_(keep_text) {}

  PolytopeTable read(std::string_view content) {
    if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);  // a byte order mark
    csv_parser parser{};
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI) != 0) throw std::bad_alloc();
    struct Free {
      csv_parser* parser;
      ~Free() { csv_free(parser); }
    } free_parser{&parser};
    std::size_t at = 0;
    while (at < content.size() && !failure_) {
      std::size_t stop = content.find_first_of(",\"\r\n", at);
      if (stop == at) {
        feed(parser, content.substr(at, 1), content);
        at += 1;
      } else {
        if (stop == std::string_view::npos) stop = content.size();
        feed(parser, content.substr(at, stop - at), content);
        at = stop;
      }
    }
    if (!failure_ && csv_fini(&parser, on_field, on_row, this) != 0) {
      if (csv_error(&parser) == CSV_ENOMEM || csv_error(&parser) == CSV_ETOOBIG) throw std::bad_alloc();
      fail(start_ ? *start_ : here_, "malformed CSV: this quoted field is not closed (expected a '\"' before the end of the file)");
    }
    if (failure_) throw InputError(*failure_);
    if (!header_read_) {
      throw InputError(describe_position(file_name_, {1, 1}) + ": the file is empty; expected a header naming " +
                       (form_ == PolytopeForm::Matrix ? "the parameters and then 'b'" : "the parameters"));
    }
    if (table_.rows() == 0) {
      throw InputError(describe_position(file_name_, here_) + ": the file has no rows after its header; expected " +
                       (form_ == PolytopeForm::Matrix ? "one row per restriction A θ <= b" : "one row per vertex"));
    }
    return std::move(table_);
  }

 private:
  void feed(csv_parser& parser, std::string_view bytes, std::string_view content) {
    if (!start_ && bytes.size() == 1 && (bytes[0] == ',' || bytes[0] == '"')) start_ = here_;
    if (!start_ && bytes[0] != ',' && bytes[0] != '"' && bytes[0] != '\r' && bytes[0] != '\n') {
      const std::size_t first = bytes.find_first_not_of(" \t");
      if (first != std::string_view::npos) start_ = SourcePosition{here_.line, here_.column + static_cast<int>(first)};
    }
    const std::size_t parsed = csv_parse(&parser, bytes.data(), bytes.size(), on_field, on_row, this);
    if (parsed < bytes.size() && !failure_) {
      if (csv_error(&parser) == CSV_ENOMEM || csv_error(&parser) == CSV_ETOOBIG) throw std::bad_alloc();
      advance(bytes.substr(0, parsed), content, bytes.data() - content.data());
      fail(here_, "malformed CSV: a '\"' may only open a field, and a closing '\"' must be followed by ',' or the "
                  "end of the line (write a quote inside a quoted field as \"\")");
      return;
    }
    advance(bytes, content, bytes.data() - content.data());
  }

  void advance(std::string_view bytes, std::string_view content, std::ptrdiff_t offset) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const char c = bytes[i];
      const std::size_t next = static_cast<std::size_t>(offset) + i + 1;
      if (c == '\n' || (c == '\r' && (next >= content.size() || content[next] != '\n'))) {
        ++here_.line;
        here_.column = 1;
      } else if (!continuation(c)) {
        ++here_.column;
      }
    }
  }

  // The fields of the row being read are kept from row to row, their text overwritten,
  // so that a long file allocates nothing per field.
  static void on_field(void* text, std::size_t length, void* self) {
    auto& reader = *static_cast<TableReader*>(self);
    if (reader.failure_) return;
    if (reader.used_ == reader.fields_.size()) reader.fields_.emplace_back();
    Field& field = reader.fields_[reader.used_++];
    field.text.assign(static_cast<const char*>(text), length);
    field.at = reader.start_ ? *reader.start_ : reader.here_;
    reader.start_.reset();
  }

  static void on_row(int, void* self) {
    auto& reader = *static_cast<TableReader*>(self);
    reader.start_.reset();
    if (reader.failure_) return;
    if (!reader.header_read_) {
      reader.header();
    } else {
      reader.row();
    }
    reader.used_ = 0;
  }

  void fail(SourcePosition at, const std::string& message) {
    if (!failure_) failure_ = describe_position(file_name_, at) + ": " + message;
  }

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
    header_size_ = used_;
    std::size_t first = 0;
    if (used_ > 0 && trimmed(fields_[0].text).empty()) first = 1;  // R's row names
    std::size_t last = used_;
    if (form_ == PolytopeForm::Matrix) {
      if (used_ == first || trimmed(fields_[used_ - 1].text) != "b") {
        const SourcePosition at = used_ == 0 ? here_ : fields_[used_ - 1].at;
        return fail(at, "the header's last column must be 'b', the right-hand side of A θ <= b; found " +
                            (used_ == 0 ? std::string("no column") : quoted(fields_[used_ - 1].text)));
      }
      last = used_ - 1;
    }
    first_column_ = first;
    std::vector<int> seen(names_.coordinates(), -1);
    for (std::size_t i = first; i < last; ++i) {
      const std::string name(trimmed(fields_[i].text));
      const std::size_t* coordinate = names_.find(name);
      if (coordinate == nullptr) {
        return fail(fields_[i].at, "the header names '" + visible_text(name) +
                                       "', which is no free parameter of the items; the parameters are " +
                                       expected_names());
      }
      if (seen[*coordinate] >= 0) {
        return fail(fields_[i].at, "the header names parameter '" + names_.names()[*coordinate] + "' twice (as '" +
                                       visible_text(fields_[static_cast<std::size_t>(seen[*coordinate])].text) +
                                       "' and '" + visible_text(name) + "'); give each column once");
      }
      seen[*coordinate] = static_cast<int>(i);
      table_.coordinates.push_back(*coordinate);
      table_.headers.push_back(name);
    }
    if (table_.coordinates.empty()) {
      return fail(used_ == 0 ? here_ : fields_[0].at, "the header names no parameter; expected names such as " +
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
    if (used_ < header_size_) {
      return fail(here_, "this row has " + std::to_string(used_) + " field" + (used_ == 1 ? "" : "s") +
                             " but the header has " + std::to_string(header_size_) + "; expected a value here");
    }
    if (used_ > header_size_) {
      return fail(fields_[header_size_].at, "this row has " + std::to_string(used_) + " fields but the header has " +
                                                std::to_string(header_size_) + "; expected the end of the line");
    }
    if (form_ == PolytopeForm::Vertices && table_.rows() == kMaxVertices) {
      // Refused as soon as it is seen: the rest of the file is not read.
      return fail(fields_[0].at, too_many_vertices(kMaxVertices + 1, true));
    }
    const std::size_t columns = table_.coordinates.size();
    for (std::size_t i = 0; i <= columns; ++i) {
      if (i == columns && form_ != PolytopeForm::Matrix) break;
      const Field& field = fields_[first_column_ + i];
      const std::optional<double> value = number(field.text);
      if (!value) {
        const std::string shown = quoted(field.text);
        return fail(field.at, "expected a finite number for '" + (i == columns ? std::string("b") : table_.headers[i]) +
                                  "', but found " + shown);
      }
      (i == columns ? table_.b : table_.values).push_back(*value);
      if (keep_text_) table_.exact.emplace_back(trimmed(field.text));
    }
    table_.lines.push_back(fields_[0].at.line);
  }

  const std::string& file_name_;
  const ParameterNames& names_;
  PolytopeForm form_;
  bool keep_text_;
  SourcePosition here_{1, 1};
  std::optional<SourcePosition> start_;
  std::vector<Field> fields_;
  std::size_t used_ = 0;  // the fields of the row being read
  std::optional<std::string> failure_;
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
