#include "messages/messages.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

namespace propbf::evaluate {

std::string describe_position(const std::string& file_name, SourcePosition position) {
  if (position.line <= 0) return file_name;
  return file_name + ":" + std::to_string(position.line) + ":" + std::to_string(position.column);
}

std::string visible_text(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    char escape[8];
    if (byte == '\n') {
      shown += "\\n";
    } else if (byte == '\r') {
      shown += "\\r";
    } else if (byte == '\t') {
      shown += "\\t";
    } else if (byte < 0x20 || byte == 0x7f) {
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      shown += escape;
    } else if (byte == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(text[++i]));
      shown += escape;
    } else {
      shown.push_back(text[i]);
    }
  }
  return shown;
}

std::string shortest_text(double value) {
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (error != std::errc()) return format_number(value, 17);
  return std::string(buffer, end);
}

std::string format_number(double value, int digits) {
  if (std::isnan(value)) return "NaN";  // whatever its sign bit (0/0 sets it on x86)
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
  return std::string(buffer, result.ptr);
}

namespace {

// Cuts `text` at a byte `at` or before it so that no UTF-8 sequence is split.
std::size_t character_start(std::string_view text, std::size_t at) {
  while (at > 0 && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xc0) == 0x80) --at;
  return at;
}

// A caret line: blanks, then '^' and nothing after it.
bool is_caret_line(std::string_view line) {
  return !line.empty() && line.back() == '^' && line.find_first_not_of(' ') == line.size() - 1;
}

// A line of a message shown whole or shortened (see printable_message).
std::string bounded_line(std::string_view line) {
  // A list at the end of the line: at most kMessageListItems entries.
  if (const std::size_t are = line.rfind(" are "); are != std::string_view::npos) {
    const std::string_view list = line.substr(are + 5);
    std::size_t entries = 1;
    std::size_t cut = std::string_view::npos;  // where the entry after the last one shown starts
    for (std::size_t at = list.find(", "); at != std::string_view::npos; at = list.find(", ", at + 2)) {
      if (++entries == kMessageListItems + 1) cut = at;
    }
    if (cut != std::string_view::npos) {
      std::string shown(line.substr(0, are + 5 + cut));
      shown += " and " + std::to_string(entries - kMessageListItems) + " more";
      if (shown.size() <= kMessageLine) return visible_text(shown);
      return bounded_line(shown);
    }
  }
  if (line.size() <= kMessageLine) return visible_text(line);
  const std::size_t head = character_start(line, kMessageLine / 2);
  const std::size_t tail = character_start(line, line.size() - kMessageLine / 4);
  return visible_text(line.substr(0, head)) + " ... (" + std::to_string(tail - head) + " bytes not shown) ... " +
         visible_text(line.substr(tail));
}

}  // namespace

std::string printable_message(std::string_view message) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0;;) {
    const std::size_t end = message.find('\n', start);
    lines.push_back(message.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  std::string shown;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) shown += '\n';
    const std::string_view line = lines[i];
    if (i + 1 < lines.size() && is_caret_line(lines[i + 1])) {
      // The text and the caret under it: a window around the caret, the caret moved to
      // where its byte is shown.
      // The indent the message gave both lines (blanks the text itself starts with are
      // part of the text, and so of the window).
      constexpr std::size_t kMostIndent = 8;
      const std::size_t indent =
          std::min({lines[i + 1].size() - 1, line.find_first_not_of(' '), line.size(), kMostIndent});
      const std::size_t caret = std::max(indent, std::min(lines[i + 1].size() - 1, line.size()));
      std::size_t from = indent;
      std::size_t to = line.size();
      if (to - from > kMessageWindow) {
        from = character_start(line, std::max(indent, caret > kMessageWindow / 2 ? caret - kMessageWindow / 2 : 0));
        to = std::max(caret, character_start(line, std::min(line.size(), from + kMessageWindow)));
      }
      const std::string before = (from > indent ? "..." : "") + visible_text(line.substr(from, caret - from));
      shown += std::string(line.substr(0, indent)) + before + visible_text(line.substr(caret, to - caret)) +
               (to < line.size() ? "..." : "");
      shown += '\n' + std::string(indent + before.size(), ' ') + "^";
      ++i;
      continue;
    }
    shown += bounded_line(line);
  }
  return shown;
}

}  // namespace propbf::evaluate
