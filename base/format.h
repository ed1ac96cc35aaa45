// The program's number and text formatting. It differs from C's printf:
//  - "%e": the precision is the number of significant digits (15 when none is
//    given), written d.ddd with an upper-case "E", the exponent's sign and at
//    least three exponent digits ("%.3e" of 1234 is "1.23E+003");
//  - "%f": halves are rounded away from zero;
//  - "%.3d" pads with zeros, "%.d" is a plain integer; a width right-aligns
//    and "-" left-aligns; "%s" takes widths and a precision that cuts.
// The decimal separator is always ".", whatever the locale.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace lumora {

class FormatArg {
 public:
  enum class Kind { Int, Real, Text };

  template <typename T, std::enable_if_t<std::is_integral_v<T>, int> = 0>
  FormatArg(T v) : kind_(Kind::Int), int_(static_cast<long long>(v)) {}
  template <typename T, std::enable_if_t<std::is_floating_point_v<T>, int> = 0>
  FormatArg(T v) : kind_(Kind::Real), real_(static_cast<long double>(v)) {}
  FormatArg(const char* s) : kind_(Kind::Text), text_(s) {}
  FormatArg(std::string s) : kind_(Kind::Text), text_(std::move(s)) {}
  FormatArg(std::string_view s) : kind_(Kind::Text), text_(s) {}

  Kind kind() const { return kind_; }
  long long AsInt() const { return int_; }
  long double AsReal() const { return real_; }
  const std::string& AsText() const { return text_; }

 private:
  Kind kind_;
  long long int_ = 0;
  long double real_ = 0;
  std::string text_;
};

// Formats the arguments by the format string; raises ConvertError when a
// conversion does not fit its argument, an argument is missing, or a width or
// precision exceeds 4096.
std::string FormatList(std::string_view format, std::initializer_list<FormatArg> args);

template <typename... Args>
std::string Format(std::string_view format, const Args&... args) {
  return FormatList(format, {FormatArg(args)...});
}

// Appends Format's "%.<sig>e" text of v (sig significant digits, the
// exponent signed and of at least min_exp digits) to s, without parsing a
// format: for writers of millions of numbers.
void AppendScientific(std::string& s, long double v, int sig, int min_exp);

// Shortest decimal text of a real with at most 15 significant digits:
// 1E15, 50000, 0.5, 1.5E-7.
std::string FloatToStr(long double value);

// A real as a message shows it: a value of 12 significant digits or fewer
// as FloatToStr writes it, a longer one rounded to 12 digits (in the
// exponent form from 1E12 on), so that no value floods a message.
std::string MessageNumber(long double value);
// A real with a fixed number of decimals in a message: "%.Nf"'s text while
// that has at most 12 significant digits, else MessageNumber's, so that a
// value far out of its range does not print hundreds of digits.
std::string MessageFixed(long double value, int decimals);

// Exponent field of the minimiser's log: width w, a sign position (blank or
// "-"), one digit, ".", w - 9 further digits, "E", the exponent's sign and
// four exponent digits; 1234 at width 12 is " 1.234E+0003".
std::string ExpField(long double value, int width);

// The lines of a text without their line ends (LF or CR LF), as a reader of
// the text's file sees them: a last line without an end counts, an end at
// the text's end opens no further line.
std::vector<std::string> TextLines(std::string_view text);

}  // namespace lumora
