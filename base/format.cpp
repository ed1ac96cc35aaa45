#include "base/format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "base/errors.h"

namespace lumora {
namespace {

// A non-negative finite value as decimal digits: value = 0.d1d2d3... x 10^(point).
struct Decimal {
  std::string digits;  // no leading zeros; empty for zero
  int point = 0;       // position of the decimal point relative to digits
};

// Exact-enough decimal expansion of |v|, 60 significant digits.
Decimal Expand(long double v) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%.59Le", std::fabs(v));
  Decimal d;
  const char* p = buf;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') d.digits.push_back(*p);
  int exp10 = (*p == 'e') ? std::atoi(p + 1) : 0;
  d.point = exp10 + 1;
  size_t nz = d.digits.find_first_not_of('0');
  if (nz == std::string::npos) return Decimal{};
  return d;
}

// Rounds to keep the digits of weight 10^(lowest) and above, halves away
// from zero. The result may be empty (the value rounds to zero).
Decimal RoundAt(Decimal d, int lowest) {
  if (d.digits.empty()) return d;
  int keep = d.point - lowest;  // number of digits kept
  if (keep < 0) return Decimal{};
  if (keep >= static_cast<int>(d.digits.size())) return d;
  bool up = d.digits[keep] >= '5';
  d.digits.resize(keep);
  if (up) {
    int i = keep - 1;
    while (i >= 0 && d.digits[i] == '9') d.digits[i--] = '0';
    if (i >= 0) {
      ++d.digits[i];
    } else {
      d.digits.insert(d.digits.begin(), '1');
      ++d.point;
    }
  }
  size_t last = d.digits.find_last_not_of('0');
  if (last == std::string::npos) return Decimal{};
  d.digits.resize(last + 1);
  return d;
}

// 10^0 .. 10^27: every one is exact in the extended type.
constexpr long double kPow10[] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,
                                  1e7L,  1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L,
                                  1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L, 1e20L,
                                  1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};
constexpr int kMaxExactPow10 = 27;
constexpr int kMaxFastDigits = 18;

// |v| x 10^k with a count of the roundings it took (each at most half an
// extended ulp, as 10^27 and below are exact).
long double Scale(long double v, int k, int& roundings) {
  for (; k > kMaxExactPow10; k -= kMaxExactPow10, ++roundings) v *= kPow10[kMaxExactPow10];
  for (; k < -kMaxExactPow10; k += kMaxExactPow10, ++roundings) v /= kPow10[kMaxExactPow10];
  if (k > 0) {
    v *= kPow10[k];
    ++roundings;
  } else if (k < 0) {
    v /= kPow10[-k];
    ++roundings;
  }
  return v;
}

// The value rounded to sig significant digits, halves away from zero, in
// extended arithmetic. Gives up (false) where the scaled value lies too close
// to a half for its rounding error, and for more digits than it can hold;
// the exact expansion decides those.
bool FastRoundSignificant(long double v, int sig, Decimal& out) {
  if (sig < 1 || sig > kMaxFastDigits) return false;
  v = std::fabs(v);
  if (v == 0) {
    out = Decimal{};
    return true;
  }
  int binaryExp = 0;
  std::frexp(v, &binaryExp);
  int exp10 = static_cast<int>(std::floor((binaryExp - 1) * 0.30102999566398119521L));
  long double s = 0;
  int roundings = 0;
  for (int tries = 0;; ++tries) {
    if (tries == 3) return false;
    roundings = 0;
    s = Scale(v, sig - 1 - exp10, roundings);
    if (s >= kPow10[sig])
      ++exp10;
    else if (s < kPow10[sig - 1])
      --exp10;
    else
      break;
  }
  // Bound of the accumulated relative error, with a wide margin.
  const long double error = s * (roundings + 1) * 0x1p-62L;
  const long double whole = std::floor(s);
  const long double fraction = s - whole;  // exact
  if (std::fabs(fraction - 0.5L) <= error) return false;
  uint64_t n = static_cast<uint64_t>(whole) + (fraction > 0.5L ? 1 : 0);
  int point = exp10 + 1;
  if (n == static_cast<uint64_t>(kPow10[sig])) {
    n /= 10;
    ++point;
  }
  while (n % 10 == 0) n /= 10;
  out.digits = std::to_string(n);
  out.point = point;
  return true;
}

