#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "fit_harness.h"
#include "lsq/levenberg_marquardt.h"

namespace lumora {
namespace {

using testing::DecayDerivatives;
using testing::DecayModel;
using testing::Fit;
using testing::LineDerivatives;
using testing::LineModel;

const std::vector<long double> kLineX = {0, 1, 2, 3, 4};
const std::vector<long double> kLineY = {1.1L, 2.9L, 5.2L, 6.8L, 9.1L};

Fit NoisyLine(int n = 2) {
  Fit fit;
  for (size_t k = 0; k < kLineX.size(); ++k) fit.Point(kLineX[k], kLineY[k]);
  fit.n = n;
  return fit;
}

// Ordinary least squares of a straight line by its normal equations.
struct LineSolution {
  long double intercept, slope, sum, covII, covIS, covSS;
};
LineSolution SolveLine() {
  long double sx = 0, sy = 0, sxx = 0, sxy = 0;
  const long double m = kLineX.size();
  for (size_t k = 0; k < kLineX.size(); ++k) {
    sx += kLineX[k];
    sy += kLineY[k];
    sxx += kLineX[k] * kLineX[k];
    sxy += kLineX[k] * kLineY[k];
  }
  const long double det = m * sxx - sx * sx;
  LineSolution s{};
  s.slope = (m * sxy - sx * sy) / det;
  s.intercept = (sy - s.slope * sx) / m;
  for (size_t k = 0; k < kLineX.size(); ++k) {
    const long double r = kLineY[k] - s.intercept - s.slope * kLineX[k];
    s.sum += r * r;
  }
  s.covII = sxx / det;
  s.covIS = -sx / det;
  s.covSS = m / det;
  return s;
}

// Near the minimum the sum of squares changes by the square of the parameter
// error, so the parameters settle where that drops below the resolution of
// the sum: about 1e-10 relative.
constexpr long double kSettled = 1e-9L;

TEST(Marquardt, StraightLineMatchesClosedForm) {
  Fit fit = NoisyLine();
  fit.Run(LineModel, LineDerivatives);
  const LineSolution s = SolveLine();

  EXPECT_EQ(fit.result.stopCode, StopCode::ParametersUnchanged);
  EXPECT_NEAR(fit.par[0], s.intercept, kSettled);
  EXPECT_NEAR(fit.par[1], s.slope, kSettled);
  EXPECT_NEAR(fit.result.sum, s.sum, 1e-17L);
  EXPECT_NEAR(fit.Cov(0, 0), s.covII, 1e-15L);
  EXPECT_NEAR(fit.Cov(0, 1), s.covIS, 1e-15L);
  EXPECT_NEAR(fit.Cov(1, 0), s.covIS, 1e-15L);
  EXPECT_NEAR(fit.Cov(1, 1), s.covSS, 1e-15L);
  ASSERT_EQ(fit.result.modelValues.size(), kLineX.size());
  for (int k = 0; k < fit.m; ++k)
    EXPECT_NEAR(fit.result.modelValues[k], s.intercept + s.slope * fit.x[k], kSettled);
}

TEST(Marquardt, ExponentialDecayFromDistantStart) {
  Fit fit;
  for (int k = 0; k < 10; ++k) fit.Point(k, 3 * std::exp(-0.5L * k));
  fit.n = 2;
  fit.par[0] = 1;
  fit.par[1] = 0.1L;
  fit.Run(DecayModel, DecayDerivatives);

  EXPECT_EQ(fit.result.stopCode, StopCode::SumReached);
  EXPECT_NEAR(fit.par[0], 3, 1e-7L);
  EXPECT_NEAR(fit.par[1], 0.5L, 1e-7L);
  EXPECT_LE(fit.result.sum, 1e-15L);
  // The model sees the fitted parameters and nothing else.
  EXPECT_EQ(fit.wrongSizes, 0);
  EXPECT_EQ(fit.result.covariance.rows(), 2);
  EXPECT_EQ(fit.result.covariance.cols(), 2);
}

// Exact straight-line data from (0, 0): the first step leaves a sum of about
// 1e-10 and lambda 1e-6, the second one a sum below 1e-15.
struct LimitCase {
  std::string name;
  int limit;
  long double lambdaMax;
  StopCode code;
  int iterations;
  long double sumTarget = MinimizerOptions{}.sumTarget;
};

class StopTests : public ::testing::TestWithParam<LimitCase> {};

TEST_P(StopTests, CodeAndIterationCount) {
  const LimitCase& c = GetParam();
  Fit fit;
  for (int k = 0; k < 4; ++k) fit.Point(k, 1 + 2 * k);
  fit.n = 2;
  fit.options.iterationLimit = c.limit;
  fit.options.lambdaMax = c.lambdaMax;
  fit.options.sumTarget = c.sumTarget;
  fit.Run(LineModel, LineDerivatives);
  EXPECT_EQ(fit.result.stopCode, c.code);
  EXPECT_EQ(fit.Iterations(), c.iterations);
  EXPECT_EQ(fit.result.iterations, c.iterations);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, StopTests,
    ::testing::Values(
        LimitCase{"LimitZeroNeverCounts", 0, 1e14L, StopCode::SumReached, 2},
        LimitCase{"NegativeLimitNeverCounts", -1, 1e14L, StopCode::SumReached, 2},
        LimitCase{"LimitOneStopsAfterFirstStep", 1, 1e14L, StopCode::IterationLimitReached, 1},
        LimitCase{"CountIsTestedAfterSum", 2, 1e14L, StopCode::IterationLimitReached, 2},
        LimitCase{"LambdaMaxReached", 50, 1e-7L, StopCode::LambdaReached, 1},
        // Sum and lambda both hold after the first step.
        LimitCase{"LambdaIsTestedAfterSum", 50, 1e-7L, StopCode::LambdaReached, 1, 1e-5L},
        LimitCase{"CountIsTestedAfterLambda", 1, 1e-7L, StopCode::IterationLimitReached, 1}),
    [](const auto& info) { return info.param.name; });

// A decay through noisy points: its minimum leaves residuals, so the sum
// never reaches its target and only the convergence tests can end the run
// before its limit.
Fit NoisyDecay() {
  Fit fit;
  const long double noise[] = {0.03L, -0.02L, 0.025L, -0.04L, 0.01L, 0.035L, -0.015L, -0.03L};
  // Noise this large slows the convergence near the minimum to a linear
  // rate, as on real measurements.
  for (int k = 0; k < 8; ++k) fit.Point(k, 3 * std::exp(-0.5L * k) + 10 * noise[k]);
  fit.n = 2;
  fit.par[0] = 1;
  fit.par[1] = 0.1L;
  return fit;
}

// The largest cosine between the residuals and a column of the Jacobian.
long double DecayGradientCosine(const Fit& fit) {
  long double rr = 0, gg[2] = {0, 0}, gr[2] = {0, 0};
  for (int k = 0; k < fit.m; ++k) {
    long double value = 0;
    DecayModel(fit.Fitted(), fit.x[k], value);
    ParameterValues g = ParameterValues::Zero(2);
    DecayDerivatives(k, fit.x[k], fit.Fitted(), g);
    const long double r = fit.y[k] - value;
    rr += r * r;
    for (int i = 0; i < 2; ++i) {
      gg[i] += g[i] * g[i];
      gr[i] += g[i] * r;
    }
  }
  return std::max(std::fabs(gr[0]) / std::sqrt(gg[0] * rr), std::fabs(gr[1]) / std::sqrt(gg[1] * rr));
}

struct ConvergenceCase {
  std::string name;
  long double ftol, xtol, gtol;
  ConvergenceTest test;
  long double parameterError;  // how far from the minimum that tolerance may leave them
};

class ConvergenceTests : public ::testing::TestWithParam<ConvergenceCase> {};

TEST_P(ConvergenceTests, EachEndsAConvergedRunAsUnchanged) {
  const ConvergenceCase& c = GetParam();
  // The minimum, found by running on until the parameters stop changing.
  Fit reference = NoisyDecay();
  reference.options.ftol = reference.options.xtol = reference.options.gtol = 0;
  reference.options.iterationLimit = 0;
  reference.Run(DecayModel, DecayDerivatives);
  ASSERT_EQ(reference.result.convergedBy, ConvergenceTest::Unchanged);

  Fit fit = NoisyDecay();
  fit.options.ftol = c.ftol;
  fit.options.xtol = c.xtol;
  fit.options.gtol = c.gtol;
  fit.Run(DecayModel, DecayDerivatives);
  EXPECT_EQ(fit.result.stopCode, StopCode::ParametersUnchanged);
  EXPECT_EQ(fit.result.convergedBy, c.test);
  EXPECT_LT(fit.result.iterations, 50);
  EXPECT_LT(fit.result.iterations, reference.result.iterations);
  // Converged means at the minimum, to what the tolerance asks.
  EXPECT_NEAR(fit.par[0], reference.par[0], c.parameterError);
  EXPECT_NEAR(fit.par[1], reference.par[1], c.parameterError);
  if (c.test == ConvergenceTest::Gradient) {
    EXPECT_LE(DecayGradientCosine(fit), c.gtol);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tests, ConvergenceTests,
    ::testing::Values(ConvergenceCase{"RelativeReduction", 1e-12L, 0, 0,
                                      ConvergenceTest::SumReduction, 1e-5L},
                      ConvergenceCase{"RelativeStep", 0, 1e-8L, 0, ConvergenceTest::Step, 1e-7L},
                      ConvergenceCase{"ScaledGradient", 0, 0, 1e-6L, ConvergenceTest::Gradient,
                                      1e-5L}),
    [](const auto& info) { return info.param.name; });

// A run the default tolerances find converged after k iterations would,
// with the tests off and a limit of k, have been "itercount reached" at the
// same minimum.
TEST(Marquardt, ConvergenceTestsEndWhatTheLimitWouldNot) {
  Fit defaults = NoisyDecay();
  defaults.Run(DecayModel, DecayDerivatives);
  EXPECT_EQ(defaults.result.stopCode, StopCode::ParametersUnchanged);
  EXPECT_NE(defaults.result.convergedBy, ConvergenceTest::None);

  Fit off = NoisyDecay();
  off.options.ftol = off.options.xtol = off.options.gtol = 0;
  off.options.iterationLimit = defaults.result.iterations;
  off.Run(DecayModel, DecayDerivatives);
  EXPECT_EQ(off.result.stopCode, StopCode::IterationLimitReached) << defaults.result.iterations;
  EXPECT_NEAR(defaults.par[0], off.par[0], 1e-14L);
  EXPECT_NEAR(defaults.par[1], off.par[1], 1e-14L);
}

TEST(Marquardt, ModelReproducingTheDataStopsInFirstIteration) {
  Fit fit;
  for (int k = 0; k < 4; ++k) fit.Point(k, 1 + 2 * k);
  fit.n = 2;
  fit.par[0] = 1;
  fit.par[1] = 2;
  fit.Run(LineModel, LineDerivatives);

  EXPECT_EQ(fit.result.stopCode, StopCode::ParametersUnchanged);
  EXPECT_EQ(fit.Iterations(), 1);
  EXPECT_EQ(fit.funcCalls, 3 * fit.m);  // start, one accepted trial, model values
  EXPECT_EQ(fit.result.sum, 0);
  EXPECT_EQ(fit.par[0], 1);
  EXPECT_EQ(fit.par[1], 2);
  for (int k = 0; k < fit.m; ++k) EXPECT_EQ(fit.result.modelValues[k], fit.y[k]);
}

TEST(Marquardt, ParameterWithoutInfluenceKeepsValueAndUnitVariance) {
  Fit fit = NoisyLine(3);
  fit.par[2] = 7;
  fit.Run(LineModel, LineDerivatives);
  const LineSolution s = SolveLine();

  EXPECT_EQ(fit.par[2], 7);
  EXPECT_NEAR(fit.par[0], s.intercept, kSettled);
  EXPECT_NEAR(fit.par[1], s.slope, kSettled);
  EXPECT_EQ(fit.Cov(2, 2), 1);
  EXPECT_EQ(fit.Cov(2, 0), 0);
  EXPECT_EQ(fit.Cov(1, 2), 0);
}

TEST(Marquardt, AllWeightsZeroMovesNothing) {
  Fit fit;
  for (int k = 0; k < 5; ++k) fit.Point(k, 10 + k, 0);
  fit.n = 2;
  fit.par[0] = 0.5L;
  fit.par[1] = -3;
  fit.Run(LineModel, LineDerivatives);

  EXPECT_EQ(fit.result.stopCode, StopCode::ParametersUnchanged);
  EXPECT_EQ(fit.Iterations(), 1);
  EXPECT_EQ(fit.result.sum, 0);
  EXPECT_EQ(fit.par[0], 0.5L);
  EXPECT_EQ(fit.par[1], -3);
  EXPECT_EQ(fit.Cov(0, 0), 1);
  EXPECT_EQ(fit.Cov(0, 1), 0);
  EXPECT_EQ(fit.Cov(1, 1), 1);
}

// One point y = 1 fitted by f = b1 from b1 = 0, with a derivative callback
// that reports c instead of 1. Each trial with damping t then lands on
// p0 + (1 - p0) / (c (1 + t)), so the parameters the model sees reveal the
// dampings tried.
struct TrialCase {
  std::string name;
  long double lambdaStart;
  long double slope;  // c
  int limit;
  std::vector<long double> dampings;
};

class TrialSequence : public ::testing::TestWithParam<TrialCase> {};

TEST_P(TrialSequence, DampingsTriedInOrder) {
  const TrialCase& c = GetParam();
  Fit fit;
  fit.Point(0, 1);
  fit.n = 1;
  fit.options.iterationLimit = c.limit;
  fit.options.lambdaStart = c.lambdaStart;
  std::vector<long double> seen;
  auto model = [&](const ParameterValues& p, long double, long double& value) {
    seen.push_back(p[0]);
    value = p[0];
    return true;
  };
  auto deriv = [&](int, long double, const ParameterValues&, ParameterValues& g) {
    g[0] = c.slope;
    return true;
  };
  fit.Run(model, deriv);

  std::vector<long double> expected = {0};  // the starting pass
  long double p0 = 0;
  for (long double t : c.dampings) {
    const long double p = p0 + (1 - p0) / (c.slope * (1 + t));
    expected.push_back(p);
    if ((1 - p) * (1 - p) <= (1 - p0) * (1 - p0)) p0 = p;
  }
  expected.push_back(p0);  // the model values at the end
  ASSERT_EQ(seen.size(), expected.size());
  for (size_t k = 0; k < seen.size(); ++k)
    EXPECT_NEAR(seen[k], expected[k], 1e-15L * std::fabs(expected[k])) << "call " << k;
  EXPECT_NEAR(fit.par[0], p0, 1e-15L);
  EXPECT_EQ(fit.result.stopCode, StopCode::IterationLimitReached);
}

INSTANTIATE_TEST_SUITE_P(
    Dampings, TrialSequence,
    ::testing::Values(
        // A true gradient: each first trial succeeds and lambda shrinks.
        TrialCase{"FirstTrialsAccepted", 1e-4L, 1, 2, {1e-6L, 1e-8L}},
        // A gradient ten times too small: every step overshoots until the
        // damping reaches 100 (the second trial of the fourth cycle).
        TrialCase{"RejectedTrialsRaiseDamping",
                  1e-4L,
                  0.1L,
                  1,
                  {1e-6L, 1e-4L, 1e-4L, 1e-2L, 1e-2L, 1, 1, 100}},
        // Lambda 0 restarts at 1e-19 before it is raised.
        TrialCase{"ZeroLambdaRestarts", 0, 0.1L, 1, {0,      0,      1e-19L, 1e-17L, 1e-17L, 1e-15L,
                                                     1e-15L, 1e-13L, 1e-13L, 1e-11L, 1e-11L, 1e-9L,
                                                     1e-9L,  1e-7L,  1e-7L,  1e-5L,  1e-5L,  1e-3L,
                                                     1e-3L,  1e-1L,  1e-1L,  10}}),
    [](const auto& info) { return info.param.name; });

// Callbacks that report a failed evaluation at a chosen call (1-based); 0
// never does.
struct FailureCase {
  std::string name;
  int failingModelCall;
  int failingDerivCall;
  StopCode code;
  int derivCalls;
};

class FailureCodes : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureCodes, RunEndsInLastAcceptedState) {
  const FailureCase& c = GetParam();
  Fit fit = NoisyLine();
  int modelCalls = 0, derivCalls = 0;
  std::vector<ParameterValues> accepted;
  auto model = [&](const ParameterValues& p, long double x, long double& value) {
    const bool failed = ++modelCalls == c.failingModelCall;
    LineModel(p, x, value);
    return !failed;
  };
  auto deriv = [&](int k, long double x, const ParameterValues& p, ParameterValues& g) {
    if (k == 0) accepted.push_back(p);
    LineDerivatives(k, x, p, g);
    return ++derivCalls != c.failingDerivCall;
  };
  fit.Run(model, deriv);

