#include "base/numparse.h"

#include <charconv>
#include <cmath>

#include "base/errors.h"

namespace lumora {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Checks the shape of a real: [+-] digits [. digits] [(E|e) [+-] digits],
// with at least one digit in the mantissa.
bool IsRealShape(std::string_view s) {
  size_t i = 0, n = s.size();
  if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
  size_t mantissa = 0;
  while (i < n && IsDigit(s[i])) ++i, ++mantissa;
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && IsDigit(s[i])) ++i, ++mantissa;
  }
  if (mantissa == 0) return false;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < n && IsDigit(s[i])) ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  return i == n;
}

// Whether a well-formed real lies below 1 in magnitude (its decimal
// exponent is negative): tells underflow from overflow.
bool IsTiny(std::string_view s) {
  size_t i = (s[0] == '+' || s[0] == '-') ? 1 : 0;
  long long magnitude = 0;  // digits before the point, or minus zeros after it
  bool seenNonZero = false;
  for (; i < s.size() && IsDigit(s[i]); ++i)
    if (seenNonZero || s[i] != '0') seenNonZero = true, ++magnitude;
  if (i < s.size() && s[i] == '.') {
    for (++i; i < s.size() && IsDigit(s[i]) && !seenNonZero; ++i) {
      if (s[i] != '0')
        seenNonZero = true;
      else
        --magnitude;
    }
    while (i < s.size() && IsDigit(s[i])) ++i;
  }
  long long exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool negative = s[i] == '-';
    if (s[i] == '+' || s[i] == '-') ++i;
    for (; i < s.size() && exponent < 1000000000LL; ++i) exponent = exponent * 10 + (s[i] - '0');
    if (negative) exponent = -exponent;
  }
  return magnitude + exponent < 0;
}

template <typename T>
bool ParseReal(std::string_view text, T& value) {
  if (!IsRealShape(text)) return false;
  std::string_view s = text;
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  T v{};
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (end != s.data() + s.size()) return false;
  if (ec == std::errc::result_out_of_range) {
    // Underflow reads as zero; overflow is not a number of this type.
    if (!IsTiny(s)) return false;
    v = 0;
  } else if (ec != std::errc()) {
    return false;
  }
  if (!std::isfinite(v)) return false;
  value = v;
  return true;
}

}  // namespace

bool TryParseReal(std::string_view text, long double& value) { return ParseReal(text, value); }
bool TryParseReal(std::string_view text, double& value) { return ParseReal(text, value); }

bool TryParseInt(std::string_view text, int32_t& value) {
  std::string_view s = text;
  bool neg = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    neg = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return false;
  long long v = 0;
  for (char c : s) {
    if (!IsDigit(c)) return false;
    v = v * 10 + (c - '0');
    if (v > 2147483648LL) return false;
  }
  if (neg) v = -v;
  if (v > 2147483647LL) return false;
  value = static_cast<int32_t>(v);
  return true;
}

std::string Trim(std::string_view text) { return std::string(TrimmedView(text)); }

double StrToFloat(std::string_view text) {
  double v;
  if (!TryParseReal(Trim(text), v))
    throw ConvertError("'" + QuoteToken(text) + "' is not a valid floating point value");
  return v;
}

long double StrToExtended(std::string_view text) {
  long double v;
  if (!TryParseReal(Trim(text), v))
    throw ConvertError("'" + QuoteToken(text) + "' is not a valid floating point value");
  return v;
}

int32_t StrToInt(std::string_view text) {
  int32_t v;
  if (!TryParseInt(Trim(text), v))
    throw ConvertError("'" + QuoteToken(text) + "' is not a valid integer value");
  return v;
}

}  // namespace lumora
