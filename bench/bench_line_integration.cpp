// From a recorded spectrum to line intensities: a 100 000-point synthetic
// spectrum of the bundled argon lines (660 to 985 nm, Gaussian lines of FWHM
// 0.3 nm, Poisson noise, the strongest peak at S/N 300) integrated against
// the bundled line base. Compare with bench/numpy_line_integration.py, which does the
// same baseline and integration with NumPy on the same kind of spectrum.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "model/baseline.h"
#include "model/element_data.h"
#include "model/line_integration.h"
#include "model/recording_file.h"
#include "tests/support/synthetic_recording.h"

namespace {

using namespace lumora;

const std::string kData = std::string(LUMORA_SOURCE_DIR) + "/data/";
constexpr size_t kPoints = 100000;

struct Fixture {
  std::string text;
  IntegrationInput input;
};

// The spectrum's text, parsed, and the base's lines, made once.
const Fixture& Data() {
  static const Fixture* const fixture = [] {
    auto* f = new Fixture;
    testing::SyntheticSpectrum s;
    s.step = (s.to - s.from) / static_cast<double>(kPoints - 1);
    f->text = testing::MakeSpectrum(
                  testing::ReadMeasurementAreas(kData + "measurements/argon_n2e15.txt"), s)
                  .text;
    f->input.spectrum = ParseSpectrum(f->text, "bench");
    const auto base = OpenLineBase(kData + "database", "Ar, I");
    for (int32_t i = 0; i < base->AtomLength(); ++i)
      f->input.lines.push_back(base->GetAtomRecord(i));
    return f;
  }();
  return *fixture;
}

// The whole integration with the FWHM given (0) or estimated (1).
void BM_Integrate(benchmark::State& state) {
  const Fixture& f = Data();
  IntegrationOptions options;
  if (state.range(0) == 0) options.fwhm = 0.3;
  for (auto _ : state) {
    const IntegrationResult r = IntegrateLines(f.input, options);
    benchmark::DoNotOptimize(r.lines.front().area);
  }
  state.counters["points"] = static_cast<double>(f.input.spectrum.size());
}
BENCHMARK(BM_Integrate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The SNIP baseline alone, with the clipping the integration uses for a
// 0.3 nm FWHM (two windows of +-2 FWHM).
void BM_SnipBaseline(benchmark::State& state) {
  const Fixture& f = Data();
  const double step = (f.input.spectrum.wavelength.back() - f.input.spectrum.wavelength.front()) /
                      static_cast<double>(kPoints - 1);
  const int clip = static_cast<int>(std::ceil(1.2 / step)) + 1;
  const int smooth = static_cast<int>(0.15 / step);
  for (auto _ : state)
    benchmark::DoNotOptimize(SnipBaseline(f.input.spectrum.intensity, clip, smooth));
  state.counters["clip"] = clip;
}
BENCHMARK(BM_SnipBaseline)->Unit(benchmark::kMillisecond);

// Reading the spectrum's text.
void BM_ParseSpectrum(benchmark::State& state) {
  const Fixture& f = Data();
  for (auto _ : state) benchmark::DoNotOptimize(ParseSpectrum(f.text, "bench").size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.text.size()));
}
BENCHMARK(BM_ParseSpectrum)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
