// One Levenberg-Marquardt fit of an exponential decay: 100 points, 2
// parameters, analytic derivatives, no log. bench/scipy_lsq.py fits the same
// data with SciPy for comparison.
#include <benchmark/benchmark.h>

#include <cmath>

#include "lsq/levenberg_marquardt.h"

namespace {

using lumora::ParameterValues;
using lumora::StopCode;

constexpr int kPoints = 100;

// b0 exp(-b1 x) at x = 0..99, with its analytic derivatives.
class Decay : public lumora::FittedModel {
 public:
  bool Value(const ParameterValues& b, int k, long double& value) override {
    ++evaluations;
    value = b[0] * std::exp(-b[1] * static_cast<long double>(k));
    return true;
  }
  bool Gradient(const ParameterValues& b, int k, ParameterValues& g) override {
    const long double x = k;
    const long double e = std::exp(-b[1] * x);
    g[0] = e;
    g[1] = -b[0] * x * e;
    return true;
  }
  int evaluations = 0;
};

// y = 5 exp(-0.03 x) (1 + 0.01 sin(1.7 x)) at x = 0..99.
lumora::MinimizerProblem DecayData(Decay& model) {
  lumora::MinimizerProblem problem;
  problem.model = &model;
  for (int k = 0; k < kPoints; ++k) {
    const long double xk = k;
    problem.observed.push_back(5 * std::exp(-0.03L * xk) * (1 + 0.01L * std::sin(1.7L * xk)));
    problem.weights.push_back(1);
  }
  return problem;
}

void BM_ExponentialDecayFit(benchmark::State& state) {
  Decay model;
  const lumora::MinimizerProblem problem = DecayData(model);
  const lumora::MinimizerOptions options;
  lumora::MinimizerSummary summary;
  ParameterValues par(2);
  for (auto _ : state) {
    par << 1, 0.1L;
    summary = lumora::Minimize(options, problem, par);
    benchmark::DoNotOptimize(par);
  }
  const StopCode code = summary.stopCode;
  if (code != StopCode::SumReached && code != StopCode::ParametersUnchanged &&
      code != StopCode::LambdaReached)
    state.SkipWithError("the fit did not converge");
  state.counters["model_calls_per_fit"] =
      static_cast<double>(model.evaluations) / static_cast<double>(state.iterations());
  state.counters["stop_code"] = static_cast<int>(code);
  state.counters["b1"] = static_cast<double>(par[0]);
  state.counters["b2"] = static_cast<double>(par[1]);
}
BENCHMARK(BM_ExponentialDecayFit)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