// The value rounded to the given number of decimals, halves away from zero,
// in extended arithmetic; gives up as FastRoundSignificant does.
bool FastRoundDecimals(long double v, int decimals, Decimal& out) {
  if (decimals < 0 || decimals > kMaxExactPow10) return false;
  const long double s = std::fabs(v) * kPow10[decimals];
  if (!(s < kPow10[kMaxFastDigits])) return false;
  const long double error = s * 0x1p-62L;
  const long double whole = std::floor(s);
  const long double fraction = s - whole;  // exact
  if (std::fabs(fraction - 0.5L) <= error) return false;
  uint64_t n = static_cast<uint64_t>(whole) + (fraction > 0.5L ? 1 : 0);
  if (n == 0) {
    out = Decimal{};
    return true;
  }
  out.digits = std::to_string(n);
  out.point = static_cast<int>(out.digits.size()) - decimals;
  while (out.digits.back() == '0') out.digits.pop_back();
  return true;
}

// Rounds to a number of decimals.
Decimal RoundDecimals(long double v, int decimals) {
  Decimal fast;
  if (FastRoundDecimals(v, decimals, fast)) return fast;
  return RoundAt(Expand(v), -decimals);
}

// The value rounded to sig significant digits, halves away from zero, for a
// value a double holds: from its 17 correctly rounded digits, which decide
// every rounding but that of a tail of exactly 5000...; that one (an exact
// half, or within half a unit of the 17th digit of one) gives up.
bool DoubleRoundSignificant(long double v, int sig, Decimal& out) {
  constexpr int kDigits = 17;
  const double d = static_cast<double>(std::fabs(v));
  if (sig < 1 || sig >= kDigits || static_cast<long double>(d) != std::fabs(v) ||
      !std::isfinite(d) || d == 0)
    return false;
  char text[40];
  const auto written =
      std::to_chars(text, text + sizeof text, d, std::chars_format::scientific, kDigits - 1);
  // "d.dddddddddddddddde+XX": the digits, then the exponent after the 'e'.
  if (written.ec != std::errc() || written.ptr - text < kDigits + 3 || text[kDigits + 1] != 'e')
    return false;
  char digits[kDigits + 1];
  digits[0] = '0';  // room for a carry out of the first digit
  digits[1] = text[0];
  std::copy(text + 2, text + kDigits + 1, digits + 2);
  int exp10 = 0;
  const char* exponent = text + kDigits + 2;
  std::from_chars(exponent + (*exponent == '+'), written.ptr, exp10);
  // The tail after `sig` digits against 5000...: only equality is undecided.
  const char* tail = digits + 1 + sig;
  const int tailLength = kDigits - sig;
  int order = tail[0] - '5';
  for (int i = 1; order == 0 && i < tailLength; ++i) order = tail[i] - '0';
  if (order == 0) return false;
  int point = exp10 + 1;
  if (order > 0) {
    int i = sig;
    while (digits[i] == '9') digits[i--] = '0';
    ++digits[i];
  }
  const char* first = digits + 1;
  int length = sig;
  if (digits[0] == '1') {  // 9.99... carried to 10.0...
    first = digits;
    ++length;
    ++point;
  }
  while (first[length - 1] == '0') --length;  // the leading digit is never 0
  out.digits.assign(first, static_cast<size_t>(length));
  out.point = point;
  return true;
}

// Rounds to a number of significant digits.
Decimal RoundSignificant(long double v, int sig) {
  Decimal fast;
  if (DoubleRoundSignificant(v, sig, fast)) return fast;
  if (FastRoundSignificant(v, sig, fast)) return fast;
  Decimal d = Expand(v);
  if (d.digits.empty()) return d;
  return RoundAt(d, d.point - sig);
}

char DigitAt(const Decimal& d, int i) {
  return (i >= 0 && i < static_cast<int>(d.digits.size())) ? d.digits[i] : '0';
}

