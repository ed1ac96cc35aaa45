// Small harness for minimiser tests: a problem with its data points, the
// run's outputs, callback call counts, and a private temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lsq/marq3w.h"
#include "tests/support/testfiles.h"

namespace lumora::testing {

// Straight line b1 + b2 x; any further parameters have no influence.
inline long double LineModel(int, const vector& b, bool&, long double x) { return b[1] + b[2] * x; }
inline void LineDerivatives(int k, const TMarqArray& x, int n, vector, vector& g, bool&) {
  g[1] = 1;
  g[2] = x[k];
  for (int i = 3; i <= n; ++i) g[i] = 0;
}

// Exponential decay b1 exp(-b2 x).
inline long double DecayModel(int, const vector& b, bool&, long double x) {
  return b[1] * std::exp(-b[2] * x);
}
inline void DecayDerivatives(int k, const TMarqArray& x, int, vector b, vector& g, bool&) {
  const long double e = std::exp(-b[2] * x[k]);
  g[1] = e;
  g[2] = -b[1] * x[k] * e;
}

struct Fit {
  MarqSettings settings;
  int limit = 50;
  int m = 0;
  int n = 0;
  TMarqArray x, y, w;
  vector par;

  long double sum = -1;
  TMarqArray cov, ycalc;
  int code = 99;
  int funcCalls = 0;
  int derivCalls = 0;

  Fit() { MarqDefaults(settings, limit); }

  void Point(long double xi, long double yi, long double wi = 1) {
    ++m;
    x[m] = xi;
    y[m] = yi;
    w[m] = wi;
  }

  void Run(const TMarqFunc& func, const TMarqDeriv& deriv, int printLevel = 0) {
    auto countedFunc = [&](int nn, const vector& b, bool& flag, long double xi) {
      ++funcCalls;
      return func(nn, b, flag, xi);
    };
    auto countedDeriv = [&](int k, const TMarqArray& xs, int nn, vector b, vector& g, bool& flag) {
      ++derivCalls;
      deriv(k, xs, nn, b, g, flag);
    };
    Marquardt(settings, limit, printLevel, m, x, y, w, n, par, sum, cov, ycalc, code,
              countedFunc, countedDeriv);
  }

  int Iterations() const { return m > 0 ? derivCalls / m : 0; }
  long double Cov(int i, int j) const { return cov[(i - 1) * n + j]; }
};

inline std::vector<std::string> CrLfLines(const std::string& text) { return SplitCrLf(text); }

}  // namespace lumora::testing
