// The pieces a fit spends its time in besides the model's exponentials: the
// cache look-ups that answer the minimiser's per-line requests, and the
// number formatting of the fit log and the results line.
#include <benchmark/benchmark.h>

#include <string>

#include "base/format.h"
#include "model/atomicdata.h"
#include "model/ebfmodel.h"

namespace {

using namespace lumora;

void LoadSample() {
  static bool loaded = false;
  if (loaded) return;
  const std::string data = std::string(LUMORA_SOURCE_DIR) + "/data/";
  ChangeElement(data + "database", "Ar_I_levels.txt", "Ar, I", false);
  ImportIntensities(data + "measurements/argon_n2e15.txt");
  ComputeBranchingFractions();
  loaded = true;
}

vector SampleVector(long double log10Density) {
  vector b;
  b[1] = log10Density;
  b[2] = 1000;
  b[3] = 300;
  b[4] = 1;
  b[5] = 39.948L * kAtomicMassUnit;
  b[6] = 4;
  b[8] = 50;
  return b;
}

// One line of a cached vector, as a derivative pass asks for them: two
// shifted vectors in turn, with a few older entries behind them.
void BM_CachedLookup(benchmark::State& state) {
  LoadSample();
  ClearPrecalc();
  for (int e = 0; e < 8; ++e) EvaluateModel(SampleVector(15 + e * 0.125L), 0);
  const vector plus = SampleVector(16.08L);
  const vector minus = SampleVector(15.92L);
  EvaluateModel(plus, 0);
  EvaluateModel(minus, 0);
  const long double lines = static_cast<long double>(LineArray.size());
  long double x = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(EvaluateModel(plus, x));
    benchmark::DoNotOptimize(EvaluateModel(minus, x));
    x = x + 1 < lines ? x + 1 : 0;
  }
  state.SetItemsProcessed(state.iterations() * 2);
  ClearPrecalc();
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
