// e^x in x87 extended precision without the library call: a 256-entry
// table of 2^(j/256) in two parts and a degree-6 polynomial on the rest.
// Within 1 ulp of expl and nearly always correctly rounded; arguments
// beyond +-700, infinities and nan go to std::exp.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "base/checked.h"

namespace lumora {

namespace exp_detail {
#include "base/extended_exp_table.inc"
}  // namespace exp_detail

inline long double ExtendedExp(long double x) {
  using namespace exp_detail;
  // Beyond +-700 the scale 2^m below leaves a double's range.
  if (!(std::fabs(x) < 700.0L)) return std::exp(x);
  // k near x * 256 / ln 2, rounded in double precision with the SSE unit:
  // adding 1.5 * 2^52 rounds to an integer without an FPU mode switch. k
  // need not be the nearest integer, only near enough for the polynomial.
  constexpr double kShifter = 0x1.8p52;
  const double k = (static_cast<double>(x) * kSizeOverLn2 + kShifter) - kShifter;
  const auto index = static_cast<int32_t>(k);
  // r = x - k ln2/256 in extended precision, where the high part's 40 bits
  // times k's 18 make an exact product.
  const long double kx = k;
  const long double r = (x - kx * kLn2OverSizeHigh) - kx * kLn2OverSizeLow;
  // e^r - 1; the coefficients past r^2 / 2 need no more than a double's
  // precision, their terms being below 2^-28 of the result.
  constexpr double kThird = 1.0 / 6, kFourth = 1.0 / 24, kFifth = 1.0 / 120, kSixth = 1.0 / 720;
  // Estrin's scheme: the pairs of terms are formed side by side, which
  // shortens the chain of dependent operations Horner's would make.
  const long double r2 = r * r;
  const long double low = 0.5L + r * kThird;
  const long double high = (kFourth + r * kFifth) + r2 * kSixth;
  const long double p = r + r2 * (low + r2 * high);
  static_assert(kExpTableSize == 256, "the shift below divides by the table size");
  const int32_t j = index & (kExpTableSize - 1);
  const int32_t m = index >> 8;  // floor(index / 256): C++20 shifts are arithmetic
  const long double power = kExpTableHigh[j];
  const long double value = power + (power * p + kExpTableLow[j] * (1 + p));
  // 2^m from its bits as a double, exact in the extended product.
  const double scale = std::bit_cast<double>(static_cast<uint64_t>(m + 1023) << 52);
  return value * scale;
}

namespace fp {

// ExtendedExp raising the faults fp::Exp raises.
inline long double TableExp(long double v) {
  const long double r = ExtendedExp(v);
  return IsFinite(r) ? r : detail::ExpFault(v, r);
}

}  // namespace fp

}  // namespace lumora
