// The platform-independent elementary functions: close to the C library's
// over the arguments a star rating meets, and the C library's special values.
#include "common/exact_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace onpu {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kTiny = std::numeric_limits<double>::denorm_min();
constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kPi = 3.141592653589793;

// Distance in representable doubles; +0 and -0 are one apart, two equal
// infinities none.
uint64_t ulps_apart(double a, double b) {
  auto ordered = [](double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits >> 63 ? ~bits : bits | uint64_t{1} << 63;
  };
  const uint64_t oa = ordered(a), ob = ordered(b);
  return oa > ob ? oa - ob : ob - oa;
}

struct Unary {
  const char* name;
  double (*exact)(double);
  double (*reference)(double);
  std::vector<double> args;
};

struct Binary {
  const char* name;
  double (*exact)(double, double);
  double (*reference)(double, double);
  std::vector<std::pair<double, double>> args;
};

TEST(ExactMath, StaysWithinTwoUlpOfTheCLibrary) {
  // clang-format off
  const Unary unary[] = {
      {"exp", exact::exp, [](double x) { return std::exp(x); },
       {-745.1, -708.5, -20.5, -1e-300, 1e-10, 0.34657359, 1, 88.7, 709.78}},
      {"log", exact::log, [](double x) { return std::log(x); },
       {kTiny, 1e-310, 2.2250738585072014e-308, 0.7071067811865476, 1 - 0x1p-53, 1 + 0x1p-52, 1.000001,
        1.4142135623730951, 3, 1e300, kMax}},
      {"log10", exact::log10, [](double x) { return std::log10(x); },
       {1e-320, 0.002, 0.999999, 1e22, 3, 7e15, kMax}},
      {"sin", exact::sin, [](double x) { return std::sin(x); },
       {1e-300, 0.5, 0.7853981633974483, 2, -1.5707963267948966, -4, kPi, 355, -1000.5, 102943.70807357134, 999999.5}},
      {"cos", exact::cos, [](double x) { return std::cos(x); },
       {1e-300, 0.7853981633974483, 1.5707963267948966, 2, -4, -kPi, 355, 4.71238898038469, 102943.70807357134,
        -999999.5}},
      {"cbrt", exact::cbrt, [](double x) { return std::cbrt(x); },
       {-27, 3, 1e-310, -kTiny, -1e300, 0.001, kMax}}};
  const Binary binary[] = {
      {"pow", exact::pow, [](double x, double y) { return std::pow(x, y); },
       {{2, 0.5}, {10, -3}, {1.0000001, 1e9}, {0.5, 1074}, {1e-300, 1.02}, {2, 1023.99}, {7, -2.5}, {0.999, -700000},
        {1e300, 2.3}, {-2, 3}, {-1.5, -20}, {kTiny, 0.5}, {3.5, 1e-300}}},
      {"atan2", exact::atan2, [](double y, double x) { return std::atan2(y, x); },
       {{0.5, 2.02}, {1, -1e-300}, {1e-300, -1}, {-3, -4}, {1e300, 1e-300}, {-1e-320, 5}, {2, 2}, {0.4375, 1},
        {1.2, 1}, {-2.4, -1}, {-2.4375, -1}, {kMax, kTiny}, {-1, 1e-8}}}};
  // clang-format on
  for (const Unary& function : unary) {
    for (double x : function.args) {
      const double got = function.exact(x), want = function.reference(x);
      EXPECT_LE(ulps_apart(got, want), 2u) << function.name << "(" << x << ") = " << got << ", not " << want;
    }
  }
  for (const Binary& function : binary) {
    for (const auto& [a, b] : function.args) {
      const double got = function.exact(a, b), want = function.reference(a, b);
      EXPECT_LE(ulps_apart(got, want), 2u)
          << function.name << "(" << a << ", " << b << ") = " << got << ", not " << want;
    }
  }
}

TEST(ExactMath, SpecialValuesFollowTheCLibrary) {
  struct Case {
    const char* call;
    double got;
    double want;
  };
  // clang-format off
  const Case cases[] = {
      {"exp(NaN)", exact::exp(kNaN), kNaN},          {"exp(710)", exact::exp(710), kInf},
      {"exp(-750)", exact::exp(-750), 0},            {"exp(-inf)", exact::exp(-kInf), 0},
      {"log(0)", exact::log(0), -kInf},              {"log(-0)", exact::log(-0.0), -kInf},
      {"log(-1)", exact::log(-1), kNaN},             {"log(inf)", exact::log(kInf), kInf},
      {"log(1)", exact::log(1), 0},                  {"log10(0)", exact::log10(0), -kInf},
      {"log10(-2)", exact::log10(-2), kNaN},         {"log10(1e-300)", exact::log10(1e-300), -300},
      {"pow(0, 2)", exact::pow(0, 2), 0},            {"pow(0, -1)", exact::pow(0, -1), kInf},
      {"pow(NaN, 0)", exact::pow(kNaN, 0), 1},       {"pow(1, NaN)", exact::pow(1, kNaN), 1},
      {"pow(2, NaN)", exact::pow(2, kNaN), kNaN},    {"pow(-8, 1/3)", exact::pow(-8, 1.0 / 3), kNaN},
      {"pow(-2, 3)", exact::pow(-2, 3), -8},         {"pow(-2, 4)", exact::pow(-2, 4), 16},
      {"pow(10, 400)", exact::pow(10, 400), kInf},   {"pow(10, -400)", exact::pow(10, -400), 0},
      {"pow(2, -1074)", exact::pow(2, -1074), kTiny},
      {"atan2(0, -1)", exact::atan2(0, -1), kPi},    {"atan2(-0, -1)", exact::atan2(-0.0, -1), -kPi},
      {"atan2(0, 0)", exact::atan2(0, 0), 0},        {"atan2(-0, 0)", exact::atan2(-0.0, 0), -0.0},
      {"atan2(0, -0)", exact::atan2(0, -0.0), kPi},  {"atan2(-1, -0)", exact::atan2(-1, -0.0), -kPi / 2},
      {"atan2(inf, -inf)", exact::atan2(kInf, -kInf), 3 * kPi / 4},
      {"atan2(NaN, 1)", exact::atan2(kNaN, 1), kNaN},
      {"sin(-0)", exact::sin(-0.0), -0.0},           {"sin(inf)", exact::sin(kInf), kNaN},
      {"sin(1.7e6)", exact::sin(1.7e6), kNaN},
      {"cos(NaN)", exact::cos(kNaN), kNaN},          {"cos(1e-300)", exact::cos(1e-300), 1},
      {"cbrt(-27)", exact::cbrt(-27), -3},           {"cbrt(-0)", exact::cbrt(-0.0), -0.0},
      {"cbrt(-inf)", exact::cbrt(-kInf), -kInf}};
  // clang-format on
  for (const Case& c : cases) {
    if (std::isnan(c.want)) {
      EXPECT_TRUE(std::isnan(c.got)) << c.call << " = " << c.got;
    } else {
      EXPECT_EQ(ulps_apart(c.got, c.want), 0u) << c.call << " = " << c.got << ", not " << c.want;
    }
  }
}

}  // namespace
}  // namespace onpu
