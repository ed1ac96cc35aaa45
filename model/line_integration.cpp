#include "model/line_integration.h"

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/normal.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "base/format.h"
#include "model/baseline.h"

namespace lumora {

namespace {

// Lines whose width the estimate takes the median of.
constexpr size_t kWidthSampleLines = 5;
// Line-free points a noise estimate needs before its neighbourhood stops growing.
constexpr size_t kNoisePoints = 60;
// The median absolute deviation times this is the standard deviation of
// normally distributed noise.
constexpr double kMadToSigma = 1.4826;
// How far the median of photon counts lies below their mean, whatever
// their level (Pearson's rule: skewness 1 / sqrt(mean) times the standard
// deviation sqrt(mean) over 6). The lift is the median, so a window of
// thousands of points would sum this into a line: the S/N test takes it
// off the area.
constexpr double kCountsMedianBelowMean = 1.0 / 6;
// The baseline's clipping half width in line windows.
constexpr double kClipWindows = 1;

// ---- options and corrections

void CheckOptions(const IntegrationOptions& o) {
  auto positive = [](double v) { return std::isfinite(v) && v > 0; };
  if (o.fwhm && !positive(*o.fwhm))
    throw Error(Format("The FWHM must be greater than 0 nm, not %s.", MessageNumber(*o.fwhm)));
  if (!positive(o.windowFactor))
    throw Error(
        Format("The window must be greater than 0 FWHM, not %s.", MessageNumber(o.windowFactor)));
  if (!(std::isfinite(o.shiftMax) && o.shiftMax >= 0))
    throw Error(
        Format("The largest shift must be 0 nm or more, not %s.", MessageNumber(o.shiftMax)));
  if (!(std::isfinite(o.minSnr) && o.minSnr >= 0))
    throw Error(Format("The minimum S/N must be 0 or more, not %s.", MessageNumber(o.minSnr)));
  if (o.saturation && !positive(*o.saturation))
    throw Error(Format("The saturation level must be greater than 0, not %s.",
                       MessageNumber(*o.saturation)));
}

// The sampling the option ranges are measured against.
struct Grid {
  double step = 0;  // nm, the median step
  double span = 0;  // nm, first to last point
};

Grid GridOf(const std::vector<double>& x) { return {MedianStep(x), x.back() - x.front()}; }

// Narrower than two steps a line is not resolved; wider than a quarter of
// the spectrum its window leaves no continuum to measure.
double NarrowestFwhm(const Grid& g) { return 2 * g.step; }
double WidestFwhm(const Grid& g) { return g.span / 4; }

void CheckFwhmInGrid(double fwhm, const Grid& g) {
  if (fwhm >= NarrowestFwhm(g) && fwhm <= WidestFwhm(g)) return;
  throw Error(
      Format("The FWHM must lie between %s and %s nm (two sampling steps and a quarter of the "
             "spectrum's span), not %s nm.",
             ShownNm(NarrowestFwhm(g)), ShownNm(WidestFwhm(g)), MessageNumber(fwhm)));
}

// The half window must reach the next point and the whole window fit into
// the spectrum.
void CheckWindowInGrid(double windowFactor, double fwhm, const Grid& g) {
  const double narrowest = g.step / fwhm, widest = g.span / (2 * fwhm);
  if (windowFactor >= narrowest && windowFactor <= widest) return;
  throw Error(Format(
      "The window must lie between %s and %s FWHM, a half width of %s to %s nm with a FWHM of "
      "%s nm, not %s FWHM.",
      ShownNm(narrowest), ShownNm(widest), ShownNm(g.step), ShownNm(g.span / 2), ShownNm(fwhm),
      MessageNumber(windowFactor)));
}

// The options that depend on the spectrum's grid; with an estimated FWHM
// the window is checked once the estimate is known.
void CheckOptionsInGrid(const IntegrationOptions& o, const Grid& g) {
  if (o.shiftMax > g.span)
    throw Error(
        Format("The largest shift must lie between 0 and %s nm (the spectrum's span), not %s nm.",
               ShownNm(g.span), MessageNumber(o.shiftMax)));
  if (o.fwhm) {
    CheckFwhmInGrid(*o.fwhm, g);
    CheckWindowInGrid(o.windowFactor, *o.fwhm, g);
  } else if (o.windowFactor > g.span / (2 * NarrowestFwhm(g))) {
    // Too wide for any FWHM: refused before every line is taken for a blend.
    CheckWindowInGrid(o.windowFactor, NarrowestFwhm(g), g);
  }
}

// The counts less the dark spectrum, which must share the spectrum's grid.
std::vector<double> SubtractDark(const Spectrum& spectrum, const Spectrum& dark, double step) {
  if (dark.size() != spectrum.size())
    throw Error(Format("%s: the dark spectrum has %d points, %s has %d; they must share one grid.",
                       dark.source, static_cast<long long>(dark.size()), spectrum.source,
                       static_cast<long long>(spectrum.size())));
  const double tolerance = 1e-3 * step;
  std::vector<double> counts = spectrum.intensity;
  for (size_t i = 0; i < counts.size(); ++i) {
    if (std::fabs(dark.wavelength[i] - spectrum.wavelength[i]) > tolerance)
      throw Error(
          Format("%s: point %d of the dark spectrum is at %s nm, in %s at %s nm; they "
                 "must share one grid.",
                 dark.source, static_cast<long long>(i + 1), MessageNumber(dark.wavelength[i]),
                 spectrum.source, MessageNumber(spectrum.wavelength[i])));
    counts[i] -= dark.intensity[i];
  }
  return counts;
}

double ResponseAt(const Spectrum& response, const LineIntegral& line) {
  const std::vector<double>& x = response.wavelength;
  if (line.center < x.front() || line.center > x.back())
    throw Error(Format("%s covers %s to %s nm and not the line %s nm.", response.source,
                       MessageNumber(x.front()), MessageNumber(x.back()),
                       MessageNumber(line.line.WaveLength)));
  const double value = InterpolateAt(x, response.intensity, line.center);
  if (!(value > 0))
    throw Error(Format("%s: the response is %s at the line %s nm; it must be greater than 0.",
                       response.source, MessageNumber(value), MessageNumber(line.line.WaveLength)));
  return value;
}

// ---- index ranges on the wavelength axis

size_t FirstAtOrAbove(const std::vector<double>& x, double at) {
  return static_cast<size_t>(std::lower_bound(x.begin(), x.end(), at) - x.begin());
}

size_t FirstAbove(const std::vector<double>& x, double at) {
  return static_cast<size_t>(std::upper_bound(x.begin(), x.end(), at) - x.begin());
}

double Median(std::vector<double> v) {
  const size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + mid, v.end());
  const double upper = v[mid];
  if (v.size() % 2) return upper;
  return 0.5 * (upper + *std::max_element(v.begin(), v.begin() + mid));
}

// ---- saturation

// Whether kSaturatedRun neighbouring points of [from, to) reach the ceiling.
bool HasFlatTop(const std::vector<double>& raw, size_t from, size_t to, double ceiling) {
  int run = 0;
  for (size_t i = from; i < to; ++i) {
    run = raw[i] >= ceiling ? run + 1 : 0;
    if (run >= kSaturatedRun) return true;
  }
  return false;
}

// ---- line width

struct WidthCandidate {
  double height = 0;
  double width = 0;
  double wavelength = 0;
};

// Points on either side of a peak that the width measurement looks at: the
// continuum is their median (lines cover a small part of an emission
// spectrum), and the half-height crossings must lie among them.
size_t WidthSearchPoints(size_t points) { return std::max<size_t>(points / 50, 20); }

double LocalMedian(const std::vector<double>& y, size_t center, size_t reach) {
  const size_t from = center > reach ? center - reach : 0;
  const size_t to = std::min(y.size(), center + reach + 1);
  return Median(std::vector<double>(y.begin() + from, y.begin() + to));
}

// Where y first falls to `level` walking from the peak in `direction`, by
// linear interpolation; nullopt when a higher point or the end of the reach
// comes first.
std::optional<double> HalfCrossing(const std::vector<double>& x, const std::vector<double>& y,
                                   size_t peak, int direction, size_t reach, double level) {
  size_t i = peak;
  for (size_t k = 0; k < reach; ++k) {
    if (direction < 0 ? i == 0 : i + 1 >= y.size()) return std::nullopt;
    const size_t j = direction < 0 ? i - 1 : i + 1;
    if (y[j] > y[peak]) return std::nullopt;
    if (y[j] <= level) return x[i] + (x[j] - x[i]) * (y[i] - level) / (y[i] - y[j]);
    i = j;
  }
  return std::nullopt;
}

// The full width at half its height above the local continuum of the peak
// at index `peak`.
std::optional<WidthCandidate> MeasureWidth(const std::vector<double>& x,
                                           const std::vector<double>& y, size_t peak) {
  const size_t reach = WidthSearchPoints(y.size());
  const double floor = LocalMedian(y, peak, reach);
  const double height = y[peak] - floor;
  if (!(height > 0)) return std::nullopt;
  const double level = floor + 0.5 * height;
  const auto lo = HalfCrossing(x, y, peak, -1, reach, level);
  const auto hi = HalfCrossing(x, y, peak, +1, reach, level);
  if (!lo || !hi) return std::nullopt;
  return WidthCandidate{height, *hi - *lo, x[peak]};
}

// Another line whose Aki is at least kBlendAkiShare of this one's inside
// its window; lines[k] is the line itself.
unsigned BlendFlag(const std::vector<TRecord>& lines, size_t k, double halfWindow) {
  for (size_t j = 0; j < lines.size(); ++j)
    if (j != k && std::fabs(lines[j].WaveLength - lines[k].WaveLength) <= halfWindow &&
        lines[j].Aki >= kBlendAkiShare * lines[k].Aki)
      return kFlagBlend;
  return 0;
}

// The median width of the strongest isolated, unsaturated lines: for each
// line the highest point within the shift range is taken as its peak.
double EstimateFwhm(const Spectrum& spectrum, const std::vector<double>& counts,
                    const std::vector<double>& raw, double ceiling,
                    const std::vector<TRecord>& lines, const IntegrationOptions& o) {
  const std::vector<double>& x = spectrum.wavelength;
  std::vector<WidthCandidate> found;
  for (size_t k = 0; k < lines.size(); ++k) {
    const double wl = lines[k].WaveLength;
    size_t from = FirstAtOrAbove(x, wl - o.shiftMax), to = FirstAbove(x, wl + o.shiftMax);
    if (from == to) {  // the shift range falls between two points: take both
      from = from > 0 ? from - 1 : from;
      to = std::min(to + 1, x.size());
    }
    const size_t peak = static_cast<size_t>(
        std::max_element(counts.begin() + from, counts.begin() + to) - counts.begin());
    if (peak == 0 || peak + 1 >= x.size()) continue;
    if (counts[peak - 1] > counts[peak] || counts[peak + 1] > counts[peak]) continue;
    const std::optional<WidthCandidate> width = MeasureWidth(x, counts, peak);
    if (!width) continue;
    const double half = o.windowFactor * width->width;
    if (BlendFlag(lines, k, half)) continue;
    if (HasFlatTop(raw, FirstAtOrAbove(x, width->wavelength - half),
                   FirstAbove(x, width->wavelength + half), ceiling))
      continue;
    found.push_back(*width);
  }
  if (found.empty())
    throw Error(spectrum.source +
                ": no isolated unsaturated line to estimate the FWHM from; give the FWHM.");
  std::sort(found.begin(), found.end(),
            [](const WidthCandidate& a, const WidthCandidate& b) { return a.height > b.height; });
  found.resize(std::min(found.size(), kWidthSampleLines));
  std::vector<double> widths;
  for (const WidthCandidate& c : found) widths.push_back(c.width);
  return Median(widths);
}

// ---- wavelength offset

// The offset that puts the most net signal at the lines' wavelengths: the
// sum of the net spectrum at every line moved by a trial shift, on a grid
// of an eighth of the FWHM (half a point at most, a 64th of the FWHM at
// least), refined by a parabola
// through the best trial and its neighbours.
double FindShift(const std::vector<double>& x, const std::vector<double>& net,
                 const std::vector<TRecord>& lines, double fwhm, double shiftMax, double gridStep) {
  if (shiftMax <= 0) return 0;
  // Finer than a 64th of the FWHM the trials only cost time: the parabola
  // refines the best one, and on fine grids the trials would grow with the
  // points.
  const double step = std::max(std::min(fwhm / 8, 0.5 * gridStep), fwhm / 64);
  // The options keep shiftMax within the span and the FWHM above two steps,
  // so the trials are at most a few times the points.
  const long long half = static_cast<long long>(std::ceil(shiftMax / step));
  auto trial = [&](long long k) {
    return std::clamp(static_cast<double>(k) * step, -shiftMax, shiftMax);
  };
  auto score = [&](long long k) {
    const double shift = trial(k);
    double sum = 0;
    for (const TRecord& r : lines) {
      const double at = r.WaveLength + shift;
      if (at >= x.front() && at <= x.back()) sum += InterpolateAt(x, net, at);
    }
    return sum;
  };
  long long best = -half;
  double bestScore = score(best);
  for (long long k = -half + 1; k <= half; ++k) {
    const double s = score(k);
    if (s > bestScore) {
      best = k;
      bestScore = s;
    }
  }
  if (!(bestScore > 0)) return 0;
  double shift = trial(best);
  if (best > -half && best < half) {
    const double a = score(best - 1), b = bestScore, c = score(best + 1);
    const double curvature = a - 2 * b + c;
    if (curvature < 0) shift += 0.5 * (a - c) / curvature * step;
  }
  return std::clamp(shift, -shiftMax, shiftMax);
}

// ---- integration

// The integral of y over [from, to] inside the axis, trapezoids with the
// ends interpolated, so that the area does not jump as the grid moves.
double Integrate(const std::vector<double>& x, const std::vector<double>& y, double from,
                 double to) {
  from = std::max(from, x.front());
  to = std::min(to, x.back());
  if (!(to > from)) return 0;
  const size_t first = FirstAbove(x, from), last = FirstAtOrAbove(x, to);
  double area = 0;
  double px = from, py = InterpolateAt(x, y, from);
  for (size_t i = first; i < last; ++i) {
    area += 0.5 * (py + y[i]) * (x[i] - px);
    px = x[i];
    py = y[i];
  }
  area += 0.5 * (py + InterpolateAt(x, y, to)) * (to - px);
  return area;
}

// The largest value within +-reach of the centre: the top of a line, but
// over too few points for noise alone to make a peak of it.
double PeakNear(const std::vector<double>& x, const std::vector<double>& y, double center,
                double reach) {
  const size_t from = FirstAtOrAbove(x, center - reach), to = FirstAbove(x, center + reach);
  double peak = InterpolateAt(x, y, center);
  for (size_t i = from; i < to; ++i) peak = std::max(peak, y[i]);
  return peak;
}

// Points inside no line's window: where the noise and the continuum's
// offset are measured.
std::vector<bool> LineFreePoints(const std::vector<double>& x,
                                 const std::vector<LineIntegral>& lines) {
  std::vector<bool> free(x.size(), true);
  for (const LineIntegral& l : lines)
    for (size_t i = FirstAtOrAbove(x, l.windowFrom), end = FirstAbove(x, l.windowTo); i < end; ++i)
      free[i] = false;
  return free;
}

struct LocalNoise {
  double lift = 0;   // median residual: how far the clipped continuum sits below the noise's middle
  double sigma = 0;  // robust standard deviation of the residual
  size_t points = 0;  // line-free points they come from
  bool known = false;
};

// From the line-free residual around `center`: the neighbourhood widens
// until it holds kNoisePoints points or the whole spectrum.
LocalNoise NoiseAround(const std::vector<double>& x, const std::vector<double>& residual,
                       const std::vector<bool>& free, double center, double halfWindow,
                       double step) {
  const double span = x.back() - x.front();
  std::vector<double> r;
  // Starting at a step at least, the reach doubles up to the span.
  for (double reach = std::max(4 * halfWindow, step);; reach *= 2) {
    r.clear();
    for (size_t i = FirstAtOrAbove(x, center - reach), end = FirstAbove(x, center + reach); i < end;
         ++i)
      if (free[i]) r.push_back(residual[i]);
    if (r.size() >= kNoisePoints || reach >= span) break;
  }
  LocalNoise noise;
  if (r.empty()) return noise;
  const double middle = Median(r);
  std::vector<double> deviations(r.size());
  for (size_t i = 0; i < r.size(); ++i) deviations[i] = std::fabs(r[i] - middle);
  noise.sigma = kMadToSigma * Median(deviations);
  noise.lift = middle;
  noise.points = r.size();
  noise.known = true;
  return noise;
}

// The smallest change between neighbouring values: the noise floor of data
// whose scatter the median absolute deviation cannot see (clipped at 0, or
// quantised more coarsely than it scatters). A flat spectrum has none and
// gets the smallest positive double, so that no area divides by 0.
double QuantisationStep(const std::vector<double>& y) {
  double step = std::numeric_limits<double>::infinity();
  for (size_t i = 1; i < y.size(); ++i) {
    const double d = std::fabs(y[i] - y[i - 1]);
    if (d > 0) step = std::min(step, d);
  }
  return std::isfinite(step) ? step : std::numeric_limits<double>::min();
}

// Whole numbers of 0 or more, as a detector's counter gives them: then a
// line's own photon noise is known from its area.
bool AreCounts(const std::vector<double>& y) {
  return std::all_of(y.begin(), y.end(), [](double v) { return v >= 0 && v == std::floor(v); });
}

// The standard deviation of a net area over `points` points spanning
// `inside` nm: the point noise summed over the window, the uncertainty of
// the lift taken from `freePoints` points (the median's variance is pi/2
// times the mean's) carried over the whole window, and with counts the
// line's own photon noise.
double AreaUncertainty(double sigma, size_t points, double inside, size_t freePoints, double area,
                       bool counts) {
  const double dx = inside / static_cast<double>(std::max<size_t>(points, 1));
  double variance = sigma * sigma *
                    (static_cast<double>(points) * dx * dx +
                     inside * inside * std::acos(-1.0) / (2 * static_cast<double>(freePoints)));
  if (counts && area > 0) variance += area * dx;
  return std::sqrt(variance);
}

// ---- overlapping neighbours

// The share of a Gaussian line at `center` that falls inside [from, to].
double GaussianShare(double from, double to, double center, double sigma) {
  const double scale = sigma * std::sqrt(2.0);
  return 0.5 * (std::erf((to - center) / scale) - std::erf((from - center) / scale));
}

// One peak of the spectrum: a line, or lines closer than a half window
// (a blend), which only together have a known area.
struct Emitter {
  size_t first = 0, last = 0;  // its lines
  size_t widest = 0;           // the line whose window holds most of it
  double center = 0;
  double area = 0;
};

// A neighbour's line profile reaches past its own window into the next
// one's: two lines three FWHM apart leave about 2 % of each area in the
// other's window. Each peak's spill is taken out assuming Gaussian profiles
// of the common FWHM, with the peaks' areas found by a few Jacobi sweeps
// (the spills are small, so they converge at once).
void SubtractNeighbourSpill(std::vector<LineIntegral>& lines, double fwhm, double halfWindow) {
  const double sigma = fwhm / (2 * std::sqrt(2 * std::log(2.0)));
  const double reach = halfWindow + 6 * sigma;  // beyond it a spill is below 1e-8
  std::vector<Emitter> emitters;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (emitters.empty() || lines[i].center - lines[emitters.back().last].center > halfWindow)
      emitters.push_back({i, i, i, 0, 0});
    Emitter& e = emitters.back();
    e.last = i;
    if (lines[i].area > lines[e.widest].area) e.widest = i;
  }
  for (Emitter& e : emitters) {
    e.center = 0.5 * (lines[e.first].center + lines[e.last].center);
    e.area = lines[e.widest].area;
  }
  auto spillInto = [&](const LineIntegral& target, size_t self) {
    double spill = 0;
    for (size_t g = 0; g < emitters.size(); ++g)
      if (g != self && std::fabs(emitters[g].center - target.center) < reach)
        // A peak of negative area is no line and spills nothing.
        spill += std::max(emitters[g].area, 0.0) *
                 GaussianShare(target.windowFrom, target.windowTo, emitters[g].center, sigma);
    return spill;
  };
  for (int sweep = 0; sweep < 3; ++sweep) {
    std::vector<double> next(emitters.size());
    for (size_t e = 0; e < emitters.size(); ++e) {
      const LineIntegral& window = lines[emitters[e].widest];
      const double own =
          GaussianShare(window.windowFrom, window.windowTo, emitters[e].center, sigma);
      next[e] = (window.area - spillInto(window, e)) / own;
    }
    for (size_t e = 0; e < emitters.size(); ++e) emitters[e].area = next[e];
  }
  for (size_t e = 0; e < emitters.size(); ++e)
    for (size_t i = emitters[e].first; i <= emitters[e].last; ++i)
      lines[i].area -= spillInto(lines[i], e);
}

