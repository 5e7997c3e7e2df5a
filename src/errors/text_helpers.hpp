// Small character and text routines of the numerical library, used by the error
// machine and by the unit lookup's error path. Positions are counted from 1 and 0
// means "not found", as everywhere in the library. None of them allocates.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace propbf::numlib {

// ICASE: character code of `c`, with a..z mapped to A..Z.
int32_t ICASE(char c);
// I1DX: first position of `key` in `text`, ignoring letter case; 0 when absent,
// when `key` is empty or longer than `text`.
int32_t I1DX(std::string_view text, std::string_view key);
// M1VECH: text assignment dst = src, cut or blank-filled to dst's length.
void M1VECH(std::string_view src, std::span<char> dst);

// Writes `value` right-justified into `field` (blank-filled, '-' before the digits
// of a negative value); when sign and digits need more room than the field has, the
// whole field is asterisks.
void integer_field_in_place(int32_t value, std::span<char> field);

// `text` without its trailing blanks.
std::string_view without_trailing_blanks(std::string_view text);

}  // namespace propbf::numlib
