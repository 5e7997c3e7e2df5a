#include <charconv>
#include <cmath>
#include <string>

#include "report/report.hpp"

namespace propbf::evaluate {
namespace {

void field(std::string& out, const std::string& text) {
  const bool quoted = text.find_first_of(",\"\r\n") != std::string::npos ||
                      (!text.empty() && (text.front() == ' ' || text.back() == ' ' || text.front() == '\t' ||
                                         text.back() == '\t'));
  if (!quoted) {
    out += text;
    return;
  }
  out.push_back('"');
  for (const char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

void value(std::string& out, double x) {
  if (std::isnan(x)) {
    out += "NA";
    return;
  }
  char buffer[32];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, x);
  out.append(buffer, error == std::errc() ? end : buffer);
}

}  // namespace

std::string format_samples_csv(const Evaluation& evaluation) {
  std::string out = "hypothesis";
  for (const std::string& column : evaluation.sample_columns) {
    out.push_back(',');
    field(out, column);
  }
  out.push_back('\n');
  const std::size_t width = evaluation.sample_columns.size();
  for (const HypothesisResult& result : evaluation.hypotheses) {
    if (width == 0) break;
    for (std::size_t row = 0; row + width <= result.samples.size(); row += width) {
      field(out, result.name);
      for (std::size_t c = 0; c < width; ++c) {
        out.push_back(',');
        value(out, result.samples[row + c]);
      }
      out.push_back('\n');
    }
  }
  return out;
}

}  // namespace propbf::evaluate
