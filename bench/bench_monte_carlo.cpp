// Monte Carlo refits of the bundled 27-line sample: 10 000 refits with 2 %
// intensity noise and the accuracy grades of Aki, on every core and on one.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "model/session.h"

namespace {

using namespace lumora;

const std::string kData = std::string(LUMORA_SOURCE_DIR) + "/data/";

void BM_MonteCarlo(benchmark::State& state) {
  Session session(SessionOptions{std::filesystem::temp_directory_path().string(), {}});
  session.ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
  session.ReadMeasurement(kData + "measurements/argon_n4e16_noise.txt");
  session.Recalculate();
  FitRequest fit;
  fit.target.start.log10N1 = 16;
  fit.target.start.second = 1000;
  fit.target.start.gasTemperature = 300;
  fit.target.start.path = 1;
  fit.target.start.mass = 39.948L * kAtomicMassUnit;
  fit.target.start.levelCount = 4;
  fit.report.enabled = false;
  const FitResult fitted = session.Fit(fit);
  MonteCarloRequest request;
  request.fit = fit;
  request.runs = 10000;
  request.intensityNoise = 0.02;
  request.akiAccuracy = true;
  request.seed = 1;
  request.threads = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(session.MonteCarlo(request, fitted).log10N1.mean);
  // Refits per second; the time per refit is its inverse.
  state.counters["refits"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * request.runs, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MonteCarlo)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
