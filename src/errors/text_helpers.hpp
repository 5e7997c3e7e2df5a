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
// IACHAR: character code of `c` (0..255).
int32_t IACHAR(char c);
// E3PRT: the character with code `code`; a negative code gives the character 0.
// Codes above 255 keep their low eight bits.
char E3PRT(int32_t code);
// I1X: first position of `key` in `text`, exact comparison; 0 when absent, when
// `key` is empty or longer than `text`.
int32_t I1X(std::string_view text, std::string_view key);
// I1DX: as I1X, ignoring letter case.
int32_t I1DX(std::string_view text, std::string_view key);
// I1CSTR: -1, 0 or 1 comparing `a` with `b` ignoring letter case, the shorter one
// taken as padded with blanks.
int32_t I1CSTR(std::string_view a, std::string_view b);
// I1ERIF: first position in `text` of a character not in `set`; 0 when every
// character of `text` is in `set`.
int32_t I1ERIF(std::string_view text, std::string_view set);
// M1VE: copies src[sbeg..send] into dst[dbeg..dend] (slen = src.size(),
// dlen = dst.size()), as much as fits, and fills the rest of dst[dbeg..dend] with
// blanks. status: -2 when either range is empty or starts below 1 or the source range
// ends beyond slen (nothing copied); -1 when dend > dlen (nothing copied); otherwise
// 0 minus the number of source characters that did not fit.
void M1VE(std::string_view src, int32_t sbeg, int32_t send, std::span<char> dst, int32_t dbeg,
          int32_t dend, int32_t& status);
// M1VECH: text assignment dst = src, cut or blank-filled to dst's length.
void M1VECH(std::string_view src, std::span<char> dst);

// Writes `value` right-justified into `field` (blank-filled, '-' before the digits
// of a negative value); when sign and digits need more room than the field has, the
// whole field is asterisks.
void integer_field_in_place(int32_t value, std::span<char> field);

// `text` without its trailing blanks.
std::string_view without_trailing_blanks(std::string_view text);

}  // namespace propbf::numlib
