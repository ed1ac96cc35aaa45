#include "base/checked.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace lumora {
namespace {

struct FaultCase {
  const char* what;
  std::function<void()> run;
  const char* message;
};

class ArithmeticFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ArithmeticFaults, RaiseTheRunTimeErrorText) {
  const auto& c = GetParam();
  try {
    c.run();
    FAIL() << c.what << " did not raise";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), c.message) << c.what;
  }
}

constexpr const char* kInvalid = "Invalid floating point operation";
constexpr const char* kZeroDiv = "Floating point division by zero";
constexpr const char* kOverflow = "Floating point overflow";
constexpr const char* kRange = "Range check error";

INSTANTIATE_TEST_SUITE_P(
    Faults, ArithmeticFaults,
    ::testing::Values(FaultCase{"1/0", [] { fp::Div(1, 0); }, kZeroDiv},
                      FaultCase{"0/0", [] { fp::Div(0, 0); }, kInvalid},
                      FaultCase{"huge/tiny", [] { fp::Div(1e4000L, 1e-4000L); }, kOverflow},
                      FaultCase{"sqrt(-1)", [] { fp::Sqrt(-1); }, kInvalid},
                      FaultCase{"ln(0)", [] { fp::Ln(0); }, kZeroDiv},
                      FaultCase{"log10(-1)", [] { fp::Log10(-1); }, kInvalid},
                      FaultCase{"exp(1e6)", [] { fp::Exp(1e6L); }, kOverflow},
                      FaultCase{"10^1e6", [] { fp::Pow10(1e6L); }, kOverflow},
                      FaultCase{"double of 1e400", [] { fp::ToDouble(1e400L); }, kOverflow},
                      FaultCase{"trunc(3e9)", [] { fp::TruncInt32(3e9L); }, kRange},
                      FaultCase{"index -1", [] { CheckIndex(-1, 3); }, kRange},
                      FaultCase{"index 3 of 3", [] { CheckIndex(3, 3u); }, kRange}));

TEST(CheckedArithmetic, UnderflowIsNotAFault) {
  EXPECT_EQ(fp::Exp(-1e6L), 0.0L);
  EXPECT_EQ(fp::Pow10(-1e6L), 0.0L);
  EXPECT_EQ(fp::Div(1e-4000L, 1e4000L), 0.0L);
  EXPECT_EQ(fp::TruncInt32(-2.9L), -2);
  EXPECT_NO_THROW(CheckIndex(2, 3));
}

}  // namespace
}  // namespace lumora
