// Number parsing with "." as the only decimal separator, whatever the locale.
// A text is a number only in full: optional sign, digits with an optional
// ".", an optional exponent "E"/"e" with an optional sign.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumora {

bool TryParseReal(std::string_view text, long double& value);
bool TryParseReal(std::string_view text, double& value);
bool TryParseInt(std::string_view text, int32_t& value);

// As above, but surrounding blanks are allowed (field and settings texts) and
// a failure raises ConvertError "'text' is not a valid floating point value"
// or "'text' is not a valid integer value".
double StrToFloat(std::string_view text);
long double StrToExtended(std::string_view text);
int32_t StrToInt(std::string_view text);

// The text without leading and trailing characters of code 0 to 32.
std::string Trim(std::string_view text);
// The same as a part of `text`, for callers that keep no copy.
inline std::string_view TrimmedView(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32) --e;
  return text.substr(b, e - b);
}

}  // namespace lumora
