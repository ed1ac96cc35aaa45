// Shared types of the least-squares engine: the fitted parameters and the
// small matrices over them (extended reals, 0-based, held without
// allocating), and the outcome codes of a run.
#pragma once

#include <Eigen/Core>

#include <array>

namespace lumora {

inline constexpr int kMaxMinimizerParameters = 8;
inline constexpr int kMaxMinimizerPoints = 100;

// The values of the n fitted parameters, 0-based.
using ParameterValues =
    Eigen::Matrix<long double, Eigen::Dynamic, 1, Eigen::ColMajor, kMaxMinimizerParameters, 1>;
// An n x n matrix over the fitted parameters (the covariance).
using ParameterMatrix = Eigen::Matrix<long double, Eigen::Dynamic, Eigen::Dynamic, Eigen::ColMajor,
                                      kMaxMinimizerParameters, kMaxMinimizerParameters>;

// Packed lower triangle of a symmetric matrix of order n <= 8; entry (i, j),
// j <= i, 0-based, lies at i(i+1)/2 + j.
inline constexpr int kPackedSize = kMaxMinimizerParameters * (kMaxMinimizerParameters + 1) / 2;
using PackedMatrix = std::array<long double, kPackedSize>;
inline int PackedIndex(int i, int j) { return j <= i ? i * (i + 1) / 2 + j : j * (j + 1) / 2 + i; }

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

// Which test found that a run had converged, where one did: the parameters
// did not change at all, or one of MINPACK's tests held (the relative
// reduction of the sum below ftol, the relative step below xtol, the scaled
// gradient below gtol). Each of them ends the run as ParametersUnchanged.
enum class ConvergenceTest : int { None, Unchanged, SumReduction, Step, Gradient };

}  // namespace lumora
