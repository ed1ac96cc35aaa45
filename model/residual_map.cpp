#include "model/residual_map.h"

#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <atomic>
#include <cmath>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>

#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"
#include "model/input_checks.h"
#include "model/results_line.h"

namespace lumora {

ResidualGrid ZeroGrid(int rows, int columns) {
  CheckPointLimits(columns, rows);
  return ResidualGrid(rows > 0 ? rows : 0, std::vector<double>(columns > 0 ? columns : 0, 0.0));
}

namespace {

// A point's sum from the model's double-precision fractions: the chi-square
// through the whitening when there is one, else the residual sum of squares
// divided by M - fitted when that is positive.
long double PointSum(EbfModel& model, const ModelParameters& at,
                     const FractionWhitening* whitening, int fitted) {
  const std::vector<TLineRecord>& lines = model.Table().lines;
  const int m = static_cast<int>(lines.size());
  if (m == 0) return 0;
  const TPreCalcDataArray& fractions = model.FractionValues(at);
  if (whitening) return whitening->ChiSquare(lines, fractions);
  long double sum = 0;
  for (int k = 0; k < m; ++k) {
    const long double diff = static_cast<long double>(fractions[k]) - lines[k].G_m;
    sum += diff * diff;
  }
  if (m - fitted > 0) sum /= m - fitted;
  return sum;
}

// Every line's G_f at `at` by the extended model, and the cache empty.
void LeaveFractionsAt(EbfModel& model, const ModelParameters& at) {
  if (!model.Table().lines.empty()) model.ComputeUncached(at);
  model.ClearCache();
}

}  // namespace

long double GridPointRSS(EbfModel& model, const ModelParameters& at, int fitted) {
  const long double sum = PointSum(model, at, nullptr, fitted);
  LeaveFractionsAt(model, at);
  return sum;
}

long double GridPointChiSquare(EbfModel& model, const ModelParameters& at,
                               const FractionWhitening& whitening) {
  const long double chiSquare = PointSum(model, at, &whitening, 0);
  LeaveFractionsAt(model, at);
  return chiSquare;
}

namespace {

constexpr double kNoMinimum = 1e20;

void CheckPointCounts(int nDens, int nTemp) {
  if (nDens < 1 || nTemp < 1)
    throw Error(Format(
        "A map needs at least 1 point on each axis (density points %d, temperature points %d).",
        nDens, nTemp));
  CheckPointLimits(nDens, nTemp);
}

// The axis values as the scan steps them: each one the previous plus the
// step, so that every row and every thread sees the same bits.
std::vector<double> AxisPoints(double from, double step, int count) {
  std::vector<double> points(count);
  double value = from;
  for (int i = 0; i < count; ++i) {
    points[i] = value;
    value += step;
  }
  return points;
}

// The smallest and largest sum of a row, the smallest at its first column.
struct RowExtremes {
  double min = kNoMinimum;
  double max = -kNoMinimum;
  int minColumn = -1;
};

RowExtremes ComputeRow(EbfModel& model, ModelParameters at, double t,
                       const std::vector<double>& log10Densities,
                       const FractionWhitening* whitening, std::vector<double>& row) {
  RowExtremes extremes;
  at.second = t;
  for (size_t j = 0; j < log10Densities.size(); ++j) {
    at.log10N1 = log10Densities[j];
    const double value = fp::ToDouble(PointSum(model, at, whitening, 2));
    row[j] = value;
    if (value < extremes.min) {
      extremes.min = value;
      extremes.minColumn = static_cast<int>(j);
    }
    if (value > extremes.max) extremes.max = value;
  }
  return extremes;
}

struct GridRows {
  const ModelParameters& model;
  const std::vector<double>& temperatures;
  const std::vector<double>& log10Densities;
  const FractionWhitening* whitening;  // shared, read only; none: plain sums
  ResidualGrid& grid;
  std::vector<RowExtremes>& extremes;
};

// Row by row in the caller's model.
void ComputeRowsSerially(EbfModel& model, const GridRows& rows, const MapProgress& progress) {
  const int count = static_cast<int>(rows.temperatures.size());
  for (int i = 0; i < count; ++i) {
    rows.extremes[i] = ComputeRow(model, rows.model, rows.temperatures[i], rows.log10Densities,
                                  rows.whitening, rows.grid[i]);
    if (progress) progress(i + 1, count);
  }
}

// A worker's own copy of the lines and levels, and its own model and cache.
struct RowWorker {
  explicit RowWorker(const LineTable& source) : table(source) {}
  LineTable table;
  EbfModel model{table};
};

// Rows on every thread of the arena. The first failing row in the scan's
// order raises its fault, as the serial scan would; rows after it are
// skipped once it is known.
void ComputeRowsInParallel(const LineTable& source, const GridRows& rows,
                           const MapProgress& progress) {
  const int count = static_cast<int>(rows.temperatures.size());
  tbb::enumerable_thread_specific<std::unique_ptr<RowWorker>> workers;
  std::vector<std::exception_ptr> faults(count);
  std::atomic<int> firstFault{count};
  std::mutex progressLock;
  int rowsDone = 0;
  tbb::parallel_for(tbb::blocked_range<int>(0, count), [&](const tbb::blocked_range<int>& range) {
    std::unique_ptr<RowWorker>& worker = workers.local();
    if (!worker) worker = std::make_unique<RowWorker>(source);
    for (int i = range.begin(); i != range.end(); ++i) {
      if (i > firstFault.load()) return;
      try {
        rows.extremes[i] = ComputeRow(worker->model, rows.model, rows.temperatures[i],
                                      rows.log10Densities, rows.whitening, rows.grid[i]);
      } catch (...) {
        faults[i] = std::current_exception();
        for (int seen = firstFault.load();
             i < seen && !firstFault.compare_exchange_weak(seen, i);) {
        }
        return;
      }
      if (progress) {
        const std::lock_guard<std::mutex> lock(progressLock);
        progress(++rowsDone, count);
      }
    }
  });
  if (firstFault.load() < count) std::rethrow_exception(faults[firstFault.load()]);
}

}  // namespace

double LastAxisPoint(double from, double step, int count) {
  return count > 0 ? AxisPoints(from, step, count).back() : from;
}

void CheckPointLimits(int nDens, int nTemp) {
  if (nDens > kMaxMapAxisPoints || nTemp > kMaxMapAxisPoints)
    throw Error(Format(
        "A map takes at most %d points on each axis (density points %d, temperature points %d).",
        kMaxMapAxisPoints, nDens, nTemp));
  const long long points = static_cast<long long>(nDens) * nTemp;
  if (points > kMaxMapPoints)
    throw Error(
        Format("A map takes at most %d grid points; %d density points by %d temperature "
               "points are %d.",
               kMaxMapPoints, nDens, nTemp, points));
}

void MapRequest::Validate() const {
  CheckModelInputs(model);
  CheckLog10Density(log10FromDensity, "Map density From");
  CheckLog10Density(log10ToDensity, "Map density To");
  CheckSecondParameter(fromTemperature, model.distribution, "Map temperature From");
  CheckSecondParameter(toTemperature, model.distribution, "Map temperature To");
  // An axis of several points from a value to itself is no axis: every
  // point would be the same and the colour scale a single value.
  if (densityPoints > 1 && log10ToDensity == log10FromDensity)
    throw FieldError("Map density To",
                     Format(" must differ from its axis's first value, not \"%s\".",
                            MessageNumber(std::pow(10.0, log10ToDensity))));
  if (temperaturePoints > 1 && toTemperature == fromTemperature)
    throw FieldError("Map temperature To",
                     Format(" must differ from its axis's first value, not \"%s\".",
                            MessageNumber(toTemperature)));
}

MapResult MapResiduals(EbfModel& model, const MapRequest& request, int& resultsLineCount) {
  const int nDens = request.densityPoints;
  const int nTemp = request.temperaturePoints;
  CheckPointCounts(nDens, nTemp);
  MapResult result;
  result.grid = ZeroGrid(nTemp, nDens);
  const double stepD = (request.log10ToDensity - request.log10FromDensity) / nDens;
  const double stepT = (request.toTemperature - request.fromTemperature) / nTemp;
  result.range = MapRange{request.log10FromDensity,
                          request.log10ToDensity,
                          request.fromTemperature,
                          request.toTemperature,
                          stepD,
                          stepT};

  ModelParameters at = request.model;
  model.ClearCache();  // the grid's terms come from the table as it stands now
  const std::vector<double> densities = AxisPoints(request.log10FromDensity, stepD, nDens);
  const std::vector<double> temperatures = AxisPoints(request.fromTemperature, stepT, nTemp);
  std::vector<RowExtremes> extremes(nTemp);
  // One whitening for the whole grid: it depends on the measurement alone.
  std::optional<FractionWhitening> whitening;
  if (request.uncertainty.Weighted()) {
    const std::vector<TLineRecord>& lines = model.Table().lines;
    whitening.emplace(lines, IntensityUncertainties(lines, request.uncertainty));
  }
  result.uncertainty = request.uncertainty;
  const GridRows rows{at,          temperatures, densities, whitening ? &*whitening : nullptr,
                      result.grid, extremes};
  if (request.threads == 1 || nTemp == 1) {
    ComputeRowsSerially(model, rows, request.progress);
  } else if (request.threads > 1) {
    tbb::task_arena arena(request.threads);
    arena.execute([&] { ComputeRowsInParallel(model.Table(), rows, request.progress); });
  } else {
    ComputeRowsInParallel(model.Table(), rows, request.progress);
  }

  // The rows in the scan's order: a later equal sum does not move the minimum.
  double min = kNoMinimum;
  double max = -kNoMinimum;
  bool found = false;
  for (int i = 0; i < nTemp; ++i) {
    if (extremes[i].min < min) {
      min = extremes[i].min;
      result.minimumRow = i;
      result.minimumColumn = extremes[i].minColumn;
      found = true;
    }
    if (extremes[i].max > max) max = extremes[i].max;
  }
  if (!found)
    throw Error(
        Format("No residual sum of the map lies below %.3e: the map has no minimum.", kNoMinimum));

  at.log10N1 = densities[result.minimumColumn];
  at.second = temperatures[result.minimumRow];
  LeaveFractionsAt(model, at);
  result.minimum = min;
  result.maximum = max;
  result.atMinimum = at;
  if (whitening)
    result.goodness = ChiSquareTest(min, FractionDegreesOfFreedom(model.Table().lines, 2));

  if (!request.withReport) return result;
  // A chi-square is never divided.
  if (!whitening && static_cast<int>(model.Table().lines.size()) - 2 <= 0)
    result.report.push_back("Sum was not divided by DoF (not enough lines)!");
  result.resultsLine = ResultsLine(model.Table().levels, MapResultsInput(result), resultsLineCount,
                                   &result.report, request.dataFileName);
  return result;
}

}  // namespace lumora
