// One Levenberg-Marquardt fit of an exponential decay: 100 points, 2
// parameters, analytic derivatives, no log. bench/scipy_lsq.py fits the same
// data with SciPy for comparison.
#include <benchmark/benchmark.h>

#include <cmath>
#include <stdexcept>

#include "lsq/marq3w.h"

namespace {

using lumora::TMarqArray;
using lumora::vector;

constexpr int kPoints = 100;

// y = 5 exp(-0.03 x) (1 + 0.01 sin(1.7 x)) at x = 0..99.
void DecayData(TMarqArray& x, TMarqArray& y, TMarqArray& w) {
  for (int k = 1; k <= kPoints; ++k) {
    const long double xk = k - 1;
    x[k] = xk;
    y[k] = 5 * std::exp(-0.03L * xk) * (1 + 0.01L * std::sin(1.7L * xk));
    w[k] = 1;
  }
}

long double Decay(int, const vector& b, bool&, long double x) { return b[1] * std::exp(-b[2] * x); }

void DecayDerivatives(int k, const TMarqArray& x, int, vector b, vector& g, bool&) {
  const long double e = std::exp(-b[2] * x[k]);
  g[1] = e;
  g[2] = -b[1] * x[k] * e;
}

void BM_ExponentialDecayFit(benchmark::State& state) {
  TMarqArray x, y, w, cov, ycalc;
  DecayData(x, y, w);
  lumora::MarqSettings settings;
  int limit = 0;
  lumora::MarqDefaults(settings, limit);
  const lumora::TMarqFunc func = Decay;
  const lumora::TMarqDeriv deriv = DecayDerivatives;
  int evaluations = 0;
  int code = -1;
  vector par;
  long double sum = 0;
  for (auto _ : state) {
    par = vector{};
    par[1] = 1;
    par[2] = 0.1L;
    const lumora::TMarqFunc counted = [&](int n, const vector& b, bool& flag, long double xi) {
      ++evaluations;
      return func(n, b, flag, xi);
    };
    lumora::Marquardt(settings, limit, 0, kPoints, x, y, w, 2, par, sum, cov, ycalc, code,
                      counted, deriv);
    benchmark::DoNotOptimize(par);
  }
  if (code != lumora::kSumReached && code != lumora::kParametersUnchanged &&
      code != lumora::kLambdaReached)
    state.SkipWithError("the fit did not converge");
  state.counters["model_calls_per_fit"] =
      static_cast<double>(evaluations) / static_cast<double>(state.iterations());
  state.counters["stop_code"] = code;
  state.counters["b1"] = static_cast<double>(par[1]);
  state.counters["b2"] = static_cast<double>(par[2]);
}
BENCHMARK(BM_ExponentialDecayFit)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
