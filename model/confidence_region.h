// The joint confidence region of n_1 and the second parameter on a residual
// map: the grid points whose sum S stays below
//   S_min (1 + P / (M - P) F(P, M - P; level)),  P = 2, M the number of lines,
// or on a map of chi-squares below chi2_min + chi2(P; level), the quantile
// of the chi-square distribution of P degrees of freedom; and the iso-line
// of that threshold over the grid (marching squares, with crossings
// interpolated linearly along the grid cells' edges).
#pragma once

#include <string>
#include <vector>

#include "lsq/lsq_types.h"
#include "model/residual_map.h"

namespace lumora {

inline constexpr int kConfidenceParameters = 2;

// A piece of the iso-line, from (x1, y1) to (x2, y2): x is log10 n_1, y the
// second parameter.
struct ContourSegment {
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

struct ConfidenceRegion {
  double level = 0;      // e.g. 0.95
  double threshold = 0;  // the sum at the region's edge
  // The map holds chi-squares: the threshold is the smallest one found plus
  // the chi-square quantile.
  bool weighted = false;
  double minimum = 0;  // the sum the threshold rises from
  std::vector<ContourSegment> contour;
  // What the region covers: the extent of its grid points and its contour.
  double minLog10N1 = 0, maxLog10N1 = 0;
  double minSecond = 0, maxSecond = 0;
  // A grid point of the region lies on the grid's border: the region may
  // reach beyond the grid, so its ranges are only bounds.
  bool touchesEdge = false;
  // With a fit's optimum: where it lies, and by what factor the grid would
  // have to be refined along an axis whose range came from the fit's
  // covariance because the region spans fewer than three cells (0: the
  // range is the grid's).
  bool anchored = false;
  double fitLog10N1 = 0, fitSecond = 0;
  int refineN1 = 0, refineSecond = 0;
};

// Raises Error for a level outside (0, 1) and for fewer than P + 1 lines.
// The threshold comes from the map's minimum, the ranges from the grid
// points under it and the contour.
ConfidenceRegion FindConfidenceRegion(const MapResult& map, int lineCount, double level);

// The optimum a fit started at the map's minimum found: its parameters, its
// sum as the map sums (the same lines, divided by the same degrees of
// freedom; or the chi-square of a weighted map), and its covariance scaled
// to that sum, log10 n_1 first (a weighted fit's covariance is already on
// the chi-square's scale).
struct RegionOptimum {
  double log10N1 = 0;
  double second = 0;
  double mapSum = 0;
  ParameterMatrix covariance;  // of (log10 n_1, second) per unit of the map's sum
};

// The region on the optimum: the threshold comes from the optimum's sum
// (never above the grid's minimum), and the ranges are what the grid can
// vouch for, the points under the threshold widened by a cell on every side
// (the region's edge lies before the next point) and always holding the
// optimum; along an axis where the region
// spans fewer than three cells, the range comes from the covariance
// ellipse at the threshold instead, the region says by how much to refine
// the grid, and its contour is that ellipse.
ConfidenceRegion FindConfidenceRegion(const MapResult& map, int lineCount, double level,
                                      const RegionOptimum& optimum);

// What the region covers, as the line after a map's results line.
std::string ConfidenceText(const ConfidenceRegion& region, Distribution distribution);

}  // namespace lumora
