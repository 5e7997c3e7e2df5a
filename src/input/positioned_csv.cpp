#include "input/positioned_csv.hpp"

#include <csv.h>

#include <new>

namespace propbf::evaluate {
namespace {

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

void PositionedCsv::read(std::string_view content, const std::function<void(std::span<const CsvField>)>& on_row) {
  on_row_ = &on_row;
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
      feed(&parser, content.substr(at, 1), content);
      at += 1;
    } else {
      if (stop == std::string_view::npos) stop = content.size();
      feed(&parser, content.substr(at, stop - at), content);
      at = stop;
    }
  }
  if (!failure_ && csv_fini(&parser, on_field, on_row_end, this) != 0) {
    if (csv_error(&parser) == CSV_ENOMEM || csv_error(&parser) == CSV_ETOOBIG) throw std::bad_alloc();
    fail(start_ ? *start_ : here_, "malformed CSV: this quoted field is not closed (expected a '\"' before the end of the file)");
  }
}

void PositionedCsv::fail(SourcePosition at, const std::string& message) {
  if (!failure_) failure_ = describe_position(file_name_, at) + ": " + message;
}

// Hands `bytes` (a part of `content`) to the parser, moving the current place over them.
void PositionedCsv::feed(void* csv, std::string_view bytes, std::string_view content) {
  auto* parser = static_cast<csv_parser*>(csv);
  if (!start_ && bytes.size() == 1 && (bytes[0] == ',' || bytes[0] == '"')) start_ = here_;
  if (!start_ && bytes[0] != ',' && bytes[0] != '"' && bytes[0] != '\r' && bytes[0] != '\n') {
    const std::size_t first = bytes.find_first_not_of(" \t");
    if (first != std::string_view::npos) start_ = SourcePosition{here_.line, here_.column + static_cast<int>(first)};
  }
  const std::size_t parsed = csv_parse(parser, bytes.data(), bytes.size(), on_field, on_row_end, this);
  if (parsed < bytes.size() && !failure_) {
    if (csv_error(parser) == CSV_ENOMEM || csv_error(parser) == CSV_ETOOBIG) throw std::bad_alloc();
    advance(bytes.substr(0, parsed), content, bytes.data() - content.data());
    fail(here_, "malformed CSV: a '\"' may only open a field, and a closing '\"' must be followed by ',' or the "
                "end of the line (write a quote inside a quoted field as \"\")");
    return;
  }
  advance(bytes, content, bytes.data() - content.data());
}

void PositionedCsv::advance(std::string_view bytes, std::string_view content, std::ptrdiff_t offset) {
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

void PositionedCsv::on_field(void* text, std::size_t length, void* self) {
  auto& reader = *static_cast<PositionedCsv*>(self);
  if (reader.failure_) return;
  if (reader.used_ == reader.fields_.size()) reader.fields_.emplace_back();
  CsvField& field = reader.fields_[reader.used_++];
  field.text.assign(static_cast<const char*>(text), length);
  field.at = reader.start_ ? *reader.start_ : reader.here_;
  reader.start_.reset();
}

void PositionedCsv::on_row_end(int, void* self) {
  auto& reader = *static_cast<PositionedCsv*>(self);
  reader.start_.reset();
  if (reader.failure_) return;
  (*reader.on_row_)(std::span<const CsvField>(reader.fields_.data(), reader.used_));
  reader.used_ = 0;
}

}  // namespace propbf::evaluate
