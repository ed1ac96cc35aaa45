#include "base/extended_exp.h"

#include <gtest/gtest.h>
#include <quadmath.h>

#include <cmath>
#include <limits>
#include <random>

#include "base/errors.h"

namespace lumora {
namespace {

long double CorrectlyRounded(long double x) { return static_cast<long double>(expq(x)); }

// Distance of a from b in units of b's last place.
long double UlpDistance(long double a, long double b) {
  const long double ulp = std::nextafter(b, std::numeric_limits<long double>::infinity()) - b;
  return std::fabs(a - b) / ulp;
}

// Arguments as the escape factor forms them, -tau / 1000, for optical depths
// from 1e-12 to 1e6, spread evenly over their logarithm and over [0, 30].
std::vector<long double> EscapeArguments(int count) {
  std::mt19937_64 random(20261210);
  std::uniform_real_distribution<double> logTau(-12, 6), linearTau(0, 30000);
  std::vector<long double> args(count);
  for (int i = 0; i < count; ++i) {
    const long double tau = i % 2 ? std::pow(10.0L, logTau(random)) : linearTau(random);
    args[i] = -tau * 0.001L;
  }
  return args;
}

TEST(ExtendedExp, StaysWithinOneUlpOfExplOverTheEscapeFactorsArguments) {
  int correctlyRounded = 0;
  const std::vector<long double> args = EscapeArguments(1000000);
  for (long double x : args) {
    const long double value = ExtendedExp(x);
    ASSERT_LE(UlpDistance(value, std::exp(x)), 1.0L) << static_cast<double>(x);
    correctlyRounded += value == CorrectlyRounded(x);
  }
  // Rounding mistakes need the exact value within about 1/1000 ulp of a
  // half-way point.
  EXPECT_GT(correctlyRounded, 0.999 * args.size());
}

TEST(ExtendedExp, StaysWithinOneUlpOfExplOnBothSidesOfZero) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<long double> anywhere(-699.9L, 699.9L);
  for (int i = 0; i < 200000; ++i) {
    const long double x = anywhere(random);
    ASSERT_LE(UlpDistance(ExtendedExp(x), std::exp(x)), 1.0L) << static_cast<double>(x);
  }
}

TEST(ExtendedExp, TableHoldsTheTwoPartPowersOfTwo) {
  const __float128 ln2 = logq(2);
  for (int j = 0; j < exp_detail::kExpTableSize; ++j) {
    const __float128 exact = expq(ln2 * j / exp_detail::kExpTableSize);
    const __float128 stored =
        static_cast<__float128>(exp_detail::kExpTableHigh[j]) + exp_detail::kExpTableLow[j];
    EXPECT_LT(static_cast<double>(fabsq(stored - exact) / exact), 1e-33) << j;
  }
}

TEST(ExtendedExp, EdgesAndWhatGoesToTheLibrary) {
  const long double inf = std::numeric_limits<long double>::infinity();
  EXPECT_EQ(ExtendedExp(0.0L), 1.0L);
  EXPECT_EQ(ExtendedExp(-0.0L), 1.0L);
  EXPECT_EQ(ExtendedExp(-1e-30L), std::exp(-1e-30L));
  EXPECT_EQ(ExtendedExp(699.99L), CorrectlyRounded(699.99L));
  EXPECT_EQ(ExtendedExp(-699.99L), CorrectlyRounded(-699.99L));
  EXPECT_EQ(ExtendedExp(-5000.0L), std::exp(-5000.0L));
  EXPECT_EQ(ExtendedExp(-inf), 0.0L);
  EXPECT_EQ(ExtendedExp(inf), inf);
  EXPECT_TRUE(std::isnan(ExtendedExp(std::numeric_limits<long double>::quiet_NaN())));
}

TEST(ExtendedExp, CheckedFormRaisesTheFaultsOfExp) {
  EXPECT_THROW(fp::TableExp(12000.0L), OverflowError);
  EXPECT_THROW(fp::TableExp(std::numeric_limits<long double>::quiet_NaN()), InvalidOpError);
  EXPECT_EQ(fp::TableExp(-20000.0L), 0.0L);
}

}  // namespace
}  // namespace lumora
