// Small harness for minimiser tests: a curve through data points as the
// minimiser's model, the run's summary and trace, and call counts.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "lsq/levenberg_marquardt.h"
#include "tests/support/testfiles.h"

namespace lumora::testing {

// The curve's value at abscissa x; false marks a failed evaluation.
using CurveValue = std::function<bool(const ParameterValues& p, long double x, long double& value)>;
// Its derivatives at point k (0-based) of abscissa x into g (zero on entry).
using CurveGradient =
    std::function<bool(int k, long double x, const ParameterValues& p, ParameterValues& g)>;

// Straight line p0 + p1 x; any further parameters have no influence.
inline bool LineModel(const ParameterValues& p, long double x, long double& value) {
  value = p[0] + p[1] * x;
  return true;
}
inline bool LineDerivatives(int, long double x, const ParameterValues&, ParameterValues& g) {
  g[0] = 1;
  g[1] = x;
  return true;
}

// Exponential decay p0 exp(-p1 x).
inline bool DecayModel(const ParameterValues& p, long double x, long double& value) {
  value = p[0] * std::exp(-p[1] * x);
  return true;
}
inline bool DecayDerivatives(int, long double x, const ParameterValues& p, ParameterValues& g) {
  const long double e = std::exp(-p[1] * x);
  g[0] = e;
  g[1] = -p[0] * x * e;
  return true;
}

// The minimiser's model: a curve at the abscissae of the points, counting
// its calls and the calls that saw another number of parameters than n.
class CurveModel : public FittedModel {
 public:
  CurveModel(std::vector<long double> x, int n, CurveValue value, CurveGradient gradient)
      : x_(std::move(x)), n_(n), value_(std::move(value)), gradient_(std::move(gradient)) {}

  bool Value(const ParameterValues& p, int k, long double& value) override {
    ++valueCalls;
    if (p.size() != n_) ++wrongSizes;
    return value_(p, x_.at(k), value);
  }
  bool Gradient(const ParameterValues& p, int k, ParameterValues& g) override {
    ++gradientCalls;
    if (p.size() != n_ || g.size() != n_) ++wrongSizes;
    return gradient_(k, x_.at(k), p, g);
  }

  int valueCalls = 0;
  int gradientCalls = 0;
  int wrongSizes = 0;

 private:
  std::vector<long double> x_;
  int n_;
  CurveValue value_;
  CurveGradient gradient_;
};

struct Fit {
  MinimizerOptions options;
  int m = 0;  // the points the run takes: the first m given, zeros past them
  int n = 0;  // the parameters it fits: the first n of par
  std::vector<long double> x, y, w;
  ParameterValues par = ParameterValues::Zero(kMaxMinimizerParameters);

  MinimizerSummary result;
  IterationTrace trace;
  int funcCalls = 0;
  int derivCalls = 0;
  int wrongSizes = 0;

  void Point(long double xi, long double yi, long double wi = 1) {
    ++m;
    x.push_back(xi);
    y.push_back(yi);
    w.push_back(wi);
  }

  // Runs the minimiser on the first n parameters and the first m points,
  // then writes the iteration table of the run to the log, when there is
  // one, as a caller that keeps a log does: also when the run raised.
  void Run(const CurveValue& value, const CurveGradient& gradient, IterationLog* log = nullptr,
           const ParameterNames& names = {}) {
    const size_t points = static_cast<size_t>(std::max(m, 0));
    std::vector<long double> xs = x, ys = y, ws = w;
    xs.resize(std::max(points, xs.size()), 0);
    ys.resize(points, 0);
    ws.resize(points, 0);
    CurveModel model(xs, n, value, gradient);
    MinimizerProblem problem;
    problem.observed = ys;
    problem.weights = ws;
    problem.model = &model;
    ParameterValues start = par.head(std::max(n, 0));
    trace.clear();
    try {
      result = Minimize(options, problem, start, &trace);
    } catch (...) {
      Finish(model, start, log, names);
      throw;
    }
    Finish(model, start, log, names);
  }

  int Iterations() const { return m > 0 ? derivCalls / m : 0; }
  long double Cov(int i, int j) const { return result.covariance(i, j); }
  ParameterValues Fitted() const { return par.head(n); }

 private:
  void Finish(const CurveModel& model, const ParameterValues& end, IterationLog* log,
              const ParameterNames& names) {
    funcCalls = model.valueCalls;
    derivCalls = model.gradientCalls;
    wrongSizes = model.wrongSizes;
    par.head(end.size()) = end;
    if (log) WriteIterationTable(*log, trace, names);
  }
};

inline std::vector<std::string> CrLfLines(const std::string& text) { return SplitCrLf(text); }

}  // namespace lumora::testing
