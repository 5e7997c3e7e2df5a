// Machine constants and unit numbers of the numerical library.
//
//   AMACH(I), single precision (IEEE 754 binary32, B = 2, T = 24, EMIN = -125, EMAX = 128):
//     1  0x00800000  2^-126, smallest positive normalised number
//     2  0x7F7FFFFF  largest finite number
//     3  0x33800000  2^-24, smallest relative spacing
//     4  0x34000000  2^-23, largest relative spacing
//     5  0x3E9A209B  log10(2)
//     6  0x7FC00000  quiet NaN
//     7  0x7F800000  +infinity
//     8  0xFF800000  -infinity
//   Any other I: terminal error, code 5, and the result is the quiet NaN.
//
//   IMACH(I): 1 bits per integer (32), 2 characters per integer (4), 3 integer base (2),
//   4 integer digits (31), 5 largest integer (2147483647), 6 floating base (2),
//   7 single digits (24), 8 single EMIN (-125), 9 single EMAX (128), 10 double digits
//   (53), 11 double EMIN (-1021), 12 double EMAX (1024). Any other I: a five-line
//   message on the output unit and a stop.
//
//   UMACH(N, unit): N = 1, 2, 3 reads the input, output and error-message unit
//   (defaults 5, 6, 6) of the calling thread; N = -1, -2, -3 sets it. |N| outside 1..3:
//   a five-line message on the error-message unit and a stop.
#pragma once

#include <cstdint>

#include "machine/tables.hpp"  // the tables themselves, the unit record and its reset

namespace propbf::numlib {

float AMACH(int32_t i);
int32_t IMACH(int32_t i);
void UMACH(int32_t n, int32_t& unit);

}  // namespace propbf::numlib
