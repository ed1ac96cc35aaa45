// Fit and map on the bundled argon sample (27 lines, 14 levels) with the
// fields of an empty settings file, and the bare model they are built on.
// Compare with bench/scipy_fit.py, which runs the same fit and map.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "model/atomicdata.h"
#include "model/commandvector.h"
#include "model/ebfmodel.h"
#include "model/fitdriver.h"
#include "model/residualmap.h"
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

void LoadSample() {
  static bool loaded = false;
  if (loaded) return;
  ChangeElement(kData + "database", "Ar_I_levels.txt", "Ar, I", false);
  ImportIntensities(kData + "measurements/argon_n2e15.txt");
  ComputeBranchingFractions();
  loaded = true;
}

// One fit as the Fit command runs it: log10 n_1 alone (1) or with T (2).
void BM_Fit(benchmark::State& state) {
  LoadSample();
  WindowFields fields = SampleFields(50);
  fields.FitTemperatureChecked = state.range(0) == 2;
  const std::string log = (std::filesystem::temp_directory_path() / kFitLogFileName).string();
  for (auto _ : state) {
    ClearPrecalc();
    const vector b = CommandVector(fields, kArgonMassAmu, CommandKind::Fit);
    const FitOutcome fit = FitDriver(b, 50, FreeParameterCount(fields), 0.0,
                                     "argon_n2e15.txt", log, nullptr, kReportFinalResults);
    benchmark::DoNotOptimize(fit.parameters[1]);
  }
}
BENCHMARK(BM_Fit)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// A map as the map command runs it, points x points.
void BM_Map(benchmark::State& state) {
  LoadSample();
  const WindowFields fields = SampleFields(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ClearPrecalc();
    vector b = CommandVector(fields, kArgonMassAmu, CommandKind::Map);
    const MapGrid grid = MapGridFromFields(fields);
    ResetResidualMap(grid.temperaturePoints, grid.densityPoints);
    MapRange range;
    MapResiduals(grid.densityPoints, grid.temperaturePoints, b, grid.log10FromDensity,
                 grid.log10ToDensity, grid.fromTemperature, grid.toTemperature,
                 "argon_n2e15.txt", range, nullptr);
    benchmark::DoNotOptimize(b[11]);
  }
  state.counters["points"] = static_cast<double>(state.range(0) * state.range(0));
}
BENCHMARK(BM_Map)->Arg(50)->Arg(500)->Unit(benchmark::kMillisecond);

// The bare model over the same 50 x 50 grid: one full computation per point,
// nothing else; the floor a map can reach.
void BM_ModelOverGrid(benchmark::State& state) {
  LoadSample();
  const WindowFields fields = SampleFields(50);
  const MapGrid grid = MapGridFromFields(fields);
  const double stepD = (grid.log10ToDensity - grid.log10FromDensity) / grid.densityPoints;
  const double stepT = (grid.toTemperature - grid.fromTemperature) / grid.temperaturePoints;
  vector b = CommandVector(fields, kArgonMassAmu, CommandKind::Map);
  for (auto _ : state) {
    double t = grid.fromTemperature;
    for (int i = 0; i < grid.temperaturePoints; ++i, t += stepT) {
      double x = grid.log10FromDensity;
      for (int j = 0; j < grid.densityPoints; ++j, x += stepD) {
        b[1] = x;
        b[2] = t;
        benchmark::DoNotOptimize(EvaluateModel(b, 0));
        ClearPrecalc();
      }
    }
  }
}
BENCHMARK(BM_ModelOverGrid)->Unit(benchmark::kMillisecond);

// One full model computation, reported per line of the sample.
void BM_ModelPerLine(benchmark::State& state) {
  LoadSample();
  vector b = CommandVector(SampleFields(50), kArgonMassAmu, CommandKind::Fit);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EvaluateModel(b, 0));
    ClearPrecalc();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(LineArray.size()));
  state.counters["ns_per_line"] = benchmark::Counter(
      static_cast<double>(state.iterations() * LineArray.size()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ModelPerLine);

}  // namespace

BENCHMARK_MAIN();