// ---- the shift's test

// The S/N a line needs once a shift was applied: the search let each
// line's window take about 1 + 2 shiftMax / width independent places, so
// the threshold's one-sided tail probability is divided by that count
// (Bonferroni); with the defaults (3, 0.2 nm, a window of 4 FWHM of 0.3 nm)
// 3 becomes 3.09. Without a shift, or without an S/N test, it stands.
double ShiftedSnrThreshold(double minSnr, double shift, double shiftMax, double windowWidth) {
  if (shift == 0 || !(minSnr > 0)) return minSnr;
  const boost::math::normal_distribution<double> normal;
  const double places = 1 + 2 * shiftMax / windowWidth;
  const double tail = boost::math::cdf(boost::math::complement(normal, minSnr)) / places;
  // Beyond an S/N of about 37 the tail leaves the doubles; the raise there
  // (about ln(places) / minSnr) is below a thousandth.
  if (!(tail > std::numeric_limits<double>::min())) return minSnr;
  return boost::math::quantile(boost::math::complement(normal, tail));
}

// The chi-square of Gaussians of the FWHM (a free height each) at the
// shifted lines, against their net signal over windows that hold them at
// any shift: lower is better. Each line's points are weighted by its noise.
struct StrongLine {
  size_t from = 0, to = 0;  // its points
  double wavelength = 0;
  double lift = 0;   // the noise's middle, taken off the signal
  double sigma = 0;  // the point noise
};

