// Character and text routines of the numerical library.
#include "errors/text_helpers.hpp"

#include <algorithm>

#include "errors/errors.hpp"

namespace propbf::numlib {

int32_t IACHAR(char c) { return static_cast<unsigned char>(c); }

int32_t ICASE(char c) {
  const int32_t code = IACHAR(c);
  return (code >= 'a' && code <= 'z') ? code - ('a' - 'A') : code;
}

char E3PRT(int32_t code) {
  if (code < 0) return '\0';
  return static_cast<char>(static_cast<unsigned char>(code & 0xFF));
}

namespace {

template <typename Same>
int32_t first_position(std::string_view text, std::string_view key, Same same) {
  if (key.empty() || key.size() > text.size()) return 0;
  const size_t last_start = text.size() - key.size();
  for (size_t start = 0; start <= last_start; ++start) {
    size_t i = 0;
    while (i < key.size() && same(text[start + i], key[i])) ++i;
    if (i == key.size()) return static_cast<int32_t>(start + 1);
  }
  return 0;
}

}  // namespace

int32_t I1X(std::string_view text, std::string_view key) {
  return first_position(text, key, [](char a, char b) { return a == b; });
}

int32_t I1DX(std::string_view text, std::string_view key) {
  return first_position(text, key, [](char a, char b) { return ICASE(a) == ICASE(b); });
}

int32_t I1CSTR(std::string_view a, std::string_view b) {
  const size_t length = std::max(a.size(), b.size());
  for (size_t i = 0; i < length; ++i) {
    const int32_t ca = ICASE(i < a.size() ? a[i] : ' ');
    const int32_t cb = ICASE(i < b.size() ? b[i] : ' ');
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return 0;
}

int32_t I1ERIF(std::string_view text, std::string_view set) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (set.find(text[i]) == std::string_view::npos) return static_cast<int32_t>(i + 1);
  }
  return 0;
}

void M1VE(std::string_view src, int32_t sbeg, int32_t send, std::span<char> dst, int32_t dbeg,
          int32_t dend, int32_t& status) {
  const int64_t slen = static_cast<int64_t>(src.size());
  const int64_t dlen = static_cast<int64_t>(dst.size());
  if (sbeg < 1 || dbeg < 1 || send < sbeg || dend < dbeg || send > slen) {
    status = -2;
    return;
  }
  if (dend > dlen) {
    status = -1;
    return;
  }
  const int64_t source_count = int64_t{send} - sbeg + 1;
  const int64_t room = int64_t{dend} - dbeg + 1;
  const int64_t copied = std::min(source_count, room);
  for (int64_t i = 0; i < copied; ++i) dst[dbeg - 1 + i] = src[sbeg - 1 + i];
  for (int64_t i = copied; i < room; ++i) dst[dbeg - 1 + i] = ' ';
  status = static_cast<int32_t>(-(source_count - copied));
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
