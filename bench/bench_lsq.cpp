// One Levenberg-Marquardt fit of an exponential decay: 100 points, 2
// parameters, analytic derivatives, no log. bench/scipy_lsq.py fits the same
// data with SciPy for comparison.
#include <benchmark/benchmark.h>

#include <cmath>

#include "lsq/levenberg_marquardt.h"

namespace {

using lumora::ParameterVector;
using lumora::PointArray;
using lumora::StopCode;

constexpr int kPoints = 100;

// y = 5 exp(-0.03 x) (1 + 0.01 sin(1.7 x)) at x = 0..99.
void DecayData(lumora::MinimizerProblem& problem) {
  problem.pointCount = kPoints;
  for (int k = 1; k <= kPoints; ++k) {
    const long double xk = k - 1;
    problem.x[k] = xk;
    problem.y[k] = 5 * std::exp(-0.03L * xk) * (1 + 0.01L * std::sin(1.7L * xk));
    problem.w[k] = 1;
  }
}

bool Decay(const ParameterVector& b, long double x, long double& value) {
  value = b[1] * std::exp(-b[2] * x);
  return true;
}

bool DecayDerivatives(int k, const PointArray& x, int, const ParameterVector& b,
                      ParameterVector& g) {
  const long double e = std::exp(-b[2] * x[k]);
  g[1] = e;
  g[2] = -b[1] * x[k] * e;
  return true;
}

void BM_ExponentialDecayFit(benchmark::State& state) {
  lumora::MinimizerProblem problem;
  DecayData(problem);
  problem.parameterCount = 2;
  problem.derivatives = DecayDerivatives;
  const lumora::MinimizerOptions options;
  const lumora::ModelFunction model = Decay;
  int evaluations = 0;
  lumora::MinimizerSummary summary;
  ParameterVector par;
  for (auto _ : state) {
    par = ParameterVector{};
    par[1] = 1;
    par[2] = 0.1L;
    problem.model = [&](const ParameterVector& b, long double xi, long double& value) {
      ++evaluations;
      return model(b, xi, value);
    };
    summary = lumora::Minimize(options, problem, par);
    benchmark::DoNotOptimize(par);
  }
  const StopCode code = summary.stopCode;
  if (code != StopCode::SumReached && code != StopCode::ParametersUnchanged &&
      code != StopCode::LambdaReached)
    state.SkipWithError("the fit did not converge");
  state.counters["model_calls_per_fit"] =
      static_cast<double>(evaluations) / static_cast<double>(state.iterations());
  state.counters["stop_code"] = static_cast<int>(code);
  state.counters["b1"] = static_cast<double>(par[1]);
  state.counters["b2"] = static_cast<double>(par[2]);
}
BENCHMARK(BM_ExponentialDecayFit)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
