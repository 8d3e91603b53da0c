// Elementary functions that give the same bits on every platform.
//
// The star rating decides what a beatmap file contains, and the program is
// built against glibc on Linux and the MinGW-w64 runtime on Windows, whose
// exp, log, pow, sin and friends differ in their last bits. One bit is
// enough to print a different rating, so the same MIDI file would give a
// different file on each system. These functions use nothing but +, -, *, /
// on double, the operations IEEE 754 rounds exactly (sqrt, fabs, floor) and
// integer work on the bits, so a given input gives the same output wherever
// doubles are IEEE binary64 with round-to-nearest: SSE2, not the x87 stack,
// and no fused multiply-add (the sources are built with -ffp-contract=off).
// They are neither faster than the C library's nor correctly rounded; they
// stay within about 1 ulp of the true value where noted.
#pragma once

namespace onpu::exact {

// e^x, within 1 ulp for x in [-745.13, 709.78]. Above that +inf, below it 0;
// results that fall among the subnormals keep as many bits as they have.
// NaN gives NaN.
double exp(double x);

// The natural logarithm, within 1 ulp for every positive x, subnormals
// included. log(+-0) = -inf, log(+inf) = +inf, negative x and NaN give NaN.
double log(double x);

// The base-10 logarithm, with the same domain and special values as log.
double log10(double x);

// x to the power y, within 2 ulp while the result is a normal number, the
// largest results included.
// pow(x, 0) = 1 and pow(1, y) = 1 for every y, NaN included; otherwise NaN
// gives NaN. pow(+-0, y) is 0 for y > 0 and +inf for y < 0; results too large
// are +inf and results too small 0. Negative x with an integral y gives the
// signed result (odd y negative); with any other y, NaN.
double pow(double x, double y);

// Sine and cosine of x radians, within 1 ulp for |x| < 2^20 * pi/2 (about
// 1.6e6), where the reduction by multiples of pi/2 is exact. Larger x,
// infinities and NaN give NaN: no exact reduction is attempted there.
double sin(double x);
double cos(double x);

// The angle of the point (x, y) in radians, in [-pi, pi], within 2 ulp for
// all finite inputs. The sign of a zero y picks the sign of the result:
// atan2(+-0, x >= +0) = +-0, atan2(+-0, x < 0 or -0) = +-pi, and
// atan2(y != 0, +-0) = +-pi/2. Infinities give the limit angle; NaN gives NaN.
double atan2(double y, double x);

// The real cube root, within 1 ulp for every finite x (negative x gives a
// negative root). +-0, +-inf and NaN come back unchanged.
double cbrt(double x);

}  // namespace onpu::exact
