#include "report/json_writer.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace propbf::evaluate {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

void append_ascii(std::string& out, char c) {
  switch (c) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case '\b': out += "\\b"; return;
    case '\t': out += "\\t"; return;
    case '\n': out += "\\n"; return;
    case '\f': out += "\\f"; return;
    case '\r': out += "\\r"; return;
    default: break;
  }
  if (static_cast<unsigned char>(c) < 0x20) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
    out += escape;
  } else {
    out.push_back(c);
  }
}

}  // namespace

void append_json_escaped(std::string& out, std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      append_ascii(out, text[i]);
      ++i;
      continue;
    }
    // The continuation bytes the lead byte needs (RFC 3629: no overlong forms, no
    // surrogates, nothing above U+10FFFF); the first one's range is narrower after
    // E0, ED, F0 and F4.
    std::size_t needed = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      needed = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      needed = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      needed = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    std::size_t length = 1;
    while (length <= needed && i + length < text.size()) {
      const auto next = static_cast<unsigned char>(text[i + length]);
      if (next < (length == 1 ? low : 0x80) || next > (length == 1 ? high : 0xBF)) break;
      ++length;
    }
    if (needed > 0 && length == needed + 1) {
      out.append(text.substr(i, length));
    } else {
      out += kReplacement;  // the byte that broke the sequence (if any) is read again
    }
    i += length;
  }
}

void append_json_number(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  if (std::signbit(value)) {
    out.push_back('-');
    value = -value;
  }
  if (value == 0.0) {
    out += "0.0";
    return;
  }
  // The shortest digits that read back as `value`: d[.ddd]e±x, value = 0.digits * 10^point.
  char buffer[40];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  const std::string_view text(buffer, static_cast<std::size_t>(written.ptr - buffer));
  const std::size_t e = text.find('e');
  std::string digits(1, text[0]);
  if (e > 1) digits.append(text.substr(2, e - 2));
  int exponent = 0;
  std::from_chars(text.data() + e + 2, text.data() + text.size(), exponent);
  if (text[e + 1] == '-') exponent = -exponent;
  const int count = static_cast<int>(digits.size());
  const int point = exponent + 1;
  // Plain notation from 1e-4 up to below 1e15, as printf's %g would choose at 15 digits.
  constexpr int kLowestPoint = -3;
  constexpr int kHighestPoint = 15;
  if (count <= point && point <= kHighestPoint) {
    out += digits;
    out.append(static_cast<std::size_t>(point - count), '0');
    out += ".0";
  } else if (0 < point && point <= kHighestPoint) {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out.push_back('.');
    out.append(digits, static_cast<std::size_t>(point));
  } else if (kLowestPoint <= point && point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else {
    out.push_back(digits[0]);
    if (count > 1) {
      out.push_back('.');
      out.append(digits, 1);
    }
    out.push_back('e');
    out.push_back(exponent < 0 ? '-' : '+');
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) out.push_back('0');
    out += std::to_string(magnitude);
  }
}

JsonWriter& JsonWriter::key(std::string_view name) {
  before_value();
  out_.push_back('"');
  append_json_escaped(out_, name);
  out_ += indent_ >= 0 ? "\": " : "\":";
  after_key_ = true;
  return *this;
}

void JsonWriter::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (counts_.empty()) return;
  if (counts_.back()++ > 0) out_.push_back(',');
  new_line(counts_.size());
}

void JsonWriter::new_line(std::size_t depth) {
  if (indent_ < 0) return;
  out_.push_back('\n');
  out_.append(depth * static_cast<std::size_t>(indent_), ' ');
}

void JsonWriter::open(char bracket) {
  before_value();
  out_.push_back(bracket);
  counts_.push_back(0);
}

void JsonWriter::close(char bracket) {
  const bool empty = counts_.back() == 0;
  counts_.pop_back();
  if (!empty) new_line(counts_.size());
  out_.push_back(bracket);
}

void JsonWriter::string(std::string_view text) {
  before_value();
  out_.push_back('"');
  append_json_escaped(out_, text);
  out_.push_back('"');
}

void JsonWriter::number(double value) {
  before_value();
  append_json_number(out_, value);
}

void JsonWriter::integer(std::int64_t value) {
  before_value();
  out_ += std::to_string(value);
}

void JsonWriter::boolean(bool value) {
  before_value();
  out_ += value ? "true" : "false";
}

void JsonWriter::null() {
  before_value();
  out_ += "null";
}

}  // namespace propbf::evaluate
