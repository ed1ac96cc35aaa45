#include "base/numparse.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/errors.h"

namespace lumora {
namespace {

struct ParseCase {
  const char* text;
  bool ok;
  double value;
};

class RealParsing : public ::testing::TestWithParam<ParseCase> {};

TEST_P(RealParsing, WholeTokenWithPointOnly) {
  const auto& c = GetParam();
  double v = -12345;
  EXPECT_EQ(TryParseReal(c.text, v), c.ok) << '"' << c.text << '"';
  if (c.ok)
    EXPECT_DOUBLE_EQ(v, c.value) << c.text;
  else
    EXPECT_EQ(v, -12345) << "a failed parse must leave the value alone";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RealParsing,
    ::testing::Values(
        ParseCase{"1.5", true, 1.5}, ParseCase{"-2", true, -2}, ParseCase{"+3", true, 3},
        ParseCase{"1e3", true, 1000}, ParseCase{"1E3", true, 1000},
        ParseCase{"1.5E-7", true, 1.5e-7}, ParseCase{"2e+2", true, 200}, ParseCase{".5", true, 0.5},
        ParseCase{"5.", true, 5}, ParseCase{"0", true, 0}, ParseCase{"1E15", true, 1e15},
        ParseCase{"1e-400", true, 0}, ParseCase{"", false, 0}, ParseCase{" 1", false, 0},
        ParseCase{"1 ", false, 0}, ParseCase{"1,5", false, 0}, ParseCase{"1.5x", false, 0},
        ParseCase{"e5", false, 0}, ParseCase{"1e", false, 0}, ParseCase{"1e+", false, 0},
        ParseCase{".", false, 0}, ParseCase{"--1", false, 0}, ParseCase{"1.2.3", false, 0},
        ParseCase{"inf", false, 0}, ParseCase{"nan", false, 0}, ParseCase{"0x10", false, 0},
        ParseCase{"1e999", false, 0}, ParseCase{"1d3", false, 0}));

TEST(RealParsing, UnderflowReadsAsZeroButOverflowFails) {
  double v = 1;
  EXPECT_TRUE(TryParseReal("0.000001e-320", v));
  EXPECT_EQ(v, 0);
  // a long mantissa with a negative exponent can still be too large
  EXPECT_FALSE(TryParseReal("1" + std::string(400, '0') + "e-5", v));
  EXPECT_FALSE(TryParseReal("-1e400", v));
}

TEST(RealParsing, ExtendedKeepsItsRange) {
  long double v = 0;
  ASSERT_TRUE(TryParseReal("1e400", v));
  EXPECT_GT(v, 1e399L);
  double d = 0;
  EXPECT_FALSE(TryParseReal("1e400", d));
}

struct IntParseCase {
  const char* text;
  bool ok;
  int32_t value;
};

class IntParsing : public ::testing::TestWithParam<IntParseCase> {};

TEST_P(IntParsing, DecimalInThirtyTwoBits) {
  const auto& c = GetParam();
  int32_t v = -77;
  EXPECT_EQ(TryParseInt(c.text, v), c.ok) << '"' << c.text << '"';
  EXPECT_EQ(v, c.ok ? c.value : -77);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IntParsing,
    ::testing::Values(IntParseCase{"42", true, 42}, IntParseCase{"-1", true, -1},
                      IntParseCase{"+7", true, 7}, IntParseCase{"2147483647", true, 2147483647},
                      IntParseCase{"-2147483648", true, INT32_MIN},
                      IntParseCase{"2147483648", false, 0}, IntParseCase{"99999999999", false, 0},
                      IntParseCase{"1.0", false, 0}, IntParseCase{"1e3", false, 0},
                      IntParseCase{"", false, 0}, IntParseCase{"-", false, 0},
                      IntParseCase{" 5", false, 0}, IntParseCase{"5a", false, 0}));

TEST(StrToNumber, AllowsSurroundingBlanksAndReportsTheText) {
  EXPECT_DOUBLE_EQ(StrToFloat(" 2.5\t"), 2.5);
  EXPECT_EQ(StrToInt("  12 "), 12);
  EXPECT_EQ(StrToExtended("1e4000") > 1e3999L, true);
  try {
    StrToFloat("1,5");
    FAIL() << "1,5 is not a number here";
  } catch (const ConvertError& e) {
    EXPECT_STREQ(e.what(), "'1,5' is not a valid floating point value");
  }
  try {
    StrToInt("abc");
    FAIL() << "abc is not an integer";
  } catch (const ConvertError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
  EXPECT_THROW(StrToFloat("   "), ConvertError);
}

// A bad token of megabytes is quoted by its start only.
TEST(StrToNumber, ErrorsQuoteAtMostSixtyCharactersOfTheText) {
  const std::string huge = std::string(10 * 1000 * 1000, '7') + "x";
  const std::string quoted = "'" + std::string(60, '7') + "...'";
  struct Case {
    std::function<void()> parse;
    std::string message;
  };
  const std::vector<Case> cases = {
      {[&] { StrToFloat(huge); }, quoted + " is not a valid floating point value"},
      {[&] { StrToExtended(huge); }, quoted + " is not a valid floating point value"},
      {[&] { StrToInt(huge); }, quoted + " is not a valid integer value"},
      {[] { StrToInt(std::string(60, 'z')); },
       "'" + std::string(60, 'z') + "' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    try {
      c.parse();
      ADD_FAILURE() << c.message << ": no error";
    } catch (const ConvertError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

TEST(Trim, RemovesControlCharactersAndBlanksAtBothEnds) {
  EXPECT_EQ(Trim("\r\n a b \t"), "a b");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("   "), "");
}

}  // namespace
}  // namespace lumora