// "E" is not included: the exponent's sign ("-", or "+" when always_sign)
// and at least min_digits digits.
void AppendExponent(std::string& s, int exp10, int min_digits, bool always_sign) {
  if (exp10 < 0)
    s += '-';
  else if (always_sign)
    s += '+';
  char digits[16];
  int n = 0;
  unsigned magnitude = exp10 < 0 ? -static_cast<unsigned>(exp10) : static_cast<unsigned>(exp10);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  for (int i = n; i < min_digits; ++i) s += '0';
  while (n > 0) s += digits[--n];
}

std::string NonFinite(long double v) {
  if (std::isnan(v)) return "NAN";
  return v < 0 ? "-INF" : "INF";
}

// d.ddd (sig digits) + "E" + exponent of at least min_exp digits.
std::string Scientific(long double v, int sig, int min_exp) {
  std::string s;
  s.reserve(sig + min_exp + 4);
  AppendScientific(s, v, sig, min_exp);
  return s;
}

std::string Fixed(long double v, int decimals) {
  if (!std::isfinite(v)) return NonFinite(v);
  Decimal d = RoundDecimals(v, decimals);
  std::string s = (std::signbit(v) && !d.digits.empty()) ? "-" : "";
  if (d.point <= 0 || d.digits.empty()) {
    s += '0';
  } else {
    for (int i = 0; i < d.point; ++i) s += DigitAt(d, i);
  }
  if (decimals > 0) {
    s += '.';
    for (int i = 0; i < decimals; ++i) s += DigitAt(d, d.point + i);
  }
  return s;
}

// General format with a precision: fixed when the point lies within the
// digits' reach, scientific otherwise; trailing zeros removed.
std::string General(long double v, int precision) {
  if (!std::isfinite(v)) return NonFinite(v);
  Decimal d = RoundSignificant(v, precision);
  if (d.digits.empty()) return "0";
  std::string s = std::signbit(v) ? "-" : "";
  if (d.point > precision || d.point < -3) {
    s += d.digits[0];
    if (d.digits.size() > 1) s += "." + d.digits.substr(1);
    s += 'E';
    AppendExponent(s, d.point - 1, 0, false);
    return s;
  }
  if (d.point <= 0) {
    s += "0." + std::string(-d.point, '0') + d.digits;
  } else {
    for (int i = 0; i < d.point; ++i) s += DigitAt(d, i);
    if (static_cast<int>(d.digits.size()) > d.point) s += "." + d.digits.substr(d.point);
  }
  return s;
}

std::string Pad(std::string s, int width, bool left) {
  if (width > static_cast<int>(s.size())) {
    std::string fill(width - s.size(), ' ');
    s = left ? s + fill : fill + s;
  }
  return s;
}

[[noreturn]] void BadFormat(std::string_view format) {
  throw ConvertError("Format '" + QuoteToken(format) + "' invalid or incompatible with argument");
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Widths and precisions beyond this are no sensible format, and would
// overflow or make texts of gigabytes.
constexpr int kMaxCount = 4096;

// A width or precision at format[i], advancing i past its digits.
int ReadCount(std::string_view format, size_t& i) {
  int count = 0;
  for (; i < format.size() && IsDigit(format[i]); ++i) {
    count = count * 10 + (format[i] - '0');
    if (count > kMaxCount) BadFormat(format);
  }
  return count;
}

// FloatToStr's digits, and the fewer of a number in a message.
constexpr int kFloatToStrDigits = 15;
constexpr int kMessageDigits = 12;

// The digits of a number's text after its leading zeros.
int SignificantDigits(std::string_view text) {
  int count = 0;
  for (char c : text)
    if (IsDigit(c) && (count > 0 || c != '0')) ++count;
  return count;
}

}  // namespace

