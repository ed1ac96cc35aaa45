// From a recorded spectrum to line intensities: a 100 000-point synthetic
// spectrum of the bundled argon lines (660 to 985 nm, Gaussian lines of FWHM
// 0.3 nm, Poisson noise, the strongest peak at S/N 300) integrated against
// the bundled line base. Compare with bench/numpy_line_integration.py, which does the
// same baseline and integration with NumPy on the same kind of spectrum.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

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
  const size_t clip = static_cast<size_t>(std::ceil(1.2 / step)) + 1;
  const size_t smooth = static_cast<size_t>(0.15 / step);
  for (auto _ : state)
    benchmark::DoNotOptimize(SnipBaseline(f.input.spectrum.intensity, clip, smooth));
  state.counters["clip"] = static_cast<double>(clip);
}
BENCHMARK(BM_SnipBaseline)->Unit(benchmark::kMillisecond);

// The integration of 10^5, 10^6 and 10^7 points over the same range with
// the FWHM given: the time should grow with the points, not with the points
// times the clipping width. The spectrum is made in memory, noiseless, so
// that making it does not dominate; peak_rss_mb is the process's peak.
void BM_IntegratePoints(benchmark::State& state) {
  const size_t points = static_cast<size_t>(state.range(0));
  IntegrationInput input;
  input.lines = Data().input.lines;
  input.spectrum.source = "bench";
  input.spectrum.wavelength.resize(points);
  input.spectrum.intensity.resize(points);
  const double sigma = 0.3 / (2 * std::sqrt(2 * std::log(2.0)));
  for (size_t i = 0; i < points; ++i) {
    const double x = 660 + 325.0 * static_cast<double>(i) / static_cast<double>(points - 1);
    double y = 400 - 150 * (x - 660) / 325;
    for (const TRecord& r : input.lines) {
      const double z = (x - r.WaveLength) / sigma;
      if (std::fabs(z) < 12) y += 1000 * std::exp(-0.5 * z * z);
    }
    input.spectrum.wavelength[i] = x;
    input.spectrum.intensity[i] = std::floor(y);
  }
  IntegrationOptions options;
  options.fwhm = 0.3;
  for (auto _ : state) {
    const IntegrationResult r = IntegrateLines(input, options);
    benchmark::DoNotOptimize(r.lines.front().area);
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_mb"] = static_cast<double>(usage.ru_maxrss) / 1024;
}
BENCHMARK(BM_IntegratePoints)
    ->Arg(100000)
    ->Arg(1000000)
    ->Arg(10000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// Reading the spectrum's text.
void BM_ParseSpectrum(benchmark::State& state) {
  const Fixture& f = Data();
  for (auto _ : state) benchmark::DoNotOptimize(ParseSpectrum(f.text, "bench").size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.text.size()));
}
BENCHMARK(BM_ParseSpectrum)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
