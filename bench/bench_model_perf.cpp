// The pieces a fit spends its time in besides the model's exponentials: the
// cache look-ups that answer the minimiser's per-line requests, and the
// number formatting of the fit log and the results line.
#include <benchmark/benchmark.h>

#include <string>

#include "base/format.h"
#include "model/session.h"

namespace {

using namespace lumora;

// The sample's model, read and recalculated once for all benchmarks.
EbfModel& SampleModel() {
  static Session* const session = [] {
    const std::string data = std::string(LUMORA_SOURCE_DIR) + "/data/";
    auto* s = new Session();
    s->ChangeElement({data + "database", "Ar_I_levels.txt", "Ar, I"});
    s->ReadMeasurement(data + "measurements/argon_n2e15.txt");
    s->Recalculate();
    return s;
  }();
  return session->Model();
}

ModelParameters SampleParameters(long double log10Density) {
  ModelParameters p;
  p.log10N1 = log10Density;
  p.second = 1000;
  p.gasTemperature = 300;
  p.path = 1;
  p.mass = 39.948L * kAtomicMassUnit;
  p.levelCount = 4;
  return p;
}

// One line of a cached vector, as a derivative pass asks for them: two
// shifted vectors in turn, with a few older entries behind them.
void BM_CachedLookup(benchmark::State& state) {
  EbfModel& model = SampleModel();
  model.ClearCache();
  for (int e = 0; e < 8; ++e) model.Evaluate(SampleParameters(15 + e * 0.125L), 0);
  const ModelParameters plus = SampleParameters(16.08L);
  const ModelParameters minus = SampleParameters(15.92L);
  model.Evaluate(plus, 0);
  model.Evaluate(minus, 0);
  const int lines = static_cast<int>(model.Table().lines.size());
  int x = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(model.Evaluate(plus, x));
    benchmark::DoNotOptimize(model.Evaluate(minus, x));
    x = x + 1 < lines ? x + 1 : 0;
  }
  state.SetItemsProcessed(state.iterations() * 2);
  model.ClearCache();
}
BENCHMARK(BM_CachedLookup);

const long double kValues[] = {15.30103L, 999.999967L, 1.4913e-16L, -0.75L, 2.0e15L, 12345.678L};

// The exponent fields of the iteration table (widths 12 and 15).
void BM_ExpField(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ExpField(kValues[i], width));
    i = (i + 1) % std::size(kValues);
  }
}
BENCHMARK(BM_ExpField)->Arg(12)->Arg(15);

// The conversions of the report and the results line.
void BM_Format(benchmark::State& state) {
  static const char* const kFormats[] = {"%.3e", "%15.4e", "%.5e", "%5.0f", "%6.2f"};
  const char* format = kFormats[state.range(0)];
  state.SetLabel(format);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Format(format, kValues[i]));
    i = (i + 1) % std::size(kValues);
  }
}
BENCHMARK(BM_Format)->DenseRange(0, 4);

void BM_FloatToStr(benchmark::State& state) {
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FloatToStr(kValues[i]));
    i = (i + 1) % std::size(kValues);
  }
}
BENCHMARK(BM_FloatToStr);

}  // namespace

BENCHMARK_MAIN();
