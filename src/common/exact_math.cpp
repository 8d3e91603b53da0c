#include "common/exact_math.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace onpu::exact {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ln 2 = kLn2Hi + kLn2Lo; kLn2Hi has 32 significant bits, so k * kLn2Hi is
// exact for every exponent k a double has.
constexpr double kLn2Hi = 6.93147180369123816490e-01;
constexpr double kLn2Lo = 1.90821492927058770002e-10;
constexpr double kInvLn2 = 1.44269504088896338700e+00;
constexpr double kInvLn10Hi = 4.34294481903251816668e-01;
constexpr double kInvLn10Lo = 1.09831965021676510396e-17;

// pi/2 in four parts; the first three have at most 32 significant bits, so
// n times each is exact while n < 2^21.
constexpr double kPio2_1 = 1.57079632673412561417e+00;
constexpr double kPio2_2 = 6.07710050630396597660e-11;
constexpr double kPio2_3 = 2.02226624871116645580e-21;
constexpr double kPio2_3t = 8.47842766036889956997e-32;
constexpr double kTwoOverPi = 6.36619772367581382433e-01;
constexpr double kReduceLimit = 0x1p20 * 1.57079632679489655800e+00;

// pi = kPi + kPiLo; kPio2 is pi/2 rounded.
constexpr double kPi = 3.14159265358979311600e+00;
constexpr double kPiLo = 1.22464679914735317720e-16;
constexpr double kPio2 = 1.57079632679489655800e+00;

