// Recorded spectra: a text file of two or more columns, wavelength in nm and
// intensity (further columns ignored), separated by blanks, tabs, commas or
// semicolons, "." as the decimal separator. Leading lines that are not two
// numbers (headers, comments, a spectrometer's preamble) are skipped, and a
// text line after the data (a trailer) ends them. Either wavelength order is
// read; the result is always ascending.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"

namespace lumora {

// Fewer points than this are not a recording but a typing slip.
inline constexpr size_t kMinimumSpectrumPoints = 10;
// A recording's steps stay within this factor of their median.
inline constexpr double kStepSpread = 3;

// What the exports of spectrometer programs write above their columns, as
// "key: value" (or "key;value", "key=value", "key<TAB>value") lines:
//   "Integration Time (usec): 100000", "Integration time [ms]: 100.000",
//   "Exposure time: 0.1 s": the integration time, whose unit the key or the
//   value names (s, sec, ms, msec, us, usec);
//   "Scans to average: 10", "Spectra Averaged: 10 (USB2E1234)",
//   "Averaging Nr. [scans]: 10": the spectra averaged;
//   "Date: Mon Mar 01 10:15:30 CET 2026", "Date: 2026-03-01 10:15:30",
//   "Date: 01.03.2026" with "Time: 10:15:30": when the spectrum was taken
//   (a zone abbreviation such as CET or EDT is taken into account, none means
//   UTC);
//   "Units: counts", "Intensity units: ...": the intensities' unit.
struct RecordingHeader {
  std::optional<double> integrationSeconds;
  std::optional<long long> averages;
  std::optional<std::chrono::nanoseconds> taken;  // since the Unix epoch
  std::string intensityUnit;
};
// Reads the lines before the first row of two numbers.
RecordingHeader ParseRecordingHeader(std::string_view text);

struct Spectrum {
  std::string source;              // the file it came from, for messages
  std::vector<double> wavelength;  // nm, strictly ascending
  std::vector<double> intensity;
  RecordingHeader header;          // what a text export says above its columns
  size_t size() const { return wavelength.size(); }
};

// A file that is not a usable spectrum; the message names the file and,
// where it applies, the line.
class SpectrumFileError : public Error {
 public:
  using Error::Error;
};

// What a file holds: a spectrometer's recording, sampled on a grid whose
// steps change slowly if at all, or a curve (a response) tabulated at as
// few as two wavelengths of any spacing.
enum class SpectrumKind { Recorded, Curve };


// Parses a spectrum from text; `source` names it in messages. Refuses text
// without numeric rows, with too few points (kMinimumSpectrumPoints for a
// recording, 2 for a curve), with a value that is not finite, with a
// wavelength axis that is not strictly monotonic, a wavelength without an
// intensity, and numeric rows after a trailer. A recording is also refused
// when a step is more than three times or less than a third of the median
// step: a row from elsewhere, which would move every area.
Spectrum ParseSpectrum(std::string_view text, const std::string& source,
                       SpectrumKind kind = SpectrumKind::Recorded);

// Reads and parses a file; InOutError when it cannot be read.
Spectrum ReadSpectrumFile(const std::string& path, SpectrumKind kind = SpectrumKind::Recorded);

// The sampling step of an ascending axis of two or more points: the median
// of its steps, which one stray or missing point does not move.
double MedianStep(const std::vector<double>& x);

// A wavelength step or range as messages show it, to six significant
// digits: steps between decimals read from text differ from them in the last
// bits, which the reader should not see.
std::string ShownNm(double value);

// Linear interpolation at x inside [front, back] of an ascending axis.
double InterpolateAt(const std::vector<double>& x, const std::vector<double>& y, double at);

}  // namespace lumora
