// From a recorded spectrum to line intensities: the optional dark and
// response corrections, the continuum, a global wavelength offset, the line
// width, and for every line of the line base inside the spectrum its net
// area, peak, baseline and signal-to-noise ratio, with the flags that keep
// a line out of the measurement.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "linedb/line_file.h"
#include "model/recording_file.h"

namespace lumora {

// Why a line is kept out of the measurement; a line may carry several.
enum LineFlag : unsigned {
  kFlagSaturated = 1u << 0,  // three or more neighbouring points at the ceiling
  kFlagBlend = 1u << 1,      // another line with Aki >= 1 % of its own inside its window
  kFlagWeak = 1u << 2,       // signal-to-noise ratio below the minimum (raised for the
                             // places a shift let the line take), or an area of 0 or below
  kFlagEdge = 1u << 3,       // its window leaves the spectrum
};

// "saturated", "blend", "weak", "edge" joined by ","; empty for none.
std::string LineFlagText(unsigned flags);

// A neighbour blends a line when its Aki is at least this share of the line's.
inline constexpr double kBlendAkiShare = 0.01;
// Neighbouring points at the ceiling that make a flat (saturated) top.
inline constexpr int kSaturatedRun = 3;

// The shift search's test: the shift found is taken only when Gaussians of
// the FWHM at the shifted positions of the strongest lines (up to this many,
// each with a free height) fit them better than at their own wavelengths by
// a chi-square drop above the kShiftTestLevel quantile of a chi-square of
// one degree of freedom (the shift), 15.1; otherwise the shift is 0. A
// shift taken raises the S/N a line needs (see IntegrateLines).
inline constexpr size_t kShiftTestLines = 5;
inline constexpr double kShiftTestLevel = 1e-4;

struct IntegrationOptions {
  std::optional<double> fwhm;        // nm; empty: from the strongest isolated unsaturated lines
  double windowFactor = 2;           // the window is the line centre +- this many FWHM
  double shiftMax = 0.2;             // nm; largest global offset searched for
  double minSnr = 3;                 // below it a line is weak
  std::optional<double> saturation;  // counts; empty: the spectrum's maximum value
  // Called between the integration's steps; it may throw to stop a long
  // integration (the caller's cancel or Ctrl+C).
  std::function<void()> checkpoint;
};

struct IntegrationInput {
  Spectrum spectrum;                 // counts as recorded
  std::optional<Spectrum> dark;      // subtracted point by point; the same grid
  std::optional<Spectrum> response;  // relative sensitivity the intensities are divided by
  std::vector<TRecord> lines;        // the line base's lines, ascending
};

struct LineIntegral {
  TRecord line;                   // the line base's record
  double center = 0;              // nm: the line's wavelength plus the shift
  double windowFrom = 0;          // nm
  double windowTo = 0;            // nm
  double area = 0;                // net area, intensity x nm, divided by the response
  double peak = 0;                // largest net value within half a FWHM of the centre, / response
  double baseline = 0;            // the continuum at the centre, divided by the response
  double snr = 0;                 // net area / its standard deviation, both in counts
  bool noiseFromQuantum = false;  // no scatter beside the line: its noise is the data's step
  unsigned flags = 0;             // LineFlag bits
};

struct IntegrationResult {
  Spectrum spectrum;             // as integrated: dark subtracted, not divided by the response
  std::vector<double> baseline;  // the continuum at every point, in counts, for display
  double fwhm = 0;               // nm
  bool fwhmEstimated = false;
  double shift = 0;                 // nm; a line of the base appears at wavelength + shift
  // A shift was searched for (shiftMax above 0) but the data showed none: no
  // trial fitted the strongest lines significantly better than no shift.
  bool noShiftFound = false;
  std::vector<LineIntegral> lines;  // every line inside the spectrum, ascending
};

// With a shift taken, a line needs the S/N whose one-sided tail probability
// is that of minSnr divided by 1 + 2 shiftMax / its window's width (the
// independent places the search let the window take): 3.09 for 3 with the
// defaults.
// Raises Error for options out of range, a dark spectrum on another grid, a
// spectrum without a line of the base, a response that does not cover a
// line or is 0 or below at one, and a width that cannot be estimated.
IntegrationResult IntegrateLines(const IntegrationInput& input, const IntegrationOptions& options);

// The value a line's area enters the measurement with: 8 significant digits,
// the precision a measurement file is written with.
double MeasurementIntensity(double area);

}  // namespace lumora