double GaussianChiSquareGain(const std::vector<double>& x, const std::vector<double>& net,
                             const StrongLine& line, double shift, double fwhm) {
  const double width = fwhm / (2 * std::sqrt(2 * std::log(2.0)));
  double cross = 0, norm = 0;
  for (size_t i = line.from; i < line.to; ++i) {
    const double u = (x[i] - line.wavelength - shift) / width;
    const double g = std::exp(-0.5 * u * u);
    cross += (net[i] - line.lift) * g;
    norm += g * g;
  }
  // The fitted height takes cross^2 / norm off the sum of squares.
  return norm > 0 ? cross * cross / norm / (line.sigma * line.sigma) : 0;
}

// Whether `shift` fits the strongest lines significantly better than no
// shift (see kShiftTestLines): a likelihood-ratio test of one parameter.
bool ShiftIsSignificant(const std::vector<double>& x, const std::vector<double>& net,
                        const std::vector<TRecord>& lines, double fwhm, double halfWindow,
                        double shift, double shiftMax) {
  // Windows that hold a line at any shift tried, the same for both fits.
  const double reach = halfWindow + shiftMax;
  std::vector<LineIntegral> windows;
  for (const TRecord& r : lines) {
    if (r.WaveLength < x.front() || r.WaveLength > x.back()) continue;
    LineIntegral w;
    w.line = r;
    w.windowFrom = r.WaveLength - reach;
    w.windowTo = r.WaveLength + reach;
    windows.push_back(w);
  }
  for (LineIntegral& w : windows) w.area = Integrate(x, net, w.windowFrom, w.windowTo);
  std::sort(windows.begin(), windows.end(),
            [](const LineIntegral& a, const LineIntegral& b) { return a.area > b.area; });
  const std::vector<bool> free = LineFreePoints(x, windows);
  const double step = MedianStep(x);
  double gain = 0;
  for (size_t k = 0; k < windows.size() && k < kShiftTestLines && windows[k].area > 0; ++k) {
    const LineIntegral& w = windows[k];
    const LocalNoise noise = NoiseAround(x, net, free, w.line.WaveLength, reach, step);
    if (!noise.known || !(noise.sigma > 0)) continue;
    const StrongLine line{FirstAtOrAbove(x, w.windowFrom), FirstAbove(x, w.windowTo),
                          w.line.WaveLength, noise.lift, noise.sigma};
    gain += GaussianChiSquareGain(x, net, line, shift, fwhm) -
            GaussianChiSquareGain(x, net, line, 0, fwhm);
  }
  static const double threshold = boost::math::quantile(
      boost::math::complement(boost::math::chi_squared_distribution<double>(1), kShiftTestLevel));
  return gain > threshold;
}

}  // namespace

