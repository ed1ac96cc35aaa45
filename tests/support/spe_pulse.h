// A pulsed discharge recorded by an ICCD as an SPE file, for the tests of
// the command line and the window: frames of 1 024 pixels between the argon
// samples at 2E15 and 1.5E17 m^-3, and each frame as the text a
// spectrometer program would export.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/support/spe_writer.h"
#include "tests/support/synthetic_recording.h"

namespace lumora::testing {

inline constexpr size_t kPulsePixels = 1024;
inline constexpr int64_t kPulseTicksApart = 10;  // microseconds between the exposures' starts
// The wavelength of pixel p (from 1), 690 to 860 nm.
inline const std::vector<double> kPulsePolynomial = {689.8, 0.168, -1.5e-6};

// The weight of the dense state at frame k of `frames`: it rises while the
// discharge is on and falls after it.
inline double PulseWeight(size_t k, size_t frames) {
  const double t = static_cast<double>(k) / static_cast<double>(frames);
  return t < 0.4 ? 1 - std::exp(-t / 0.1) : (1 - std::exp(-4.0)) * std::exp(-(t - 0.4) / 0.15);
}

// Each frame's line areas mixed from the two samples by PulseWeight,
// Gaussian lines of 0.5 nm on a sloping continuum, 2 % noise, whole counts;
// SPE 3.0 with the wavelengths and the exposures' start in microseconds, or
// SPE 2.x with the header's polynomial.
inline SpeContent SpePulse(bool version3, size_t frames) {
  const std::string samples = std::string(LUMORA_SOURCE_DIR) + "/data/measurements/";
  std::map<double, double> low, high;
  for (const auto& l : ReadMeasurementAreas(samples + "argon_n2e15.txt")) low[l.wavelength] = l.area;
  for (const auto& l : ReadMeasurementAreas(samples + "argon_n1.5e17_strong.txt"))
    high[l.wavelength] = l.area;
  SpeContent c;
  c.version3 = version3;
  c.dataType = 3;
  c.regions = {{kPulsePixels, 1}};
  c.polynomial = kPulsePolynomial;
  const std::vector<double> wavelength = PolynomialWavelengths(kPulsePolynomial, kPulsePixels);
  if (version3) {
    c.wavelength = wavelength;
    c.ticksPerSecond = 1e6;
  }
  const double sigma = 0.5 / (2 * std::sqrt(2 * std::log(2.0)));
  std::mt19937_64 random(37);
  std::normal_distribution<double> noise(0, 0.02);
  for (size_t k = 0; k < frames; ++k) {
    const double w = PulseWeight(k, frames);
    std::vector<double> counts(kPulsePixels);
    for (size_t p = 0; p < kPulsePixels; ++p) {
      double expected = 1000 - 400 * static_cast<double>(p) / kPulsePixels;
      for (const auto& [line, area] : low) {
        if (!high.count(line)) continue;
        const double z = (wavelength[p] - line) / sigma;
        expected += ((1 - w) * area + w * high[line]) * 0.6 * std::exp(-0.5 * z * z);
      }
      counts[p] = std::clamp(std::round(expected * (1 + noise(random))), 0.0, 65535.0);
    }
    c.frames.push_back(counts);
    c.startTicks.push_back(987654321 + static_cast<int64_t>(k) * kPulseTicksApart);
  }
  return c;
}

// Frame k as a spectrometer's text: exact wavelengths, whole counts.
inline std::string SpeFrameText(const SpeContent& c, size_t k) {
  const std::vector<double> wavelength = PolynomialWavelengths(kPulsePolynomial, kPulsePixels);
  std::string text = "wavelength_nm,counts\n";
  for (size_t p = 0; p < kPulsePixels; ++p)
    text += ShortestText(wavelength[p]) + "," + ShortestText(c.frames[k][p]) + "\n";
  return text;
}

}  // namespace lumora::testing
