// Shared types of the least-squares engine: fixed 1-based arrays of extended
// reals for the parameters, the packed symmetric matrix and the data points,
// and the outcome codes of a run.
#pragma once

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

// Parameters b1..b15 of a model. The minimiser changes b1..bn and passes
// the whole vector to the callbacks, so the slots above n carry a model's
// fixed inputs.
using ParameterVector = ExtendedArray<15>;

// Packed lower triangle of a symmetric matrix; entry (i, j), j <= i, lies at
// i(i-1)/2 + j. Holds n <= 8 (36 entries).
using PackedMatrix = ExtendedArray<37>;
inline int PackedIndex(int i, int j) { return j <= i ? i * (i - 1) / 2 + j : j * (j - 1) / 2 + i; }

// Per-point data of the minimiser (abscissae, ordinates, weights, model
// values), and the covariance matrix with entry (i, j) at (i-1)*n + j.
using PointArray = ExtendedArray<100>;

// How a minimiser run ended. The numbers are part of the printed results.
enum class StopCode : int {
  NotStarted = -1,
  SumReached = 0,
  LambdaReached = 1,
  IterationLimitReached = 2,
  FalseResidual = 3,
  FalseHessian = 4,
  ParametersUnchanged = 5,
};

}  // namespace lumora
