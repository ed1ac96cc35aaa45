// The joint confidence region of n_1 and the second parameter on a residual
// map: the grid points whose sum S stays below
//   S_min (1 + P / (M - P) F(P, M - P; level)),  P = 2, M the number of lines,
// and the iso-line of that threshold over the grid (marching squares, with
// crossings interpolated linearly along the grid cells' edges).
#pragma once

#include <string>
#include <vector>

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
  std::vector<ContourSegment> contour;
  // What the region covers: the extent of its grid points and its contour.
  double minLog10N1 = 0, maxLog10N1 = 0;
  double minSecond = 0, maxSecond = 0;
  // A grid point of the region lies on the grid's border: the region may
  // reach beyond the grid, so its ranges are only bounds.
  bool touchesEdge = false;
};

// Raises Error for a level outside (0, 1) and for fewer than P + 1 lines.
ConfidenceRegion FindConfidenceRegion(const MapResult& map, int lineCount, double level);

// What the region covers, as the line after a map's results line.
std::string ConfidenceText(const ConfidenceRegion& region, Distribution distribution);

}  // namespace lumora