uint64_t bits_of(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

double from_bits(uint64_t bits) {
  double x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

// 2^k for k in the normal range [-1022, 1023].
double power_of_two(int k) { return from_bits(static_cast<uint64_t>(k + 1023) << 52); }

// A value carried as an unevaluated sum hi + lo, |lo| <= ulp(hi) / 2 or so,
// for the steps whose rounding would otherwise cost the last bits.
struct DoubleDouble {
  double hi;
  double lo;
};

DoubleDouble two_sum(double a, double b) {
  double sum = a + b;
  double b_part = sum - a;
  return {sum, (a - (sum - b_part)) + (b - b_part)};
}

// The exact product, by Veltkamp's split into 26-bit halves (no fused
// multiply-add to lean on). |a| and |b| must stay well below 2^996.
DoubleDouble two_prod(double a, double b) {
  constexpr double kSplitter = 134217729.0;  // 2^27 + 1
  double a_big = kSplitter * a, b_big = kSplitter * b;
  double a_hi = a_big - (a_big - a), b_hi = b_big - (b_big - b);
  double a_lo = a - a_hi, b_lo = b - b_hi;
  double product = a * b;
  return {product, ((a_hi * b_hi - product) + a_hi * b_lo + a_lo * b_hi) + a_lo * b_lo};
}

// e^(x + tail) for |tail| at most about ulp(x): k = round(x / ln 2), then
// r = x + tail - k ln 2 in [-ln2/2, ln2/2] and e^r from fdlibm's rational
// form, whose polynomial approximates r (e^r + 1) / (e^r - 1).
double exp_with_tail(double x, double tail) {
  if (x != x) return x;
  if (x > 7.09782712893383973096e+02) return kInfinity;
  if (x < -7.45133219101941108420e+02) return 0.0;
  const int k = static_cast<int>(std::floor(x * kInvLn2 + 0.5));
  const double hi = x - k * kLn2Hi;  // exact
  const double lo = k * kLn2Lo - tail;
  const double r = hi - lo;
  const double z = r * r;
  const double c =
      r -
      z * (1.66666666666666019037e-01 +
           z * (-2.77777777770155933842e-03 +
                z * (6.61375632143793436117e-05 + z * (-1.65339022054652515390e-06 + z * 4.13813679705723846039e-08))));
  const double y = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi);
  // Scaling by a power of two is exact except where the result becomes
  // subnormal, and then the last multiplication is the only rounding.
  if (k > 1023) return y * 2.0 * power_of_two(1023);
  if (k < -1021) return y * power_of_two(k + 1000) * power_of_two(-1000);
  return y * power_of_two(k);
}

// ln x for positive finite x as hi + lo, good to about 2^-63 relative, which
// pow needs because y * ln x magnifies the error of ln x. x = 2^k * m with
// sqrt(2)/2 <= m < sqrt(2), and ln m = 2 atanh(s) = 2 (s + s^3/3 + s^5/5 +
// ...) with s = (m - 1) / (m + 1), |s| < 0.1716.
DoubleDouble log_parts(double x) {
  int k = 0;
  uint64_t bits = bits_of(x);
  if (bits < (uint64_t{1} << 52)) {  // subnormal: scale into the normal range
    bits = bits_of(x * 0x1p54);
    k = -54;
  }
  // Moving the exponent's bias by the bits of sqrt(2)/2 makes a mantissa of
  // sqrt(2) or more carry into the next exponent.
  const uint64_t shifted = bits + ((uint64_t{0x3ff00000} - 0x3fe6a09e) << 32);
  k += static_cast<int>(shifted >> 52) - 1023;
  const double m = from_bits((shifted & ((uint64_t{1} << 52) - 1)) + (uint64_t{0x3fe6a09e} << 32));
  const double f = m - 1.0;  // exact
  const DoubleDouble denominator = two_sum(m, 1.0);
  const double s = f / denominator.hi;
  const DoubleDouble back = two_prod(s, denominator.hi);
  const double s_lo = (((f - back.hi) - back.lo) - s * denominator.lo) / denominator.hi;

  // q = s^2/3 + s^4/5 + ... (the Taylor terms to s^24/25 reach 2^-64), its
  // leading term kept in two parts.
  DoubleDouble square = two_prod(s, s);
  square.lo += 2.0 * s * s_lo;
  const double z = square.hi;
  double series = 1.0 / 25;
  for (int odd = 23; odd >= 5; odd -= 2) series = series * z + 1.0 / odd;
  const double third_hi = square.hi / 3.0;
  const DoubleDouble third_back = two_prod(third_hi, 3.0);
  const double third_lo = ((square.hi - third_back.hi) - third_back.lo + square.lo) / 3.0;
  const double q_lo = third_lo + z * z * series;

  DoubleDouble sq = two_prod(s, third_hi);
  sq.lo += s * q_lo + s_lo * third_hi;
  const DoubleDouble half_log_m = two_sum(s, sq.hi);
  const DoubleDouble sum = two_sum(k * kLn2Hi, 2.0 * half_log_m.hi);
  const double lo = sum.lo + 2.0 * (half_log_m.lo + sq.lo + s_lo) + k * kLn2Lo;
  const double hi = sum.hi + lo;
  return {hi, lo - (hi - sum.hi)};
}

// The logarithm's special values; false when x is positive and finite.
bool log_special(double x, double* result) {
  if (x > 0 && x < kInfinity) return false;
  *result = x == 0 ? -kInfinity : (x > 0 ? x : kNaN);  // NaN stays NaN
  return true;
}

// x = n * pi/2 + y0 + y1 with |y0 + y1| <= about pi/4 (Cody and Waite, pi/2
// in three short parts and a tail); returns n mod 4. Needs |x| < kReduceLimit.
int reduce_by_half_pi(double x, double* y0, double* y1) {
  if (std::fabs(x) <= 0.785398163397448279) {
    *y0 = x;
    *y1 = 0.0;
    return 0;
  }
  const double n = std::floor(x * kTwoOverPi + 0.5);
  const double r = x - n * kPio2_1;  // exact: the two are within a factor 2
  const DoubleDouble second = two_sum(r, -(n * kPio2_2));
  const DoubleDouble third = two_sum(second.hi, -(n * kPio2_3));
  const double tail = (second.lo + third.lo) - n * kPio2_3t;
  *y0 = third.hi + tail;
  *y1 = (third.hi - *y0) + tail;
  return static_cast<int>(n - 4.0 * std::floor(n * 0.25));
}

// sin(x + y) for |x| <= pi/4, |y| tiny beside x; fdlibm's minimax odd
// polynomial with the tail folded in to first order.
double sin_kernel(double x, double y) {
  const double z = x * x;
  const double v = z * x;
  const double r =
      8.33333333332248946124e-03 +
      z * (-1.98412698298579493134e-04 +
           z * (2.75573137070700676789e-06 + z * (-2.50507602534068634195e-08 + z * 1.58969099521155010221e-10)));
  return x - ((z * (0.5 * y - v * r) - y) - v * -1.66666666666666324348e-01);
}

// cos(x + y) for |x| <= pi/4; 1 - x^2/2 is formed so that its rounding is
// recovered, which keeps the result within 1 ulp near pi/4.
double cos_kernel(double x, double y) {
  const double z = x * x;
  const double w = z * z;
  const double r =
      z * (4.16666666666666019037e-02 + z * (-1.38888888888741095749e-03 + z * 2.48015872894767294178e-05)) +
      w * w * (-2.75573143513906633035e-07 + z * (2.08757232129817482790e-09 + z * -1.13596475577881948265e-11));
  const double half_z = 0.5 * z;
  const double one_minus = 1.0 - half_z;
  return one_minus + (((1.0 - one_minus) - half_z) + (z * r - x * y));
}

// atan(x) for x >= 0 (+inf included): the argument is moved next to 0, 1/2,
// 1, 3/2 or infinity by atan's addition formula, then fdlibm's odd
// polynomial finishes the job.
double atan_nonnegative(double x) {
  static constexpr double kAtanHi[] = {4.63647609000806093515e-01, 7.85398163397448278999e-01,
                                       9.82793723247329054082e-01, 1.57079632679489655800e+00};
  static constexpr double kAtanLo[] = {2.26987774529616870924e-17, 3.06161699786838301793e-17,
                                       1.39033110312309984516e-17, 6.12323399573676603587e-17};
  static constexpr double kT[] = {3.33333333333329318027e-01,  -1.99999999998764832476e-01, 1.42857142725034663711e-01,
                                  -1.11111104054623557880e-01, 9.09088713343650656196e-02,  -7.69187620504482999495e-02,
                                  6.66107313738753120669e-02,  -5.83357013379057348645e-02, 4.97687799461593236017e-02,
                                  -3.65315727442169155270e-02, 1.62858201153657823623e-02};
  if (x >= 0x1p66) return kAtanHi[3] + kAtanLo[3];
  int id;
  if (x < 0.4375) {
    if (x < 0x1p-27) return x;
    id = -1;
  } else if (x < 0.6875) {
    id = 0;
    x = (2.0 * x - 1.0) / (2.0 + x);
  } else if (x < 1.1875) {
    id = 1;
    x = (x - 1.0) / (x + 1.0);
  } else if (x < 2.4375) {
    id = 2;
    x = (x - 1.5) / (1.0 + 1.5 * x);
  } else {
    id = 3;
    x = -1.0 / x;
  }
  const double z = x * x;
  const double w = z * z;
  const double even = z * (kT[0] + w * (kT[2] + w * (kT[4] + w * (kT[6] + w * (kT[8] + w * kT[10])))));
  const double odd = w * (kT[1] + w * (kT[3] + w * (kT[5] + w * (kT[7] + w * kT[9]))));
  if (id < 0) return x - x * (even + odd);
  return kAtanHi[id] - ((x * (even + odd) - kAtanLo[id]) - x);
}

}  // namespace

