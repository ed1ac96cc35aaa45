// Extended-precision arithmetic that raises the run-time fault errors
// instead of producing inf or nan.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "base/errors.h"

namespace lumora::fp {

// Neither infinite nor nan: the one comparison of the fault-free path. v - v
// is 0 for a finite v and nan otherwise; comparing with the largest
// extended value instead would load that 80-bit constant every time.
inline bool IsFinite(long double v) { return v - v == 0; }

// Raises OverflowError for an infinite value and InvalidOpError for nan.
inline long double Check(long double v) {
  if (std::isnan(v)) throw InvalidOpError();
  if (std::isinf(v)) throw OverflowError();
  return v;
}

namespace detail {

// The fault paths, out of line: the operations below stay small enough to
// be inlined into the model's loops, whose results are nearly always finite.
[[noreturn, gnu::cold, gnu::noinline]] void RaiseDoubleFault(long double v, double d);
[[gnu::cold, gnu::noinline]] long double DivFault(long double a, long double b, long double q);
[[gnu::cold, gnu::noinline]] long double ExpFault(long double v, long double r);
[[gnu::cold, gnu::noinline]] long double CheckCold(long double v);

}  // namespace detail

// A double result that must fit a double (storing an extended into a double).
[[gnu::always_inline]] inline double ToDouble(long double v) {
  const double d = static_cast<double>(v);
  if (std::fabs(d) <= std::numeric_limits<double>::max()) return d;
  detail::RaiseDoubleFault(v, d);
}

// Each operation computes first and looks for the fault only when the
// result is not finite: a finite result means there was none.
[[gnu::always_inline]] inline long double Div(long double a, long double b) {
  const long double q = a / b;
  if (b != 0 && IsFinite(q)) return q;
  return detail::DivFault(a, b, q);
}

[[gnu::always_inline]] inline long double Mul(long double a, long double b) {
  const long double r = a * b;
  return IsFinite(r) ? r : detail::CheckCold(r);
}
[[gnu::always_inline]] inline long double Add(long double a, long double b) {
  const long double r = a + b;
  return IsFinite(r) ? r : detail::CheckCold(r);
}
[[gnu::always_inline]] inline long double Sub(long double a, long double b) {
  const long double r = a - b;
  return IsFinite(r) ? r : detail::CheckCold(r);
}

inline long double Sqrt(long double v) {
  if (std::isnan(v) || v < 0) throw InvalidOpError();
  return std::sqrt(v);
}

inline long double Exp(long double v) {
  const long double r = std::exp(v);  // nan for a nan v
  if (IsFinite(r)) return r;
  return detail::ExpFault(v, r);
}

// Natural logarithm: 0 is a division by zero, a negative value invalid.
inline long double Ln(long double v) {
  if (std::isnan(v) || v < 0) throw InvalidOpError();
  if (v == 0) throw ZeroDivideError();
  return Check(std::log(v));
}

inline long double Log10(long double v) {
  if (std::isnan(v) || v < 0) throw InvalidOpError();
  if (v == 0) throw ZeroDivideError();
  return Check(std::log10(v));
}

// 10^v, raising OverflowError when the result is not finite.
inline long double Pow10(long double v) {
  const long double r = std::pow(10.0L, v);  // nan for a nan v
  if (IsFinite(r)) return r;
  return detail::ExpFault(v, r);
}

namespace detail {

inline int32_t TruncInt32InFpu(long double v) {
  if (std::isnan(v) || std::isinf(v)) throw InvalidOpError();
  long double t = std::trunc(v);
  if (t < static_cast<long double>(std::numeric_limits<int32_t>::min()) ||
      t > static_cast<long double>(std::numeric_limits<int32_t>::max()))
    throw RangeError();
  return static_cast<int32_t>(t);
}

}  // namespace detail

// Truncation towards zero into a signed 32-bit integer. Values below 2^31
// in magnitude are read from the bits of the extended value, sparing the
// FPU's rounding-mode switches; the rest (and any unusual encoding) go the
// FPU's way.
inline int32_t TruncInt32(long double v) {
  static_assert(std::numeric_limits<long double>::digits == 64, "x87 extended precision");
  uint64_t mantissa = 0;
  uint16_t signExponent = 0;
  std::memcpy(&mantissa, &v, sizeof mantissa);
  std::memcpy(&signExponent, reinterpret_cast<const char*>(&v) + sizeof mantissa,
              sizeof signExponent);
  constexpr int kBias = 16383;
  const int exponent = signExponent & 0x7fff;
  const bool integerBit = (mantissa >> 63) != 0;
  if (exponent == 0 || (integerBit && exponent < kBias)) return 0;  // |v| < 1
  if (integerBit && exponent - kBias < 31) {
    const auto magnitude = static_cast<int32_t>(mantissa >> (63 - (exponent - kBias)));
    return (signExponent & 0x8000) ? -magnitude : magnitude;
  }
  return detail::TruncInt32InFpu(v);
}

}  // namespace lumora::fp

namespace lumora {

// Index check for arrays: raises RangeError outside 0..size-1.
template <typename Index, typename Size>
inline void CheckIndex(Index i, Size size) {
  if (i < 0 || static_cast<long long>(i) >= static_cast<long long>(size)) throw RangeError();
}

}  // namespace lumora
