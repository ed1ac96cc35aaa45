// Small harness for minimiser tests: a problem with its data points, the
// run's summary, and callback call counts.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "lsq/levenberg_marquardt.h"
#include "tests/support/testfiles.h"

namespace lumora::testing {

// Straight line b1 + b2 x; any further parameters have no influence.
inline bool LineModel(const ParameterVector& b, long double x, long double& value) {
  value = b[1] + b[2] * x;
  return true;
}
inline bool LineDerivatives(int k, const PointArray& x, int n, const ParameterVector&,
                            ParameterVector& g) {
  g[1] = 1;
  g[2] = x[k];
  for (int i = 3; i <= n; ++i) g[i] = 0;
  return true;
}

// Exponential decay b1 exp(-b2 x).
inline bool DecayModel(const ParameterVector& b, long double x, long double& value) {
  value = b[1] * std::exp(-b[2] * x);
  return true;
}
inline bool DecayDerivatives(int k, const PointArray& x, int, const ParameterVector& b,
                             ParameterVector& g) {
  const long double e = std::exp(-b[2] * x[k]);
  g[1] = e;
  g[2] = -b[1] * x[k] * e;
  return true;
}

struct Fit {
  MinimizerOptions options;
  int m = 0;
  int n = 0;
  PointArray x, y, w;
  ParameterVector par;

  MinimizerSummary result;
  int funcCalls = 0;
  int derivCalls = 0;

  void Point(long double xi, long double yi, long double wi = 1) {
    ++m;
    x[m] = xi;
    y[m] = yi;
    w[m] = wi;
  }

  void Run(const ModelFunction& model, const DerivativeFunction& derivatives,
           IterationLog* log = nullptr, const ParameterNames& names = {}) {
    MinimizerProblem problem;
    problem.pointCount = m;
    problem.parameterCount = n;
    problem.x = x;
    problem.y = y;
    problem.w = w;
    problem.model = [&](const ParameterVector& b, long double xi, long double& value) {
      ++funcCalls;
      return model(b, xi, value);
    };
    problem.derivatives = [&](int k, const PointArray& xs, int nn, const ParameterVector& b,
                              ParameterVector& g) {
      ++derivCalls;
      return derivatives(k, xs, nn, b, g);
    };
    result = Minimize(options, problem, par, log, names);
  }

  int Iterations() const { return m > 0 ? derivCalls / m : 0; }
  long double Cov(int i, int j) const { return result.covariance[(i - 1) * n + j]; }
};

inline std::vector<std::string> CrLfLines(const std::string& text) { return SplitCrLf(text); }

}  // namespace lumora::testing