double exp(double x) { return exp_with_tail(x, 0.0); }

double log(double x) {
  double special;
  if (log_special(x, &special)) return special;
  return log_parts(x).hi;
}

double log10(double x) {
  double special;
  if (log_special(x, &special)) return special;
  const DoubleDouble ln = log_parts(x);
  DoubleDouble product = two_prod(ln.hi, kInvLn10Hi);
  product.lo += ln.hi * kInvLn10Lo + ln.lo * kInvLn10Hi;
  return product.hi + product.lo;
}

double pow(double x, double y) {
  if (y == 0 || x == 1) return 1.0;
  if (x != x || y != y) return x + y;
  if (x < 0) {
    if (std::floor(y) != y) return kNaN;  // infinite y counts as even
    const bool odd = std::fabs(y) < 0x1p53 && std::floor(y * 0.5) != y * 0.5;
    const double magnitude = pow(-x, y);
    return odd ? -magnitude : magnitude;
  }
  if (x == 0) return y > 0 ? 0.0 : kInfinity;
  if (x == kInfinity) return y > 0 ? kInfinity : 0.0;
  if (std::fabs(y) == kInfinity) return (x < 1) == (y > 0) ? 0.0 : kInfinity;
  const DoubleDouble ln = log_parts(x);
  // Past this e^(y ln x) is out of range for sure; it also keeps y small
  // enough for the exact product (|ln x| >= 2^-53 when x != 1).
  const double rough = y * ln.hi;
  if (rough > 1000.0) return kInfinity;
  if (rough < -1000.0) return 0.0;
  DoubleDouble exponent = two_prod(y, ln.hi);
  exponent.lo += y * ln.lo;
  return exp_with_tail(exponent.hi, exponent.lo);
}

