// The residual map: the residual sum of squares of the model over a grid of
// log10 n_1 (columns) by the second model parameter (rows); with the
// intensities' uncertainties, the branching fractions' chi-square instead.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "model/fraction_weights.h"
#include "model/results_line.h"
#include "model/self_absorption.h"

namespace lumora {

// The largest map: points on one axis, and grid points in all.
inline constexpr int kMaxMapAxisPoints = 10000;
inline constexpr int kMaxMapPoints = 10000000;

// Rows by temperature point, columns by density point.
using ResidualGrid = std::vector<std::vector<double>>;

// The range of a map: log10 of the first density and of the density limit,
// the first temperature and the temperature limit, and the two steps. A
// grid of N points steps (limit - first) / N from the first point, so its
// last point lies one step below the limit (the fields' "To").
struct MapRange {
  double x0 = 0;
  double x1 = 0;
  double y0 = 0;
  double y1 = 0;
  double dx = 0;
  double dy = 0;
};

// The last of `count` points stepped from `from` as the scan steps them
// (each the previous plus the step): the grid's last point on that axis.
double LastAxisPoint(double from, double step, int count);

// Raises Error when a map of these counts would exceed the limits above;
// checked before any grid is allocated.
void CheckPointLimits(int densityPoints, int temperaturePoints);

// A grid of rows x columns, all zero; a negative count gives no rows (or no
// columns), counts beyond the limits raise Error.
ResidualGrid ZeroGrid(int rows, int columns);

// Residual sum of squares of all lines at `at`, divided by M - fitted when
// that is positive, from the model's double-precision fractions as every
// grid point of a map forms it. Leaves every line's G_f at `at` (by the
// extended model) and the model cache empty.
long double GridPointRSS(EbfModel& model, const ModelParameters& at, int fitted);

// The chi-square of the measured fractions at `at` through the whitening of
// their uncertainties, never divided; leaves the lines and the cache as
// GridPointRSS does.
long double GridPointChiSquare(EbfModel& model, const ModelParameters& at,
                               const FractionWhitening& whitening);

// Called after each finished row of the grid (rows done, rows in all); with
// several threads from any of them, but never from two at once.
using MapProgress = std::function<void(int rowsDone, int rows)>;

struct MapRequest {
  ModelParameters model;  // log10N1 and second are the grid's
  int densityPoints = 0;
  int temperaturePoints = 0;
  double log10FromDensity = 0;
  double log10ToDensity = 0;
  double fromTemperature = 0;
  double toTemperature = 0;
  std::string dataFileName;  // the measurement as the results line names it
  bool withReport = true;    // false: no results line
  // The intensities' uncertainties; with them each grid point holds the
  // fractions' chi-square, as a weighted fit minimises it.
  IntensityUncertainty uncertainty;
  MapProgress progress;

  // Raises Error naming the field of the first input the model cannot use;
  // MapResiduals checks the point counts itself.
  void Validate() const;
  // Threads the rows are computed on: 0 all cores, 1 the caller's alone.
  // The result does not depend on it.
  int threads = 0;
};

struct MapResult {
  ResidualGrid grid;
  MapRange range;
  double minimum = 0;
  double maximum = 0;
  int minimumRow = 0;     // temperature point of the minimum
  int minimumColumn = 0;  // density point of the minimum
  // The model inputs at the grid minimum.
  ModelParameters atMinimum;
  std::vector<std::string> report;
  ResultsLineText resultsLine;  // the results line at the report's end, and its header
  // The uncertainties the grid was weighted by (none: plain sums), so that
  // whatever reads the grid knows which sum it holds.
  IntensityUncertainty uncertainty;
  GoodnessOfFit goodness;  // of a weighted map's minimum, for both parameters

  bool Weighted() const { return uncertainty.Weighted(); }
};

// Evaluates the grid; the model is left evaluated at the minimum, and the
// report holds the results line. Rows computed on other threads use copies
// of the model's table, so only the caller's table is written.
// Point counts below 1 or above the limits above are refused before the
// grid is allocated.
MapResult MapResiduals(EbfModel& model, const MapRequest& request, int& resultsLineCount);

}  // namespace lumora