std::string LineFlagText(unsigned flags) {
  std::string text;
  const std::pair<unsigned, const char*> names[] = {{kFlagSaturated, "saturated"},
                                                    {kFlagBlend, "blend"},
                                                    {kFlagWeak, "weak"},
                                                    {kFlagEdge, "edge"}};
  for (const auto& [bit, name] : names) {
    if (!(flags & bit)) continue;
    if (!text.empty()) text += ',';
    text += name;
  }
  return text;
}

double MeasurementIntensity(double area) {
  char buffer[32];
  const auto written =
      std::to_chars(buffer, buffer + sizeof buffer, area, std::chars_format::general, 8);
  double rounded = area;
  std::from_chars(buffer, written.ptr, rounded);
  return rounded;
}

// Emission lines stand above their background. Counts below 0 for the
// most part whose deepest dips reach further than the highest peaks are a
// spectrum of the wrong sign (or an absorption spectrum): its dips would
// be taken for lines.
void CheckPeaksAboveBackground(const std::vector<double>& counts, const std::string& source) {
  const double median = Median(counts);
  const auto [lowest, highest] = std::minmax_element(counts.begin(), counts.end());
  if (!(median < 0) || !(median - *lowest > *highest - median)) return;
  throw Error(Format("%s holds dips below a negative background (median %s, lowest %s, highest "
                     "%s), not emission lines above it: is its sign flipped?",
                     source, MessageNumber(median), MessageNumber(*lowest),
                     MessageNumber(*highest)));
}

