#include "base/format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "base/errors.h"

namespace lumora {
namespace {

struct RealCase {
  const char* format;
  double value;
  const char* expected;
};

class RealFormat : public ::testing::TestWithParam<RealCase> {};

TEST_P(RealFormat, GivesTheProgramsText) {
  const auto& c = GetParam();
  EXPECT_EQ(Format(c.format, c.value), c.expected) << c.format << " of " << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Exponent, RealFormat,
    ::testing::Values(
        // precision counts significant digits; E, sign, three exponent digits
        RealCase{"%.3e", 1234.0, "1.23E+003"}, RealCase{"%3.1e", 1e15, "1E+015"},
        RealCase{"%3.1e", 1e16, "1E+016"}, RealCase{"%3.1e", 1e18, "1E+018"},
        RealCase{"%3.1e", 2.5e16, "3E+016"}, RealCase{"%3.1e", 0.0, "0E+000"},
        RealCase{"%.3e", -1234.0, "-1.23E+003"}, RealCase{"%.3e", 1.125, "1.13E+000"},
        RealCase{"%.3e", -1.125, "-1.13E+000"}, RealCase{"%.3e", 9.996, "1.00E+001"},
        RealCase{"%.3e", 1e-5, "1.00E-005"}, RealCase{"%.3e", 1.5e-300, "1.50E-300"},
        RealCase{"%.3e", 1e300, "1.00E+300"}, RealCase{"%.3e", 0.0, "0.00E+000"},
        RealCase{"%.2e", 12345.0, "1.2E+004"}, RealCase{"%.5e", 123456.0, "1.2346E+005"},
        RealCase{"%.12e", 1.0 / 3.0, "3.33333333333E-001"},
        RealCase{"%.12e ", 2.0, "2.00000000000E+000 "},
        RealCase{"%e", 1.0, "1.00000000000000E+000"}, RealCase{"%e", 0.1, "1.00000000000000E-001"},
        RealCase{"%10.4e", 1234.0, "1.234E+003"}, RealCase{"%10.4e", -1234.0, "-1.234E+003"},
        RealCase{"%15.4e", 1234.0, "     1.234E+003"},
        RealCase{"%15.4e", -0.000123, "    -1.230E-004"}, RealCase{"%3.1e", 1e-320, "1E-320"}));

INSTANTIATE_TEST_SUITE_P(
    Fixed, RealFormat,
    ::testing::Values(
        // halves away from zero, both signs
        RealCase{"%.0f", 0.5, "1"}, RealCase{"%.0f", -0.5, "-1"}, RealCase{"%.0f", 1.5, "2"},
        RealCase{"%.0f", 2.5, "3"}, RealCase{"%.0f", -2.5, "-3"}, RealCase{"%.0f", 0.4999, "0"},
        RealCase{"%.0f", -0.4, "0"}, RealCase{"%.0f", 0.0, "0"}, RealCase{"%.0f", -0.0, "0"},
        RealCase{"%.0f", 300.0, "300"}, RealCase{"%.0f", 49999.6, "50000"},
        RealCase{"%.0f", 1e20, "100000000000000000000"}, RealCase{"%.3f", 1.0, "1.000"},
        RealCase{"%.3f", 0.0625, "0.063"}, RealCase{"%.3f", -0.0625, "-0.063"},
        RealCase{"%.3f", 0.0004, "0.000"}, RealCase{"%.4f", 0.03125, "0.0313"},
        RealCase{"%.4f", 9.99996, "10.0000"}, RealCase{"%.6f", 696.5431, "696.543100"},
        RealCase{"%.7f", 11.5483537, "11.5483537"}, RealCase{"%.9f", 1e-10, "0.000000000"},
        RealCase{"%.9f", 1e-300, "0.000000000"},
        // widths right-align and never cut
        RealCase{"%6.3f", 0.5, " 0.500"}, RealCase{"%8.3f", -17.25, " -17.250"},
        RealCase{"%8.5f", 750.3868, "750.38680"}, RealCase{"%5.0f", 1000.0, " 1000"},
        RealCase{"%5.0f", 123456.0, "123456"}, RealCase{"%9.4f", 811.5311, " 811.5311"},
        RealCase{"%11.8f", 14.09, "14.09000000"}, RealCase{"%11.1f", 1.5, "        1.5"},
        RealCase{"%11.0f", 3.0, "          3"}, RealCase{"%7.4f", -0.384, "-0.3840"},
        RealCase{"%12.10f", 13.07571, "13.0757100000"},
        RealCase{"%9.4f/0,", 250.5, " 250.5000/0,"}));

struct IntCase {
  const char* format;
  long long value;
  const char* expected;
};

class IntFormat : public ::testing::TestWithParam<IntCase> {};

TEST_P(IntFormat, GivesTheProgramsText) {
  const auto& c = GetParam();
  EXPECT_EQ(Format(c.format, c.value), c.expected) << c.format << " of " << c.value;
}

INSTANTIATE_TEST_SUITE_P(Integers, IntFormat,
                         ::testing::Values(IntCase{"%d", 50, "50"}, IntCase{"%d", -7, "-7"},
                                           IntCase{"%d", 0, "0"},
                                           IntCase{"%d", -2147483648LL, "-2147483648"},
                                           IntCase{"%.3d", 7, "007"}, IntCase{"%.3d", 1234, "1234"},
                                           IntCase{"%.3d", -5, "-005"}, IntCase{"%.d", 42, "42"},
                                           IntCase{"%.d", -8, "-8"}, IntCase{"%5d", 3, "    3"},
                                           IntCase{"%4d", 12345, "12345"}, IntCase{"%-2d", 5, "5 "},
                                           IntCase{"%-4d|", -1, "-1  |"},
                                           IntCase{"b%d", 13, "b13"}));

struct TextCase {
  const char* format;
  const char* value;
  const char* expected;
};

class TextFormat : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextFormat, GivesTheProgramsText) {
  const auto& c = GetParam();
  EXPECT_EQ(Format(c.format, c.value), c.expected) << c.format << " of " << c.value;
}

INSTANTIATE_TEST_SUITE_P(Texts, TextFormat,
                         ::testing::Values(TextCase{"%s", "Ar", "Ar"},
                                           TextCase{"%12s", "abc", "         abc"},
                                           TextCase{"%-10s|", "ab", "ab        |"},
                                           TextCase{"%4s", "toolong", "toolong"},
                                           TextCase{"%17s", "", "                 "},
                                           TextCase{"%.2s", "abcd", "ab"},
                                           TextCase{"100%%: %s", "x", "100%: x"}));

TEST(FormatList, CombinesMixedArguments) {
  EXPECT_EQ(Format("%-3s%-3s%.5f", "Ar", "I", 750.3868), "Ar I  750.38680");
  EXPECT_EQ(Format("%-3s%-3s%.5f (%d)", "Ar", "II", 250.1, 2), "Ar II 250.10000 (2)");
  EXPECT_EQ(Format("%s - %s_%.0f", "Ar", "I", 2.0), "Ar - I_2");
  EXPECT_EQ(Format("%s %d-%-2d", "band", 0, 1), "band 0-1 ");
  EXPECT_EQ(Format("%.3d|%.6f:%s", 4, 11.548354, " 811.5311/7,"), "004|11.548354: 811.5311/7,");
  EXPECT_EQ(Format("  %-10s %15.4e %15.4e", "b1", 16.5, -0.25),
            "  b1              1.650E+001     -2.500E-001");
  EXPECT_EQ(Format("wavelength %8.5f  -  EBF %6.3f", 750.3868, 0.1234),
            "wavelength 750.38680  -  EBF  0.123");
  EXPECT_EQ(Format("%.3e %.3e %s %5.0f %5.0f %.5e %s  %s", 1e17, 2e15, "x", 1000.0, 0.0, 1e-4,
                   "file", "Fit"),
            "1.00E+017 2.00E+015 x  1000     0 1.0000E-004 file  Fit");
}

TEST(FormatList, ExtendedValuesKeepTheirDigits) {
  long double third = 1.0L / 3.0L;
  EXPECT_EQ(Format("%.18e", third), "3.33333333333333333E-001");
}

TEST(FormatList, WrongOrMissingArgumentsRaiseConvertError) {
  EXPECT_THROW(Format("%d", 1.5), ConvertError);
  EXPECT_THROW(Format("%f", 3), ConvertError);
  EXPECT_THROW(Format("%e", "text"), ConvertError);
  EXPECT_THROW(Format("%s", 2), ConvertError);
  EXPECT_THROW(Format("%d %d", 1), ConvertError);
  EXPECT_THROW(Format("%q", 1), ConvertError);
  EXPECT_THROW(Format("trailing %", 1), ConvertError);
  try {
    Format("%d", 1.5);
  } catch (const ConvertError& e) {
    EXPECT_STREQ(e.what(), "Format '%d' invalid or incompatible with argument");
  }
}

// Widths and precisions are bounded: a count of many digits neither
// overflows nor makes a giant text.
TEST(FormatList, WidthAndPrecisionAreBounded) {
  struct Case {
    const char* format;
    FormatArg arg;
  };
  const std::vector<Case> refused = {
      {"%999999999d", 1}, {"%.999999999d", 1}, {"%2147483648s", "x"}, {"%.99999999999f", 1.5},
      {"%4097e", 1.5},    {"%-4097s", "x"},    {"%.4097g", 1.5},      {"%99999999999999999999d", 1},
  };
  for (const Case& c : refused) {
    try {
      FormatList(c.format, {c.arg});
      ADD_FAILURE() << c.format << ": no error";
    } catch (const ConvertError& e) {
      EXPECT_EQ(std::string(e.what()),
                "Format '" + QuoteToken(c.format) + "' invalid or incompatible with argument");
    }
  }
  EXPECT_EQ(Format("%4096s", "x").size(), 4096u);
  EXPECT_EQ(Format("%.4096f", 0.5).size(), 4098u);
  EXPECT_EQ(Format("%.4096d", 7), std::string(4095, '0') + "7");
}

TEST(FormatList, AnInvalidFormatIsQuotedCutShort) {
  const std::string format = "%q" + std::string(10000, 'y');
  try {
    Format(format, 1);
    FAIL() << "%q is no conversion";
  } catch (const ConvertError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Format '%q" + std::string(58, 'y') + "...' invalid or incompatible with argument");
  }
}

TEST(FormatList, NonFiniteValuesAreShownNotCrashed) {
  EXPECT_EQ(Format("%.3e", std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(Format("%.3f", -std::numeric_limits<double>::infinity()), "-INF");
  EXPECT_EQ(Format("%6.1f", std::nan("")), "   NAN");
}

struct ShortestCase {
  double value;
  const char* expected;
};

class Shortest : public ::testing::TestWithParam<ShortestCase> {};

TEST_P(Shortest, AtMostFifteenSignificantDigits) {
  EXPECT_EQ(FloatToStr(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    FloatToStr, Shortest,
    ::testing::Values(ShortestCase{1e15, "1E15"}, ShortestCase{50000, "50000"},
                      ShortestCase{0.5, "0.5"}, ShortestCase{1.5e-7, "1.5E-7"},
                      ShortestCase{0, "0"}, ShortestCase{-0.0, "0"}, ShortestCase{-2.25, "-2.25"},
                      ShortestCase{0.1, "0.1"}, ShortestCase{1.0 / 3.0, "0.333333333333333"},
                      ShortestCase{2.0 / 3.0, "0.666666666666667"},
                      ShortestCase{123456789012345678.0, "1.23456789012346E17"},
                      ShortestCase{1e14, "100000000000000"}, ShortestCase{0.0001, "0.0001"},
                      ShortestCase{0.00001, "1E-5"}, ShortestCase{750.3868, "750.3868"},
                      ShortestCase{1e-300, "1E-300"}, ShortestCase{999999999999999.9, "1E15"},
                      ShortestCase{1.6605402e-27, "1.6605402E-27"}, ShortestCase{-1e18, "-1E18"}));

// A number in a message: a value of 12 significant digits or fewer keeps
// FloatToStr's text exactly, a longer one is rounded to 12 digits.
class MessageShortest : public ::testing::TestWithParam<ShortestCase> {};

TEST_P(MessageShortest, AtMostTwelveSignificantDigits) {
  EXPECT_EQ(MessageNumber(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    MessageNumber, MessageShortest,
    ::testing::Values(ShortestCase{1e300, "1E300"}, ShortestCase{-1e300, "-1E300"},
                      ShortestCase{1e-320, "9.99988867183E-321"},
                      ShortestCase{-0.1234567890123456789, "-0.123456789012"},
                      ShortestCase{1.0 / 3.0, "0.333333333333"},
                      ShortestCase{2.0 / 3.0, "0.666666666667"},
                      ShortestCase{123456789.123456789, "123456789.123"},
                      ShortestCase{999999999999.9999, "1000000000000"},
                      ShortestCase{-12345678901234.5, "-1.23456789012E13"},
                      ShortestCase{2e14, "200000000000000"},
                      ShortestCase{123456789012345678.0, "1.23456789012E17"},
                      ShortestCase{1e13, "10000000000000"}, ShortestCase{1e15, "1E15"},
                      ShortestCase{50000, "50000"}, ShortestCase{-5, "-5"}, ShortestCase{0, "0"},
                      ShortestCase{0.00001, "1E-5"}, ShortestCase{750.3868, "750.3868"},
                      ShortestCase{std::numeric_limits<double>::quiet_NaN(), "NAN"},
                      ShortestCase{-std::numeric_limits<double>::infinity(), "-INF"}));

struct MessageFixedCase {
  double value;
  int decimals;
  const char* expected;
};

class MessageFixedText : public ::testing::TestWithParam<MessageFixedCase> {};

// "%.Nf"'s text while it has at most 12 significant digits, else the
// message's shortest text.
TEST_P(MessageFixedText, FixedWhileTwelveDigitsOrFewer) {
  const auto& c = GetParam();
  EXPECT_EQ(MessageFixed(c.value, c.decimals), c.expected) << c.value;
}

INSTANTIATE_TEST_SUITE_P(MessageFixed, MessageFixedText,
                         ::testing::Values(MessageFixedCase{750.3869, 4, "750.3869"},
                                           MessageFixedCase{750.38, 4, "750.3800"},
                                           MessageFixedCase{-0.0001, 4, "-0.0001"},
                                           MessageFixedCase{1e-300, 4, "0.0000"},
                                           MessageFixedCase{13.4798868, 7, "13.4798868"},
                                           MessageFixedCase{99999.1234567, 7, "99999.1234567"},
                                           MessageFixedCase{100000.1234567, 7, "100000.123457"},
                                           MessageFixedCase{12345678.5, 4, "12345678.5000"},
                                           MessageFixedCase{1e300, 4, "1E300"},
                                           MessageFixedCase{-1e300, 6, "-1E300"}));

struct ExpFieldCase {
  double value;
  int width;
  const char* expected;
};

class LogExpField : public ::testing::TestWithParam<ExpFieldCase> {};

TEST_P(LogExpField, SignPositionAndFourExponentDigits) {
  const auto& c = GetParam();
  EXPECT_EQ(ExpField(c.value, c.width), c.expected);
  EXPECT_EQ(static_cast<int>(ExpField(c.value, c.width).size()), c.width);
}

INSTANTIATE_TEST_SUITE_P(ExpField, LogExpField,
                         ::testing::Values(ExpFieldCase{1234, 12, " 1.234E+0003"},
                                           ExpFieldCase{-1234, 12, "-1.234E+0003"},
                                           ExpFieldCase{0, 12, " 0.000E+0000"},
                                           ExpFieldCase{1e-5, 15, " 1.000000E-0005"},
                                           ExpFieldCase{99999.5, 12, " 1.000E+0005"},
                                           ExpFieldCase{-2.5e-300, 13, "-2.5000E-0300"}));

// Exact halves round away from zero; values a hair below a half (as most
// decimal texts are in binary) round down. These take the careful path.
INSTANTIATE_TEST_SUITE_P(Halves, LogExpField,
                         ::testing::Values(ExpFieldCase{1.0625, 12, " 1.063E+0000"},
                                           ExpFieldCase{-1.0625, 12, "-1.063E+0000"},
                                           ExpFieldCase{1234.5, 12, " 1.235E+0003"},
                                           ExpFieldCase{0.0009765625, 11, " 9.77E-0004"},
                                           ExpFieldCase{1.2345, 12, " 1.234E+0000"},
                                           ExpFieldCase{1.0000015, 15, " 1.000001E+0000"},
                                           ExpFieldCase{2.0000005, 15, " 2.000001E+0000"}));
INSTANTIATE_TEST_SUITE_P(
    Halves, RealFormat,
    ::testing::Values(RealCase{"%.2e", 0.125, "1.3E-001"}, RealCase{"%.1e", -2.5, "-3E+000"},
                      RealCase{"%.4e", 1.00005, "1.000E+000"},
                      RealCase{"%.3e", 1024.5, "1.02E+003"},
                      RealCase{"%.5e", 1024.5, "1.0245E+003"},
                      RealCase{"%.4e", 1024.5, "1.025E+003"}, RealCase{"%.2f", 0.125, "0.13"},
                      RealCase{"%.2f", 2.675, "2.67"}, RealCase{"%.0f", -0.5, "-1"},
                      RealCase{"%.1f", 0.05, "0.1"},
                      // the map file's format: a half at the 13th digit, a carry
                      // through every digit, the least subnormal
                      RealCase{"%.12e", 123456789012.5, "1.23456789013E+011"},
                      RealCase{"%.12e", -123456789012.5, "-1.23456789013E+011"},
                      RealCase{"%.12e", 999999999999.5, "1.00000000000E+012"},
                      RealCase{"%.12e", 4.9406564584124654e-324, "4.94065645841E-324"},
                      RealCase{"%.16e", 0.1, "1.000000000000000E-001"}));

// The map file's writer appends Format's text without parsing a format.
TEST(AppendScientific, AppendsWhatFormatWrites) {
  const double values[] = {0.0,  -0.0, 1.0 / 3.0, 6.103671557903e-4, 123456789012.5, 1e-320,
                           1e308, -2.5, std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()};
  for (double v : values) {
    std::string text = "x";
    AppendScientific(text, v, 12, 3);
    EXPECT_EQ(text, "x" + Format("%.12e", v)) << v;
  }
}

TEST(FormatLocale, DecimalPointStaysAPointUnderACommaLocale) {
  const char* commaLocales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8"};
  std::string previous = std::setlocale(LC_ALL, nullptr);
  const char* chosen = nullptr;
  for (const char* name : commaLocales)
    if (std::setlocale(LC_ALL, name)) {
      chosen = name;
      break;
    }
  if (!chosen) GTEST_SKIP() << "no locale with a decimal comma is installed";
  EXPECT_EQ(Format("%.3f", 0.5), "0.500");
  EXPECT_EQ(Format("%.3e", 1234.0), "1.23E+003");
  EXPECT_EQ(FloatToStr(0.5), "0.5");
  std::setlocale(LC_ALL, previous.c_str());
}

}  // namespace
}  // namespace lumora
