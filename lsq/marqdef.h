// Shared types of the least-squares engine: the 1-based parameter vector,
// the packed symmetric matrix, the data arrays and the model callbacks.
#pragma once

#include <functional>

#include "base/errors.h"

namespace lumora {

// A fixed array of N extended reals indexed 1..N; an index outside raises
// RangeError. Index 0 is not part of the array.
template <int N>
struct ExtendedArray {
  static constexpr int kSize = N;
  long double v[N + 1] = {};

  long double& operator[](int i) {
    if (i < 1 || i > N) throw RangeError();
    return v[i];
  }
  long double operator[](int i) const {
    if (i < 1 || i > N) throw RangeError();
    return v[i];
  }
};

// Model parameters b1..b15, or the minimiser's settings.
using vector = ExtendedArray<15>;

// Packed lower triangle of a symmetric matrix; entry (i, j), j <= i, lies at
// i(i-1)/2 + j. Holds n <= 8 (36 entries).
using symmatrix = ExtendedArray<37>;
inline int PackedIndex(int i, int j) { return j <= i ? i * (i - 1) / 2 + j : j * (j - 1) / 2 + i; }

// Data arrays of the minimiser: abscissae, ordinates, weights, model values,
// and the covariance (entry (i, j) at (i-1)*N + j).
using TMarqArray = ExtendedArray<100>;

using MarqSettings = vector;

// Model value at abscissa x. May clear `flag` to signal a failed evaluation.
using TMarqFunc = std::function<long double(int n, const vector& b, bool& flag, long double x)>;

// Derivatives of the model at X[k] with respect to parameters 1..n, into g.
using TMarqDeriv =
    std::function<void(int k, const TMarqArray& x, int n, vector b, vector& g, bool& flag)>;

// Outcome codes of a minimiser run.
enum StopCode : int {
  kNotStarted = -1,
  kSumReached = 0,
  kLambdaReached = 1,
  kIterCountReached = 2,
  kFalseResiduum = 3,
  kFalseHessian = 4,
  kParametersUnchanged = 5,
};

}  // namespace lumora
