// Character and text routines of the numerical library.
#include "errors/text_helpers.hpp"

#include <algorithm>

#include "errors/errors.hpp"

namespace propbf::numlib {

int32_t ICASE(char c) {
  const int32_t code = static_cast<unsigned char>(c);
  return (code >= 'a' && code <= 'z') ? code - ('a' - 'A') : code;
}

int32_t I1DX(std::string_view text, std::string_view key) {
  if (key.empty() || key.size() > text.size()) return 0;
  const size_t last_start = text.size() - key.size();
  for (size_t start = 0; start <= last_start; ++start) {
    size_t i = 0;
    while (i < key.size() && ICASE(text[start + i]) == ICASE(key[i])) ++i;
    if (i == key.size()) return static_cast<int32_t>(start + 1);
  }
  return 0;
}

void M1VECH(std::string_view src, std::span<char> dst) {
  const size_t copied = std::min(src.size(), dst.size());
  std::copy_n(src.data(), copied, dst.data());
  std::fill(dst.begin() + static_cast<std::ptrdiff_t>(copied), dst.end(), ' ');
}

void integer_field_in_place(int32_t value, std::span<char> field) {
  if (field.empty()) return;
  int32_t status = 0;
  C1TIC(value, field, status);
  if (status != 0) std::fill(field.begin(), field.end(), '*');
}

std::string_view without_trailing_blanks(std::string_view text) {
  size_t length = text.size();
  while (length > 0 && text[length - 1] == ' ') --length;
  return text.substr(0, length);
}

}  // namespace propbf::numlib
