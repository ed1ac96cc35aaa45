// Levenberg-Marquardt minimiser (Marquardt's scaled form) for up to 8
// parameters and 100 weighted data points. A run takes options, a problem
// (the observations, their weights and the model that is fitted to them)
// and the start, and returns a summary with the trace of its iterations.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/errors.h"
#include "lsq/iteration_log.h"
#include "lsq/lsq_types.h"

namespace lumora {

// The damping factors, the sum target and the iteration limit.
struct MinimizerOptions {
  long double lambdaStart = 1e-4L;
  long double lambdaMax = 1e14L;
  long double lambdaDown = 0.01L;
  long double lambdaUp = 100;
  long double diagonalWeight = 1;
  long double sumTarget = 1e-15L;
  int iterationLimit = 50;
  // MINPACK's convergence tests, each ending the run as "parameters
  // unchanged" (0 turns a test off; the parameters that do not change at all
  // always end it): after an accepted step, both the actual and the
  // predicted relative reduction of the sum at most ftol, or the step at
  // most xtol of the parameters (both scaled by the normal matrix's
  // diagonal); before a step, the cosine between the residuals and every
  // column of the Jacobian at most gtol. The defaults ask for what double
  // precision model values can give: a few units in their last place.
  long double ftol = 1e-15L;
  long double xtol = 1e-15L;
  long double gtol = 1e-15L;
  // Called before each iteration with its number; it may raise to end the
  // run, which Minimize passes on.
  std::function<void(int iteration)> beforeIteration;
};

// What the minimiser fits: a value per data point that depends on the n
// fitted parameters. Whatever else the values depend on is the model's own.
class FittedModel {
 public:
  virtual ~FittedModel() = default;
  // The value at point k (0-based) into `value`; false marks a failed
  // evaluation: the residual pass stops after that point, which still
  // counts. Faults may also be raised.
  virtual bool Value(const ParameterValues& p, int k, long double& value) = 0;
  // The derivatives of point k's value with respect to each parameter into
  // `gradient` (sized as p, zero on entry); false marks a failed evaluation.
  virtual bool Gradient(const ParameterValues& p, int k, ParameterValues& gradient) = 0;

  // The values of points 0.. into `values` (sized as the points) as Value
  // gives them one by one, up to and with the first that failed; the count
  // evaluated. A model that forms all its points at once answers here in
  // one call.
  virtual int Values(const ParameterValues& p, std::vector<long double>& values,
                     bool& succeeded);
  // The gradients of points 0.. into `gradients` (each sized as p, zero on
  // entry) as Gradient gives them, up to the first that failed; false then.
  virtual bool Gradients(const ParameterValues& p, std::vector<ParameterValues>& gradients);
};

struct MinimizerProblem {
  std::vector<long double> observed;  // the data points, 1 to 100
  std::vector<long double> weights;   // one per point
  FittedModel* model = nullptr;
};

// The parameters and the weighted sum of squares after an iteration; the
// start is iteration 0.
struct IterationRecord {
  int iteration = 0;
  ParameterValues parameters;
  long double sum = 0;
};
using IterationTrace = std::vector<IterationRecord>;

struct MinimizerSummary {
  StopCode stopCode = StopCode::NotStarted;
  long double sum = 0;                   // weighted sum of squares at the final parameters
  ParameterMatrix covariance;            // inverse normal matrix (set when the run ends normally)
  std::vector<long double> modelValues;  // model at each point (likewise)
  int iterations = 0;
  // The test that found the run converged (with ParametersUnchanged).
  ConvergenceTest convergedBy = ConvergenceTest::None;
};

// What the log prints for parameter i (0-based) of a run: names[i], or
// "b<i+1>" (b3, b4, ...) for a parameter beyond the names given.
using ParameterNames = std::vector<std::string>;

// Runs the minimiser from `parameters`; on return they hold the final
// values. Refuses n outside 1..8, m outside 1..100 and weights that do not
// match the points with an Error before any call. With a trace, records the
// start and every iteration that moved the parameters as they happen, so a
// run that raises leaves the trace up to its fault. Faults the model raises
// leave the run and the parameters as they then were.
MinimizerSummary Minimize(const MinimizerOptions& options, const MinimizerProblem& problem,
                          ParameterValues& parameters, IterationTrace* trace = nullptr);

// Writes the line of 84 "=" that opens a run's log.
void WriteLogOpening(IterationLog& log);
// Writes the iteration table of a trace: its header, a rule and a row per
// record; nothing for an empty trace (a run whose first pass failed).
void WriteIterationTable(IterationLog& log, const IterationTrace& trace,
                         const ParameterNames& names);

// Appends the report of a run to the log. For NotStarted, FalseResidual and
// FalseHessian writes the reason and then raises an Error whose message is
// the code's report text. A run that one of the tolerance tests ended names
// that test after the reason. Errors of a parameter without degrees of
// freedom (M <= N, M > 2) print as "undefined", correlations with a zero
// variance as "n/a".
void WriteMinimizerReport(IterationLog& log, StopCode stopCode, int m, long double sum,
                          const ParameterValues& parameters, const ParameterMatrix& covariance,
                          const ParameterNames& names,
                          ConvergenceTest convergedBy = ConvergenceTest::None);
// " (relative reduction of the sum below ftol)", ... for a tolerance test;
// empty for the others.
std::string ConvergenceTestText(ConvergenceTest test);

// "given sum of squeres was achieved", ... as the report states the code.
std::string StopCodeReportText(StopCode code);
// The results-line text after "fit:" ("sum reached", "OK", ...).
std::string StopCodeResultText(StopCode code);
// Whether a run with this code ended without a result.
bool IsFailedRun(StopCode code);

}  // namespace lumora
