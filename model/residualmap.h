// The residual map: the residual sum of squares of the model over a grid of
// log10 n_1 (columns) by the second model parameter (rows), and the results
// line that fits and maps append to the report.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "lsq/marqdef.h"

namespace lumora {

// Rows by temperature point, columns by density point.
extern std::vector<std::vector<double>> ResidualMap;

// The range of the last map: log10 of the first density and of the density
// limit, the first temperature and the temperature limit, and the two steps.
struct MapRange {
  double x0 = 0;
  double x1 = 0;
  double y0 = 0;
  double y1 = 0;
  double dx = 0;
  double dy = 0;
};

// Number of results lines written since the last element change; the header
// goes before the first one.
extern int ResultsLineCount;
// Called after every element change.
void ResetResultsLineCount();

// Sizes ResidualMap to rows x columns, all zero; a negative count gives no
// rows (or no columns).
void ResetResidualMap(int rows, int columns);

// Residual sum of squares of all lines at b, divided by M - p when that is
// positive. Leaves every line's G_f at b and the model cache empty.
long double GridPointRSS(const vector& b, int p);

// Called after each finished row of the grid (rows done, rows in all).
using MapProgress = std::function<void(int rowsDone, int rows)>;

// Fills ResidualMap (sized by ResetResidualMap to nTemp x nDens) and range;
// on return b1, b2 hold the grid minimum, b11 the smallest and b12 the
// largest sum, and the model is evaluated at the minimum. Appends the
// results line to reportLines when given.
void MapResiduals(int nDens, int nTemp, vector& b, double log10FirstDensity,
                  double log10DensityLimit, double firstTemperature, double temperatureLimit,
                  const std::string& dataFileName, MapRange& range,
                  std::vector<std::string>* reportLines, const MapProgress& progress = {});

// Adds the header (when ResultsLineCount is 0) and one results line to
// target; raises "Lines not assigned." when target is absent. n is the
// number of fitted parameters; fit is false for the map.
void ResultsLine(const vector& b, const vector& errors, std::vector<std::string>* target,
                 const std::string& dataFileName, int n, bool fit);

}  // namespace lumora
