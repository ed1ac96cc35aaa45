// Fit and map on the bundled argon sample (27 lines, 14 levels) with the
// fields of an empty settings file, and the bare model they are built on.
// Compare with bench/scipy_fit.py, which runs the same fit and map.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

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

// A bundled sample read and recalculated.
Session* ReadSample(const std::string& name) {
  auto* s = new Session(SessionOptions{std::filesystem::temp_directory_path().string(), {}});
  s->ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
  s->ReadMeasurement(kData + "measurements/" + name);
  s->Recalculate();
  return s;
}

// The noise-free sample, once for all benchmarks.
Session& Sample() {
  static Session* const session = ReadSample("argon_n2e15.txt");
  return *session;
}

// The sample with 2 % intensity noise: its minimum leaves residuals, as a
// real measurement's does, so the fit must find it, not a zero sum.
Session& NoisySample() {
  static Session* const session = ReadSample("argon_n4e16_noise.txt");
  return *session;
}

// One fit as the Fit command runs it: log10 n_1 alone (1) or with T (2).
void FitSample(benchmark::State& state, Session& session, const std::string& name) {
  WindowFields fields = SampleFields(50);
  fields.FitTemperatureChecked = state.range(0) == 2;
  int iterations = 0;
  for (auto _ : state) {
    FitRequest request = FitRequestFromFields(fields, kArgonMassAmu);
    request.report.dataFileName = name;
    request.report.enabled = false;
    const FitResult fit = session.Fit(request);
    iterations = fit.iterations;
    benchmark::DoNotOptimize(fit.fitted.log10N1);
  }
  state.counters["iterations"] = iterations;
}

void BM_Fit(benchmark::State& state) { FitSample(state, Sample(), "argon_n2e15.txt"); }
BENCHMARK(BM_Fit)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void BM_NoisyFit(benchmark::State& state) {
  FitSample(state, NoisySample(), "argon_n4e16_noise.txt");
}
BENCHMARK(BM_NoisyFit)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The same fit with its report (the robust u, the results line), and the fit
// weighted by 2 % intensity uncertainties (the whitened chi-square).
void BM_FitVariants(benchmark::State& state) {
  Session& session = Sample();
  WindowFields fields = SampleFields(50);
  const bool weighted = state.range(0) == 1;
  fields.FitTemperatureChecked = state.range(1) == 2;
  for (auto _ : state) {
    FitRequest request = FitRequestFromFields(fields, kArgonMassAmu);
    request.report.dataFileName = "argon_n2e15.txt";
    request.log.write = false;
    if (weighted) request.uncertainty = {UncertaintySource::Relative, 0.02};
    const FitResult fit = session.Fit(request);
    session.ResetResultsLines();
    benchmark::DoNotOptimize(fit.fitted.log10N1);
  }
  state.SetLabel(weighted ? "weighted" : "unweighted, reported");
}
BENCHMARK(BM_FitVariants)
    ->Args({0, 1})
    ->Args({0, 2})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Unit(benchmark::kMicrosecond);

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
  ModelParameters at = grid.model;
  for (auto _ : state) {
    double t = grid.fromTemperature;
    for (int i = 0; i < grid.temperaturePoints; ++i, t += stepT) {
      double x = grid.log10FromDensity;
      for (int j = 0; j < grid.densityPoints; ++j, x += stepD) {
        at.log10N1 = x;
        at.second = t;
        benchmark::DoNotOptimize(model.Evaluate(at, 0));
        model.ClearCache();
      }
    }
  }
}
BENCHMARK(BM_ModelOverGrid)->Unit(benchmark::kMillisecond);

// The bare double-precision loop of the same model over a points x points
// grid, one core: flat arrays of the lines' optical depths per density, no
// checks, std::exp; 10^b1 per column and the Boltzmann factors per row.
// What a plain C++ loop over the grid costs.
struct BareLine {
  int lower = 0, upper = 0;
  double depthPerDensity = 0, aki = 0, measured = 0;
};

