#include "model/residual_map.h"

#include <cmath>

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

long double GridPointRSS(EbfModel& model, const ParameterVector& b, int p) {
  std::vector<TLineRecord>& lines = model.Table().lines;
  const int m = static_cast<int>(lines.size());
  long double sum = 0;
  // One look-up for all lines rather than one per line; a cached array
  // shorter than the lines fails where a per-line evaluation would.
  const TPreCalcDataArray* data = m > 0 ? &model.EvaluateAllLines(b) : nullptr;
  for (int k = 0; k < m; ++k) {
    TLineRecord& line = lines[k];
    CheckIndex(k, data->size());
    line.G_f = (*data)[k];
    const long double diff = static_cast<long double>(line.G_f) - line.G_m;
    sum += diff * diff;
  }
  model.ClearCache();
  if (m - p > 0) sum /= m - p;
  return sum;
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

}  // namespace

void CheckPointLimits(int nDens, int nTemp) {
  if (nDens > kMaxMapAxisPoints || nTemp > kMaxMapAxisPoints)
    throw Error(Format(
        "A map takes at most %d points on each axis (density points %d, temperature points %d).",
        kMaxMapAxisPoints, nDens, nTemp));
  const long long points = static_cast<long long>(nDens) * nTemp;
  if (points > kMaxMapPoints)
    throw Error(Format("A map takes at most %d grid points; %d density points by %d temperature "
                       "points are %d.",
                       kMaxMapPoints, nDens, nTemp, points));
}

void MapRequest::Validate() const {
  CheckModelInputs(model);
  CheckLog10Density(log10FromDensity, "Map density From");
  CheckLog10Density(log10ToDensity, "Map density To");
  CheckSecondParameter(fromTemperature, model.distribution, "Map temperature From");
  CheckSecondParameter(toTemperature, model.distribution, "Map temperature To");
}

MapResult MapResiduals(EbfModel& model, const MapRequest& request, int& resultsLineCount) {
  const int nDens = request.densityPoints;
  const int nTemp = request.temperaturePoints;
  CheckPointCounts(nDens, nTemp);
  MapResult result;
  result.grid = ZeroGrid(nTemp, nDens);
  const double stepD = (request.log10ToDensity - request.log10FromDensity) / nDens;
  const double stepT = (request.toTemperature - request.fromTemperature) / nTemp;
  result.range = MapRange{request.log10FromDensity, request.log10ToDensity,
                          request.fromTemperature,  request.toTemperature,
                          stepD,                    stepT};

  ParameterVector b = request.model.ToVector();
  double min = kNoMinimum;
  double max = -kNoMinimum;
  double bestX = 0;
  double bestT = 0;
  bool found = false;
  double t = request.fromTemperature;
  for (int i = 0; i < nTemp; ++i) {
    std::vector<double>& row = result.grid[i];
    double x = request.log10FromDensity;
    for (int j = 0; j < nDens; ++j) {
      b[1] = x;
      b[2] = t;
      const double value = fp::ToDouble(GridPointRSS(model, b, 2));
      row[j] = value;
      if (value < min) {
        min = value;
        bestX = x;
        bestT = t;
        result.minimumRow = i;
        result.minimumColumn = j;
        found = true;
      }
      if (value > max) max = value;
      x += stepD;
    }
    t += stepT;
    if (request.progress) request.progress(i + 1, nTemp);
  }
  if (!found)
    throw Error(Format("No residual sum of the map lies below %.3e: the map has no minimum.",
                       kNoMinimum));

  b[1] = bestX;
  b[2] = bestT;
  GridPointRSS(model, b, 2);
  b[11] = min;
  b[12] = max;
  result.minimum = min;
  result.maximum = max;
  result.parameters = b;

  if (!request.withReport) return result;
  if (static_cast<int>(model.Table().lines.size()) - 2 <= 0)
    result.report.push_back("Sum was not divided by DoF (not enough lines)!");
  ResultsLine(model.Table().levels, b, ParameterVector{}, resultsLineCount, &result.report,
              request.dataFileName, 2, false);
  return result;
}

}  // namespace lumora
