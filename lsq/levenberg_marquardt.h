// Levenberg-Marquardt minimiser (Marquardt's scaled form) for up to 8
// parameters and 100 weighted data points. A run takes options, a problem
// (data and callbacks) and an optional iteration log, and returns a summary.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "lsq/iteration_log.h"
#include "lsq/lsq_types.h"

namespace lumora {

inline constexpr int kMaxMinimizerParameters = 8;
inline constexpr int kMaxMinimizerPoints = PointArray::kSize;

// The damping factors, the sum target and the iteration limit.
struct MinimizerOptions {
  long double lambdaStart = 1e-4L;
  long double lambdaMax = 1e14L;
  long double lambdaDown = 0.01L;
  long double lambdaUp = 100;
  long double diagonalWeight = 1;
  long double sumTarget = 1e-15L;
  int iterationLimit = 50;
  // Called before each iteration with its number; it may raise to end the
  // run, which Minimize passes on.
  std::function<void(int iteration)> beforeIteration;
};

// Model value at abscissa x for parameters b into `value` (0 when the call
// leaves it); false marks a failed evaluation: the residual pass stops after
// that point, which still counts. Faults may also be raised.
using ModelFunction =
    std::function<bool(const ParameterVector& b, long double x, long double& value)>;
// Derivatives at data point k (1-based) with respect to parameters 1..n,
// into g; false marks a failed evaluation.
using DerivativeFunction = std::function<bool(int k, const PointArray& x, int n,
                                              const ParameterVector& b, ParameterVector& g)>;

struct MinimizerProblem {
  int pointCount = 0;      // m, 1..100
  PointArray x, y, w;      // abscissae, ordinates, weights of points 1..m
  int parameterCount = 0;  // n, 1..8: b1..bn are fitted
  ModelFunction model;
  DerivativeFunction derivatives;
};

struct MinimizerSummary {
  StopCode stopCode = StopCode::NotStarted;
  long double sum = 0;     // weighted sum of squares at the final parameters
  PointArray covariance;   // inverse normal matrix, (i-1)*n + j
  PointArray modelValues;  // model at points 1..m (set when the run ends normally)
  int iterations = 0;
};

// What the log prints for parameter i (1-based) of a run: names[i - 1], or
// "b<i>" (b3, b4, ...) for a parameter beyond the names given.
using ParameterNames = std::vector<std::string>;

// Runs the minimiser from par; on return b1..bn of par hold the final
// parameters. Refuses n outside 1..8 and m outside 1..100 with an Error
// before any call. With a log, writes the iteration table to it. Faults the
// callbacks raise leave the run and par as it then was.
MinimizerSummary Minimize(const MinimizerOptions& options, const MinimizerProblem& problem,
                          ParameterVector& par, IterationLog* log = nullptr,
                          const ParameterNames& names = {});

// Writes the line of 84 "=" that opens a run's log.
void WriteLogOpening(IterationLog& log);

// Appends the report of a run to the log. For NotStarted, FalseResidual and
// FalseHessian writes the reason and then raises an Error whose message is
// the code's report text. Errors of a parameter without degrees of freedom
// (M <= N, M > 2) print as "undefined", correlations with a zero variance as
// "n/a".
void WriteMinimizerReport(IterationLog& log, StopCode stopCode, int m, int n, long double sum,
                          const ParameterVector& par, const PointArray& covariance,
                          const ParameterNames& names);

// "given sum of squeres was achieved", ... as the report states the code.
std::string StopCodeReportText(StopCode code);
// The results-line text after "fit:" ("sum reached", "OK", ...).
std::string StopCodeResultText(StopCode code);

}  // namespace lumora