double BareGridMinimum(const std::vector<TLevelRecord>& levels, const std::vector<BareLine>& lines,
                       const MapRequest& grid) {
  const int count = std::min<int>(grid.model.levelCount, static_cast<int>(levels.size()));
  const double stepD = (grid.log10ToDensity - grid.log10FromDensity) / grid.densityPoints;
  const double stepT = (grid.toTemperature - grid.fromTemperature) / grid.temperaturePoints;
  std::vector<double> n1(grid.densityPoints), factors(levels.size()), density(levels.size());
  std::vector<double> rate(lines.size()), upperSum(levels.size());
  double x = grid.log10FromDensity;
  for (int j = 0; j < grid.densityPoints; ++j, x += stepD) n1[j] = std::pow(10.0, x);
  double minimum = 1e300, t = grid.fromTemperature;
  for (int i = 0; i < grid.temperaturePoints; ++i, t += stepT) {
    for (int l = 0; l < count; ++l)
      factors[l] = levels[l].g / levels[0].g *
                   std::exp(-(levels[l].Energy - levels[0].Energy) *
                            static_cast<double>(kElementaryCharge / kBoltzmann) / std::fabs(t));
    for (int j = 0; j < grid.densityPoints; ++j) {
      for (int l = 0; l < count; ++l) density[l] = n1[j] * factors[l];
      std::fill(upperSum.begin(), upperSum.end(), 0.0);
      for (size_t k = 0; k < lines.size(); ++k) {
        const BareLine& line = lines[k];
        const double tau = density[line.lower] * line.depthPerDensity;
        rate[k] = (2 - std::exp(-tau * 0.001)) / (1 + tau) * line.aki;
        upperSum[line.upper] += rate[k];
      }
      double rss = 0;
      for (size_t k = 0; k < lines.size(); ++k) {
        const double diff = rate[k] / upperSum[lines[k].upper] - lines[k].measured;
        rss += diff * diff;
      }
      minimum = std::min(minimum, rss / static_cast<double>(lines.size() - 2));
    }
  }
  return minimum;
}

void BM_BareLoop(benchmark::State& state) {
  Session& session = Sample();
  const LineTable& table = session.Model().Table();
  MapRequest grid =
      MapRequestFromFields(SampleFields(static_cast<int>(state.range(0))), kArgonMassAmu);
  const long double speed = DopplerSpeed(grid.model.gasTemperature, grid.model.mass);
  std::vector<BareLine> lines;
  for (const TLineRecord& line : table.lines) {
    const long double lambda = line.AR.WaveLength * 1e-9L;
    const long double doppler = std::sqrt(3.14159265358979323846264338327950288L) * speed * lambda;
    BareLine bare;
    bare.lower = line.LowerState;
    bare.upper = line.UpperState;
    bare.depthPerDensity = static_cast<double>(LineStrength(line.AR, lambda) * kPlanck / lambda *
                                               kSpeedOfLight / doppler * grid.model.path);
    bare.aki = line.AR.Aki;
    bare.measured = line.G_m;
    lines.push_back(bare);
  }
  double minimum = 0;
  for (auto _ : state) minimum = BareGridMinimum(table.levels, lines, grid);
  state.counters["points"] = static_cast<double>(state.range(0) * state.range(0));
  state.counters["minimum"] = minimum;
}
BENCHMARK(BM_BareLoop)->Arg(50)->Arg(200)->Arg(500)->UseRealTime()->Unit(benchmark::kMillisecond);

// One full model computation, reported per line of the sample.
void BM_ModelPerLine(benchmark::State& state) {
  EbfModel& model = Sample().Model();
  const size_t lines = model.Table().lines.size();
  const ModelParameters at = FitRequestFromFields(SampleFields(50), kArgonMassAmu).target.start;
  for (auto _ : state) {
    benchmark::DoNotOptimize(model.Evaluate(at, 0));
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
