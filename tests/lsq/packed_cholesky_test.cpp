#include "lsq/packed_cholesky.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace lumora {
namespace {

const long double kNaN = std::numeric_limits<long double>::quiet_NaN();

PackedMatrix Packed(const std::vector<long double>& lower) {
  PackedMatrix a{};
  for (size_t k = 0; k < lower.size(); ++k) a[k] = lower[k];
  return a;
}

struct CholeskyCase {
  std::string name;
  int n;
  std::vector<long double> matrix;  // packed lower triangle, row by row
  std::vector<long double> factor;  // expected L, same layout
  bool ok;
  std::vector<long double> rhs;
  std::vector<long double> solution;
};

class CholeskyTable : public ::testing::TestWithParam<CholeskyCase> {};

TEST_P(CholeskyTable, FactorFlagAndSolution) {
  const CholeskyCase& c = GetParam();
  PackedMatrix a = Packed(c.matrix);
  EXPECT_EQ(CholeskyDecompose(c.n, a), c.ok);
  for (size_t k = 0; k < c.factor.size(); ++k)
    EXPECT_NEAR(a[k], c.factor[k], 1e-18L) << "factor entry " << k;

  ParameterValues b(static_cast<int>(c.rhs.size()));
  for (size_t k = 0; k < c.rhs.size(); ++k) b[static_cast<int>(k)] = c.rhs[k];
  CholeskySolve(c.n, a, b);
  for (size_t k = 0; k < c.solution.size(); ++k)
    EXPECT_NEAR(b[static_cast<int>(k)], c.solution[k], 1e-18L) << "solution entry " << k;
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, CholeskyTable,
    ::testing::Values(
        CholeskyCase{"OneByOne", 1, {4}, {2}, true, {3}, {0.75L}},
        CholeskyCase{"ZeroSecondPivot", 2, {4, 0, 0}, {2, 0, 0}, false, {2, 5}, {0.5L, 0}},
        CholeskyCase{"ExactlySingular", 2, {1, 1, 1}, {1, 1, 0}, false, {3, 7}, {3, 0}},
        CholeskyCase{
            "PositiveDefinite", 2, {4, 2, 3}, {2, 1, std::sqrt(2.0L)}, true, {2, 1}, {0.5L, 0}},
        CholeskyCase{"NegativeFirstPivot", 2, {-1, 0, 4}, {0, 0, 2}, false, {1, 4}, {0, 1}},
        CholeskyCase{"NotANumberPivot", 2, {kNaN, 3, 4}, {0, 0, 2}, false, {1, 4}, {0, 1}},
        // A failed middle pivot leaves nothing to subtract in later columns.
        CholeskyCase{"FailedMiddlePivot",
                     3,
                     {1, 1, 1, 0, 0, 4},
                     {1, 1, 0, 0, 0, 2},
                     false,
                     {1, 2, 8},
                     {1, 0, 2}},
        CholeskyCase{"OrderZeroChangesNothing", 0, {5, 6, 7}, {5, 6, 7}, true, {9}, {9}}),
    [](const auto& info) { return info.param.name; });

// A full 8 x 8 matrix fills the packed triangle: the factor reproduces it
// and the solve inverts it.
TEST(Cholesky, LargestOrderReconstructsAndSolves) {
  constexpr int n = kMaxMinimizerParameters;
  static_assert(kPackedSize == n * (n + 1) / 2);
  PackedMatrix a{};
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) a[PackedIndex(i, j)] = i == j ? 11.0L + i : 1.0L / (i + j + 2);
  EXPECT_EQ(PackedIndex(n - 1, n - 1), kPackedSize - 1);
  EXPECT_EQ(PackedIndex(2, 5), PackedIndex(5, 2));
  const PackedMatrix original = a;
  ASSERT_TRUE(CholeskyDecompose(n, a));

  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) {
      long double s = 0;
      for (int m = 0; m <= j; ++m) s += a[PackedIndex(i, m)] * a[PackedIndex(j, m)];
      EXPECT_NEAR(s, original[PackedIndex(i, j)], 1e-17L) << i << "," << j;
    }

  ParameterValues x(n);
  for (int i = 0; i < n; ++i) x[i] = i + 1;
  ParameterValues b = x;
  CholeskySolve(n, a, b);
  for (int i = 0; i < n; ++i) {
    long double s = 0;
    for (int j = 0; j < n; ++j) s += original[PackedIndex(i, j)] * b[j];
    EXPECT_NEAR(s, x[i], 1e-17L) << "row " << i;
  }
}

}  // namespace
}  // namespace lumora