  EXPECT_EQ(fit.result.stopCode, c.code);
  EXPECT_EQ(fit.derivCalls, c.derivCalls);
  EXPECT_EQ(fit.result.covariance.size(), 0) << "no covariance after a failure";
  EXPECT_TRUE(fit.result.modelValues.empty()) << "no model values after a failure";
  const ParameterValues last = accepted.empty() ? ParameterValues::Zero(2) : accepted.back();
  EXPECT_EQ(fit.par[0], last[0]);
  EXPECT_EQ(fit.par[1], last[1]);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, FailureCodes,
    ::testing::Values(FailureCase{"ModelFailsAtStart", 2, 0, StopCode::FalseResidual, 0},
                      FailureCase{"DerivativeFails", 0, 3, StopCode::FalseHessian, 3},
                      // A failure during an accepted trial surfaces at the
                      // next normal matrix.
                      FailureCase{"ModelFailsInAcceptedTrial", 6, 0, StopCode::FalseHessian, 6}),
    [](const auto& info) { return info.param.name; });

TEST(Marquardt, PartialSumCountsTheFailingPoint) {
  Fit fit = NoisyLine();
  int calls = 0;
  auto model = [&](const ParameterValues&, long double, long double& value) {
    value = 0;
    return ++calls != 2;
  };
  fit.Run(model, LineDerivatives);
  EXPECT_EQ(fit.result.stopCode, StopCode::FalseResidual);
  EXPECT_EQ(calls, 2);
  EXPECT_NEAR(fit.result.sum, kLineY[0] * kLineY[0] + kLineY[1] * kLineY[1], 1e-15L);
}

struct SizeCase {
  int m, n;
};

class RefusedSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(RefusedSizes, RefusedBeforeAnyCall) {
  Fit fit = NoisyLine();
  fit.m = GetParam().m;
  fit.n = GetParam().n;
  EXPECT_THROW(fit.Run(LineModel, LineDerivatives), Error);
  EXPECT_EQ(fit.result.stopCode, StopCode::NotStarted);
  EXPECT_EQ(fit.funcCalls, 0);
}

INSTANTIATE_TEST_SUITE_P(Bounds, RefusedSizes,
                         ::testing::Values(SizeCase{5, 0}, SizeCase{0, 1}, SizeCase{101, 1},
                                           SizeCase{-3, 2}));

// Nine parameters cannot even be formed: the parameters' type holds eight.
static_assert(ParameterValues::MaxRowsAtCompileTime == kMaxMinimizerParameters);
static_assert(ParameterMatrix::MaxRowsAtCompileTime == kMaxMinimizerParameters);

TEST(Marquardt, WeightsThatDoNotMatchThePointsAreRefused) {
  testing::CurveModel model({0, 1, 2}, 2, LineModel, LineDerivatives);
  MinimizerProblem problem;
  problem.observed = {1, 2, 3};
  problem.weights = {1, 1};
  problem.model = &model;
  ParameterValues start = ParameterValues::Zero(2);
  EXPECT_THROW(Minimize(MinimizerOptions{}, problem, start), Error);
  problem.weights = {1, 1, 1};
  problem.model = nullptr;
  EXPECT_THROW(Minimize(MinimizerOptions{}, problem, start), Error);
  EXPECT_EQ(model.valueCalls, 0);
}

// The trace holds the start and every iteration that moved the parameters,
// with the sum after it: the rows of the log's table.
TEST(Marquardt, TraceRecordsTheStartAndEveryMovingIteration) {
  Fit fit = NoisyLine();
  fit.Run(LineModel, LineDerivatives);
  ASSERT_GE(fit.trace.size(), 2u);
  EXPECT_EQ(fit.trace.front().iteration, 0);
  EXPECT_EQ(fit.trace.front().parameters, ParameterValues::Zero(2));
  EXPECT_EQ(fit.trace.front().sum, [] {
    long double sum = 0;
    for (long double y : kLineY) sum += y * y;
    return sum;
  }());
  for (size_t i = 1; i < fit.trace.size(); ++i) {
    EXPECT_EQ(fit.trace[i].iteration, static_cast<int>(i));
    EXPECT_LE(fit.trace[i].sum, fit.trace[i - 1].sum) << i;
  }
  // The last iteration moved nothing ("parameters are not changing") and has
  // no row; the row before it holds the final parameters and sum.
  EXPECT_EQ(fit.result.stopCode, StopCode::ParametersUnchanged);
  EXPECT_EQ(static_cast<int>(fit.trace.size()), fit.result.iterations);
  EXPECT_EQ(fit.trace.back().parameters, fit.Fitted());
  EXPECT_EQ(fit.trace.back().sum, fit.result.sum);
}

TEST(Marquardt, LargestSizesAreAccepted) {
  Fit fit;
  for (int k = 0; k < 100; ++k) fit.Point(k, 1 + 2 * k);
  fit.n = 8;
  fit.options.iterationLimit = 1;
  fit.Run(LineModel, LineDerivatives);
  EXPECT_EQ(fit.result.stopCode, StopCode::IterationLimitReached);
  EXPECT_EQ(fit.Cov(7, 7), 1);
}

// Numeric faults and exceptions in a callback end the run with the code
// still "not started"; the caller's report turns that into an error.
TEST(Marquardt, CallbackFaultsPropagate) {
  const long double inf = std::numeric_limits<long double>::infinity();
  const long double nan = std::numeric_limits<long double>::quiet_NaN();
  struct Fault {
    long double value;
    const char* message;
  };
  for (const Fault& f :
       {Fault{nan, "Invalid floating point operation"}, Fault{inf, "Floating point overflow"}}) {
    Fit fit = NoisyLine();
    int calls = 0;
    auto model = [&](const ParameterValues& p, long double x, long double& value) {
      LineModel(p, x, value);
      if (++calls == 8) value = f.value;
      return true;
    };
    try {
      fit.Run(model, LineDerivatives);
      ADD_FAILURE() << "no error for " << f.message;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), f.message);
    }
    EXPECT_EQ(fit.result.stopCode, StopCode::NotStarted);
  }

  Fit fit = NoisyLine();
  auto throwing = [](int, long double, const ParameterValues&, ParameterValues&) -> bool {
    throw std::runtime_error("derivative failed");
  };
  EXPECT_THROW(fit.Run(LineModel, throwing), std::runtime_error);
  EXPECT_EQ(fit.result.stopCode, StopCode::NotStarted);
}

}  // namespace
}  // namespace lumora
