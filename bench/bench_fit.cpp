// Fit and map on the bundled argon sample (27 lines, 14 levels) with the
// fields of an empty settings file, and the bare model they are built on.
// Compare with bench/scipy_fit.py, which runs the same fit and map.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "frontend/field_requests.h"
#include "model/session.h"
#include "settings/settings.h"

namespace {

using namespace lumora;

const std::string kData = std::string(LUMORA_SOURCE_DIR) + "/data/";
constexpr double kArgonMassAmu = 39.948;

// The fields of an empty settings file, with argon's Boltzmax of 4 and the
// map grid resized.
WindowFields SampleFields(int points) {
  const Settings empty((std::filesystem::path(kData) / "no-such-settings-file.ini").string());
  WindowFields f = LoadWindowFields(empty, "Argon");
  f.DensityPoints = std::to_string(points);
  f.TemperaturePoints = std::to_string(points);
  f.Count = std::to_string(4);
  return f;
}

// The sample read and recalculated, once for all benchmarks.
Session& Sample() {
  static Session* const session = [] {
    auto* s = new Session(SessionOptions{std::filesystem::temp_directory_path().string(), {}});
    s->ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
    s->ReadMeasurement(kData + "measurements/argon_n2e15.txt");
    s->Recalculate();
    return s;
  }();
  return *session;
}

// One fit as the Fit command runs it: log10 n_1 alone (1) or with T (2).
void BM_Fit(benchmark::State& state) {
  Session& session = Sample();
  WindowFields fields = SampleFields(50);
  fields.FitTemperatureChecked = state.range(0) == 2;
  for (auto _ : state) {
    FitRequest request = FitRequestFromFields(fields, kArgonMassAmu);
    request.dataFileName = "argon_n2e15.txt";
    request.withReport = false;
    const FitResult fit = session.Fit(request);
    benchmark::DoNotOptimize(fit.parameters[1]);
  }
}
BENCHMARK(BM_Fit)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// A map as the map command runs it, points x points, on all cores (0) or
// on the given number of threads.
void BM_Map(benchmark::State& state) {
  Session& session = Sample();
  const WindowFields fields = SampleFields(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    MapRequest request = MapRequestFromFields(fields, kArgonMassAmu);
    request.dataFileName = "argon_n2e15.txt";
    request.withReport = false;
    request.threads = static_cast<int>(state.range(1));
    const MapResult map = session.Map(request);
    benchmark::DoNotOptimize(map.minimum);
  }
  state.counters["points"] = static_cast<double>(state.range(0) * state.range(0));
}
BENCHMARK(BM_Map)
    ->ArgsProduct({{50, 200, 500}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The bare model over the same 50 x 50 grid: one full computation per point,
// nothing else; the floor a map can reach.
void BM_ModelOverGrid(benchmark::State& state) {
  EbfModel& model = Sample().Model();
  const MapRequest grid = MapRequestFromFields(SampleFields(50), kArgonMassAmu);
  const double stepD = (grid.log10ToDensity - grid.log10FromDensity) / grid.densityPoints;
  const double stepT = (grid.toTemperature - grid.fromTemperature) / grid.temperaturePoints;
  ParameterVector b = grid.model.ToVector();
  for (auto _ : state) {
    double t = grid.fromTemperature;
    for (int i = 0; i < grid.temperaturePoints; ++i, t += stepT) {
      double x = grid.log10FromDensity;
      for (int j = 0; j < grid.densityPoints; ++j, x += stepD) {
        b[1] = x;
        b[2] = t;
        benchmark::DoNotOptimize(model.Evaluate(b, 0));
        model.ClearCache();
      }
    }
  }
}
BENCHMARK(BM_ModelOverGrid)->Unit(benchmark::kMillisecond);

// One full model computation, reported per line of the sample.
void BM_ModelPerLine(benchmark::State& state) {
  EbfModel& model = Sample().Model();
  const size_t lines = model.Table().lines.size();
  const ParameterVector b = FitRequestFromFields(SampleFields(50), kArgonMassAmu).start.ToVector();
  for (auto _ : state) {
    benchmark::DoNotOptimize(model.Evaluate(b, 0));
    model.ClearCache();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(lines));
  state.counters["ns_per_line"] =
      benchmark::Counter(static_cast<double>(state.iterations() * lines),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ModelPerLine);

}  // namespace

BENCHMARK_MAIN();
