// CSV with places: libcsv splits the fields, and this reader keeps track of where each one
// stands. The bytes are handed to the parser in runs that end just before each byte that
// can end a field (',', '"', CR, LF), and those bytes one at a time, so that every callback
// comes while the parser holds a byte whose place is known. The CSV data reader and the
// matrix and vertex reader share it.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "messages/messages.hpp"

namespace propbf::evaluate {

// A field's text (quotes removed) and the place of its first byte that is not a blank
// (of its opening quote when quoted; of the field's end when it is empty).
struct CsvField {
  std::string text;
  SourcePosition at;
};

class PositionedCsv {
 public:
  explicit PositionedCsv(std::string file_name) : file_name_(std::move(file_name)) {}

  // Reads `content` (a leading byte order mark skipped; libcsv strict) and hands each row
  // to `on_row`, its fields valid until it returns, until the end or the first failure:
  // one that `on_row` recorded with fail(), or malformed CSV (a stray or unclosed quote),
  // recorded here with its place. Throws std::bad_alloc when libcsv runs out of memory.
  void read(std::string_view content, const std::function<void(std::span<const CsvField>)>& on_row);

  // Records a failure at `at` ("FILE:LINE:COLUMN: message"); only the first one is kept.
  void fail(SourcePosition at, const std::string& message);
  const std::optional<std::string>& failure() const { return failure_; }
  // The place of the next byte to be read: after read(), the end of the file.
  SourcePosition here() const { return here_; }
  const std::string& file_name() const { return file_name_; }

 private:
  void feed(void* parser, std::string_view bytes, std::string_view content);
  void advance(std::string_view bytes, std::string_view content, std::ptrdiff_t offset);
  static void on_field(void* text, std::size_t length, void* self);
  static void on_row_end(int, void* self);

  std::string file_name_;
  const std::function<void(std::span<const CsvField>)>* on_row_ = nullptr;
  SourcePosition here_{1, 1};
  std::optional<SourcePosition> start_;  // where the field being read starts
  // The fields of the row being read, kept from row to row with their text overwritten,
  // so that a long file allocates nothing per field.
  std::vector<CsvField> fields_;
  std::size_t used_ = 0;
  std::optional<std::string> failure_;
};

}  // namespace propbf::evaluate
