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

// The model's fractions at `at`, also written into every line's G_f.
const TPreCalcDataArray& GridPointFractions(EbfModel& model, const ModelParameters& at,
                                            const long double* n1) {
  std::vector<TLineRecord>& lines = model.Table().lines;
  const TPreCalcDataArray& data = model.ComputeUncached(at, n1);
  for (size_t k = 0; k < lines.size(); ++k) lines[k].G_f = data[k];
  return data;
}

}  // namespace

long double GridPointRSS(EbfModel& model, const ModelParameters& at, int fitted,
                         const long double* n1) {
  std::vector<TLineRecord>& lines = model.Table().lines;
  const int m = static_cast<int>(lines.size());
  long double sum = 0;
  if (m > 0) {
    GridPointFractions(model, at, n1);
    for (const TLineRecord& line : lines) {
      const long double diff = static_cast<long double>(line.G_f) - line.G_m;
      sum += diff * diff;
    }
  }
  model.ClearCache();
  if (m - fitted > 0) sum /= m - fitted;
  return sum;
}

long double GridPointChiSquare(EbfModel& model, const ModelParameters& at,
                               const FractionWhitening& whitening, const long double* n1) {
  const std::vector<TLineRecord>& lines = model.Table().lines;
  long double chiSquare = 0;
  if (!lines.empty()) chiSquare = whitening.ChiSquare(lines, GridPointFractions(model, at, n1));
  model.ClearCache();
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

// 10^b1 of every grid column, formed once for all rows; a column whose
// power fails has none, and its grid point raises the fault in its place.
struct ColumnDensities {
  std::vector<double> log10Values;
  std::vector<long double> values;
  std::vector<bool> formed;

  explicit ColumnDensities(std::vector<double> log10s)
      : log10Values(std::move(log10s)),
        values(log10Values.size()),
        formed(log10Values.size(), false) {
    for (size_t j = 0; j < log10Values.size(); ++j) {
      try {
        values[j] = fp::Pow10(log10Values[j]);
        formed[j] = true;
      } catch (const std::exception&) {
      }
    }
  }
  const long double* Value(size_t j) const { return formed[j] ? &values[j] : nullptr; }
};

// A grid point's sum: the chi-square through the whitening when there is
// one, else the residual sum divided by the degrees of freedom.
long double GridPointSum(EbfModel& model, const ModelParameters& at,
                         const FractionWhitening* whitening, const long double* n1 = nullptr) {
  return whitening ? GridPointChiSquare(model, at, *whitening, n1) : GridPointRSS(model, at, 2, n1);
}

RowExtremes ComputeRow(EbfModel& model, ModelParameters at, double t,
                       const ColumnDensities& densities, const FractionWhitening* whitening,
                       std::vector<double>& row) {
  RowExtremes extremes;
  at.second = t;
  for (size_t j = 0; j < densities.log10Values.size(); ++j) {
    at.log10N1 = densities.log10Values[j];
    const double value = fp::ToDouble(GridPointSum(model, at, whitening, densities.Value(j)));
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
  const ColumnDensities& densities;
  const FractionWhitening* whitening;  // shared, read only; none: plain sums
  ResidualGrid& grid;
  std::vector<RowExtremes>& extremes;
};

// Row by row in the caller's model.
void ComputeRowsSerially(EbfModel& model, const GridRows& rows, const MapProgress& progress) {
  const int count = static_cast<int>(rows.temperatures.size());
  for (int i = 0; i < count; ++i) {
    rows.extremes[i] = ComputeRow(model, rows.model, rows.temperatures[i], rows.densities,
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
                                      rows.densities, rows.whitening, rows.grid[i]);
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
  const ColumnDensities densities(AxisPoints(request.log10FromDensity, stepD, nDens));
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

  at.log10N1 = densities.log10Values[result.minimumColumn];
  at.second = temperatures[result.minimumRow];
  GridPointSum(model, at, whitening ? &*whitening : nullptr);
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