double sin(double x) {
  if (!(std::fabs(x) < kReduceLimit)) return kNaN;
  double y0, y1;
  switch (reduce_by_half_pi(x, &y0, &y1)) {
    case 0:
      return sin_kernel(y0, y1);
    case 1:
      return cos_kernel(y0, y1);
    case 2:
      return -sin_kernel(y0, y1);
    default:
      return -cos_kernel(y0, y1);
  }
}

double cos(double x) {
  if (!(std::fabs(x) < kReduceLimit)) return kNaN;
  double y0, y1;
  switch (reduce_by_half_pi(x, &y0, &y1)) {
    case 0:
      return cos_kernel(y0, y1);
    case 1:
      return -sin_kernel(y0, y1);
    case 2:
      return -cos_kernel(y0, y1);
    default:
      return sin_kernel(y0, y1);
  }
}

double atan2(double y, double x) {
  if (x != x || y != y) return x + y;
  const bool negative_y = std::signbit(y);
  if (y == 0) {
    if (!std::signbit(x)) return y;
    return negative_y ? -kPi : kPi;
  }
  // The angle of (|x|, |y|); a quotient that overflows (x = 0 too) or
  // underflows still gives the right limit.
  const double ax = std::fabs(x), ay = std::fabs(y);
  double angle = ax == kInfinity && ay == kInfinity ? kPio2 * 0.5 : atan_nonnegative(ay / ax);
  if (x < 0) angle = kPi - (angle - kPiLo);
  return negative_y ? -angle : angle;
}

double cbrt(double x) {
  // t starts from the exponent divided by three (with a bias that balances
  // its error over the mantissas), a polynomial in t^3/x takes it to about
  // 23 bits, and it is cut to 23 bits so that t*t is exact for the last,
  // Halley-like step.
  const uint64_t bits = bits_of(x);
  const uint64_t sign = bits & (uint64_t{1} << 63);
  uint32_t high = static_cast<uint32_t>(bits >> 32) & 0x7fffffff;
  if (high >= 0x7ff00000 || (bits << 1) == 0) return x + x;
  uint32_t bias = 715094163;  // (1023 - 1023/3 - 0.03306235651) * 2^20
  if (high < 0x00100000) {    // subnormal: scale into the normal range first
    high = static_cast<uint32_t>(bits_of(x * 0x1p54) >> 32) & 0x7fffffff;
    bias = 696219795;  // the same less 54/3 * 2^20
  }
  double t = from_bits(sign | uint64_t{high / 3 + bias} << 32);
  double r = (t * t) * (t / x);
  t = t * ((1.87595182427177009643 + r * (-1.88497979543377169875 + r * 1.621429720105354466140)) +
           ((r * r) * r) * (-0.758397934778766047437 + r * 0.145996192886612446982));
  t = from_bits((bits_of(t) + 0x80000000) & 0xffffffffc0000000);
  const double s = t * t;
  r = x / s;
  r = (r - t) / (t + t + r);
  return t + t * r;
}

}  // namespace onpu::exact
