// Synthetic recorded spectra for the tests and benchmarks, so that they need
// no Python: Gaussian lines on a sloping continuum, Poisson counts from a
// fixed seed, an optional wavelength offset and detector ceiling, written as
// a spectrometer's text with a header line. data/make_recording.py makes the
// installed samples the same way.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace lumora::testing {

struct SyntheticLine {
  double wavelength = 0;  // nm, as the line base holds it
  double area = 0;        // counts x nm
};

struct SyntheticSpectrum {
  double from = 660, to = 985, step = 0.05;       // nm; the mean step
  double stepRatio = 1;                           // last step over first; they change evenly
  double fwhm = 0.3;                              // nm
  double offset = 0;                              // nm: every line appears this much redder
  double continuumFrom = 400, continuumTo = 250;  // counts at the two ends
  double peakSnr = 300;                           // Poisson S/N of the strongest peak; 0: noiseless
  std::optional<double> clip;                     // detector ceiling, counts
  uint64_t seed = 1;
};

struct MadeSpectrum {
  std::string text;
  std::vector<SyntheticLine> lines;  // the areas put in
  double ceiling = 0;                // the largest count written
};

// The lines of a measurement file ("wavelength<TAB>intensity" rows) as
// relative areas.
inline std::vector<SyntheticLine> ReadMeasurementAreas(const std::string& path) {
  std::vector<SyntheticLine> lines;
  std::ifstream in(path);
  for (SyntheticLine l; in >> l.wavelength >> l.area;) lines.push_back(l);
  return lines;
}

// Scales the relative areas so that the strongest line's peak has the S/N
// asked for (peak / sqrt(peak + continuum)) and draws the counts.
inline MadeSpectrum MakeSpectrum(const std::vector<SyntheticLine>& relative,
                                 const SyntheticSpectrum& s) {
  const double sigma = s.fwhm / (2 * std::sqrt(2 * std::log(2.0)));
  const double areaPerPeak = sigma * std::sqrt(2 * std::acos(-1.0));
  const size_t count = static_cast<size_t>(std::lround((s.to - s.from) / s.step)) + 1;
  auto continuum = [&](double x) {
    return s.continuumFrom + (s.continuumTo - s.continuumFrom) * (x - s.from) / (s.to - s.from);
  };
  const auto strongest = std::max_element(
      relative.begin(), relative.end(),
      [](const SyntheticLine& a, const SyntheticLine& b) { return a.area < b.area; });
  const double snr = s.peakSnr > 0 ? s.peakSnr : 300;
  const double base = continuum(strongest->wavelength + s.offset);
  const double peak = 0.5 * (snr * snr + std::sqrt(std::pow(snr, 4) + 4 * snr * snr * base));
  const double scale = peak * areaPerPeak / strongest->area;

  MadeSpectrum made;
  for (const SyntheticLine& l : relative) made.lines.push_back({l.wavelength, l.area * scale});
  std::mt19937_64 random(s.seed);
  made.text = "# synthetic spectrum\nwavelength_nm,counts\n";
  // Steps growing evenly from first to last, as a grating's dispersion
  // makes them on a wavelength axis.
  const double intervals = static_cast<double>(count - 1);
  const double firstStep = 2 * (s.to - s.from) / (intervals * (1 + s.stepRatio));
  auto at = [&](size_t i) {
    const double k = static_cast<double>(i);
    if (s.stepRatio == 1) return s.from + s.step * k;
    return s.from + firstStep * (k + (s.stepRatio - 1) * k * k / (2 * intervals));
  };
  for (size_t i = 0; i < count; ++i) {
    const double x = at(i);
    double expected = continuum(x);
    for (const SyntheticLine& l : made.lines) {
      const double z = (x - l.wavelength - s.offset) / sigma;
      if (std::fabs(z) < 12) expected += l.area / areaPerPeak * std::exp(-0.5 * z * z);
    }
    double counts = expected;
    if (s.peakSnr > 0)
      counts = static_cast<double>(std::poisson_distribution<long long>(expected)(random));
    if (s.clip) counts = std::min(counts, *s.clip);
    made.ceiling = std::max(made.ceiling, counts);
    char row[64];
    std::snprintf(row, sizeof row, "%.4f,%.6f\n", x, counts);
    made.text += row;
  }
  return made;
}

}  // namespace lumora::testing
