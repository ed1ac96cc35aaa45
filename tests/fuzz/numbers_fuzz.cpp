// The number parser and the formatter: no input crashes them, errors quote
// at most a short piece of the input, and a real printed by FloatToStr reads
// back as a number.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "base/format.h"
#include "base/numparse.h"
#include "tests/fuzz/fuzz_support.h"

using namespace lumora;

namespace {

// Errors carry at most the cut token and their fixed words.
constexpr size_t kLongestMessage = kQuotedTokenLength + 80;

void ParseNumbers(std::string_view text) {
  double real;
  if (TryParseReal(text, real)) {
    double again;
    fuzz::Check(TryParseReal(FloatToStr(real), again), "FloatToStr gives a number");
  }
  long double extended;
  (void)TryParseReal(text, extended);
  int32_t integer;
  (void)TryParseInt(text, integer);
  try {
    (void)StrToFloat(text);
  } catch (const ConvertError& e) {
    fuzz::Check(std::string_view(e.what()).size() <= kLongestMessage, "short number error");
  }
  try {
    (void)StrToInt(text);
  } catch (const ConvertError& e) {
    fuzz::Check(std::string_view(e.what()).size() <= kLongestMessage, "short integer error");
  }
}

void FormatWith(std::string_view format) {
  for (const FormatArg& arg : {FormatArg(-12345), FormatArg(1.0 / 3.0), FormatArg("text")}) {
    try {
      (void)FormatList(format, {arg, arg});
    } catch (const ConvertError& e) {
      fuzz::Check(std::string_view(e.what()).size() <= kLongestMessage, "short format error");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  ParseNumbers(input);
  FormatWith(input);
  double real;
  if (size >= sizeof real) {
    __builtin_memcpy(&real, data, sizeof real);
    (void)FloatToStr(real);
    (void)ExpField(real, 12 + data[0] % 20);
    (void)Format("%.3e %10.4f %g", real, real, real);
  }
  return 0;
}