void AppendScientific(std::string& s, long double v, int sig, int min_exp) {
  if (!std::isfinite(v)) {
    s += NonFinite(v);
    return;
  }
  sig = std::clamp(sig, 1, 18);
  const Decimal d = RoundSignificant(v, sig);
  const int exp10 = d.digits.empty() ? 0 : d.point - 1;
  // Built in place and appended at once: map files write millions.
  char text[48];
  int n = 0;
  if (std::signbit(v) && !d.digits.empty()) text[n++] = '-';
  text[n++] = DigitAt(d, 0);
  if (sig > 1) {
    text[n++] = '.';
    for (int i = 1; i < sig; ++i) text[n++] = DigitAt(d, i);
  }
  text[n++] = 'E';
  s.append(text, static_cast<size_t>(n));
  AppendExponent(s, exp10, min_exp, true);
}

std::string FormatList(std::string_view format, std::initializer_list<FormatArg> args) {
  std::string out;
  auto arg = args.begin();
  size_t i = 0;
  while (i < format.size()) {
    char c = format[i++];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i < format.size() && format[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    bool left = false;
    int width = -1, precision = -1;
    if (i < format.size() && format[i] == '-') {
      left = true;
      ++i;
    }
    if (i < format.size() && IsDigit(format[i])) width = ReadCount(format, i);
    if (i < format.size() && format[i] == '.') precision = ReadCount(format, ++i);
    if (i >= format.size() || arg == args.end()) BadFormat(format);
    char type = static_cast<char>(std::tolower(static_cast<unsigned char>(format[i++])));
    const FormatArg& a = *arg++;
    std::string text;
    switch (type) {
      case 'd':
      case 'u':
      case 'x': {
        if (a.kind() != FormatArg::Kind::Int) BadFormat(format);
        long long v = a.AsInt();
        if (type == 'x') {
          char buf[32];
          std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
          text = buf;
        } else {
          text = std::to_string(v < 0 ? -static_cast<unsigned long long>(v)
                                      : static_cast<unsigned long long>(v));
        }
        if (precision > static_cast<int>(text.size())) text.insert(0, precision - text.size(), '0');
        if (v < 0 && type == 'd') text.insert(0, "-");
        break;
      }
      case 'e':
      case 'f':
      case 'g':
      case 'n': {
        if (a.kind() != FormatArg::Kind::Real) BadFormat(format);
        long double v = a.AsReal();
        if (type == 'e')
          text = Scientific(v, precision < 0 ? 15 : std::min(precision, 18), 3);
        else if (type == 'g')
          text = General(v, precision < 0 ? 15 : std::max(1, std::min(precision, 18)));
        else
          text = Fixed(v, precision < 0 ? 2 : precision);
        break;
      }
      case 's': {
        if (a.kind() != FormatArg::Kind::Text) BadFormat(format);
        text = a.AsText();
        if (precision >= 0 && precision < static_cast<int>(text.size())) text.resize(precision);
        break;
      }
      default:
        BadFormat(format);
    }
    out += Pad(std::move(text), width, left);
  }
  return out;
}

std::string FloatToStr(long double value) { return General(value, kFloatToStrDigits); }

std::string MessageNumber(long double value) {
  // Rounding only what is longer keeps a short value's text as it was,
  // 10000000000000 for 1E13 included.
  const bool longer =
      std::isfinite(value) && RoundSignificant(value, kFloatToStrDigits).digits.size() >
                                  static_cast<size_t>(kMessageDigits);
  return General(value, longer ? kMessageDigits : kFloatToStrDigits);
}

std::string MessageFixed(long double value, int decimals) {
  std::string text = Fixed(value, decimals);
  return SignificantDigits(text) <= kMessageDigits ? text : MessageNumber(value);
}

std::string ExpField(long double value, int width) {
  if (width < 10) width = 10;
  if (!std::isfinite(value)) return Pad(NonFinite(value), width, false);
  int sig = width - 8;
  Decimal d = RoundSignificant(value, sig);
  int exp10 = d.digits.empty() ? 0 : d.point - 1;
  std::string s;
  s.reserve(width + 2);
  s += (std::signbit(value) && !d.digits.empty()) ? '-' : ' ';
  s += DigitAt(d, 0);
  s += '.';
  for (int i = 1; i < sig; ++i) s += DigitAt(d, i);
  s += 'E';
  AppendExponent(s, exp10, 4, true);
  return s;
}

std::vector<std::string> TextLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace lumora
