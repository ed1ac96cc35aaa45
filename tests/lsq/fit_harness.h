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

// A fresh folder below the system's temporary folder, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lsq-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Splits at CR LF; a final piece without a line end is kept as the last line.
inline std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace lumora::testing