IntegrationResult IntegrateLines(const IntegrationInput& input, const IntegrationOptions& options) {
  CheckOptions(options);
  const Spectrum& spectrum = input.spectrum;
  const std::vector<double>& x = spectrum.wavelength;
  const std::vector<double>& raw = spectrum.intensity;
  const Grid grid = GridOf(x);
  CheckOptionsInGrid(options, grid);

  const auto checkpoint = [&options] {
    if (options.checkpoint) options.checkpoint();
  };
  IntegrationResult result;
  result.spectrum = spectrum;
  if (input.dark) result.spectrum.intensity = SubtractDark(spectrum, *input.dark, grid.step);
  const std::vector<double>& counts = result.spectrum.intensity;
  CheckPeaksAboveBackground(counts, spectrum.source);

  // Lines that may fall inside the spectrum once shifted; a line without a
  // transition probability cannot enter a branching fraction.
  std::vector<TRecord> lines;
  for (const TRecord& r : input.lines)
    if (r.Aki > 0 && r.WaveLength >= x.front() - options.shiftMax &&
        r.WaveLength <= x.back() + options.shiftMax)
      lines.push_back(r);
  const std::string noLine =
      Format("%s (%s to %s nm) holds no line of the line base.", spectrum.source,
             MessageNumber(x.front()), MessageNumber(x.back()));
  if (lines.empty()) throw Error(noLine);

  // The flat-top test reads the counts as recorded: a dark subtraction
  // would make a clipped top uneven.
  const double ceiling =
      options.saturation ? *options.saturation : *std::max_element(raw.begin(), raw.end());
  checkpoint();
  result.fwhmEstimated = !options.fwhm;
  // An estimate below two steps is the sampling's, not the lines' width.
  result.fwhm = options.fwhm
                    ? *options.fwhm
                    : std::max(EstimateFwhm(result.spectrum, counts, raw, ceiling, lines, options),
                               NarrowestFwhm(grid));
  if (!options.fwhm) CheckWindowInGrid(options.windowFactor, result.fwhm, grid);
  const double halfWindow = options.windowFactor * result.fwhm;

  // A point at the edge of a line's window is clipped only by a half width
  // that reaches past the window's other edge.
  const double step = grid.step;
  // The window fits into the span, so these are at most the points.
  const size_t clip = static_cast<size_t>(std::ceil(kClipWindows * 2 * halfWindow / step)) + 1;
  // Smoothing over about one FWHM keeps the lines' shape for the clipping.
  const size_t smooth = static_cast<size_t>(std::llround(0.5 * result.fwhm / step));
  checkpoint();
  result.baseline = SnipBaseline(counts, clip, smooth);
  checkpoint();
  std::vector<double> residual(counts.size());
  for (size_t i = 0; i < counts.size(); ++i) residual[i] = counts[i] - result.baseline[i];

  result.shift = FindShift(x, residual, lines, result.fwhm, options.shiftMax, grid.step);
  if (result.shift != 0 && !ShiftIsSignificant(x, residual, lines, result.fwhm, halfWindow,
                                               result.shift, options.shiftMax))
    result.shift = 0;
  result.noShiftFound = options.shiftMax > 0 && result.shift == 0;
  checkpoint();
  std::vector<size_t> baseIndex;  // of every integrated line in `lines`
  for (size_t k = 0; k < lines.size(); ++k) {
    const double center = lines[k].WaveLength + result.shift;
    if (center < x.front() || center > x.back()) continue;
    LineIntegral l;
    l.line = lines[k];
    l.center = center;
    l.windowFrom = center - halfWindow;
    l.windowTo = center + halfWindow;
    result.lines.push_back(l);
    baseIndex.push_back(k);
  }
  if (result.lines.empty()) throw Error(noLine);

  const std::vector<bool> free = LineFreePoints(x, result.lines);
  const double quantum = QuantisationStep(counts);
  const bool photonCounts = AreCounts(counts);
  std::vector<double> lifts;
  std::vector<double> uncertainty(result.lines.size(), 0);
  std::vector<double> medianBias(result.lines.size(), 0);  // of photon counts' median lift
  for (size_t n = 0; n < result.lines.size(); ++n) {
    LineIntegral& l = result.lines[n];
    const LocalNoise noise = NoiseAround(x, residual, free, l.center, halfWindow, grid.step);
    const size_t from = FirstAtOrAbove(x, l.windowFrom), to = FirstAbove(x, l.windowTo);
    const double inside = std::min(l.windowTo, x.back()) - std::max(l.windowFrom, x.front());
    l.area = Integrate(x, residual, l.windowFrom, l.windowTo) - noise.lift * inside;
    if (photonCounts) medianBias[n] = kCountsMedianBelowMean * inside;
    l.peak = PeakNear(x, residual, l.center, 0.5 * result.fwhm) - noise.lift;
    l.baseline = InterpolateAt(x, result.baseline, l.center) + noise.lift;
    if (noise.known) {
      l.noiseFromQuantum = !(noise.sigma > 0);
      const double sigma = l.noiseFromQuantum ? quantum : noise.sigma;
      uncertainty[n] = AreaUncertainty(sigma, to - from, inside, noise.points, l.area, photonCounts);
      lifts.push_back(noise.lift);
    }
    if (HasFlatTop(raw, from, to, ceiling)) l.flags |= kFlagSaturated;
    l.flags |= BlendFlag(lines, baseIndex[n], halfWindow);
    if (l.windowFrom < x.front() || l.windowTo > x.back()) l.flags |= kFlagEdge;
  }
  SubtractNeighbourSpill(result.lines, result.fwhm, halfWindow);
  const double minSnr = ShiftedSnrThreshold(options.minSnr, result.shift, options.shiftMax,
                                            2 * halfWindow);
  for (size_t n = 0; n < result.lines.size(); ++n) {
    LineIntegral& l = result.lines[n];
    // Without line-free points the S/N is unknown and counts as 0; an area
    // of 0 or below is no line whatever the minimum.
    if (uncertainty[n] > 0) l.snr = (l.area - medianBias[n]) / uncertainty[n];
    if (!(l.snr >= minSnr && l.area > 0)) l.flags |= kFlagWeak;
  }
  if (input.response) {
    for (LineIntegral& l : result.lines) {
      const double sensitivity = ResponseAt(*input.response, l);
      l.area /= sensitivity;
      l.peak /= sensitivity;
      l.baseline /= sensitivity;
    }
  }
  // Counts near the largest double or a response near the smallest one
  // overflow the sums.
  for (const LineIntegral& l : result.lines)
    if (!std::isfinite(l.area) || !std::isfinite(l.peak) || !std::isfinite(l.baseline))
      throw Error(
          Format("%s: the area of the line %s nm is not a finite number; the counts%s "
                 "are out of range.",
                 spectrum.source, MessageNumber(l.line.WaveLength),
                 input.response ? " or the response" : ""));
  // The displayed continuum carries the typical lift.
  if (!lifts.empty()) {
    const double lift = Median(lifts);
    for (double& b : result.baseline) b += lift;
  }
  return result;
}

}  // namespace lumora
