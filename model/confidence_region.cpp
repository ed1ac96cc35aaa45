#include "model/confidence_region.h"

#include <algorithm>
#include <boost/math/distributions/fisher_f.hpp>
#include <cmath>

#include "base/errors.h"
#include "base/format.h"

namespace lumora {

namespace {

double Threshold(double minimum, int lineCount, double level) {
  const int p = kConfidenceParameters;
  const double freedom = lineCount - p;
  const boost::math::fisher_f_distribution<double> f(p, freedom);
  return minimum * (1 + p / freedom * boost::math::quantile(f, level));
}

// Where the threshold crosses the edge between two grid values, as a
// fraction of the way from the first to the second.
double Crossing(double a, double b, double threshold) {
  return a == b ? 0.5 : (threshold - a) / (b - a);
}

struct Corner {
  double x, y, value;
};

// The iso-line through one grid cell (corners in the order bottom-left,
// bottom-right, top-right, top-left); the saddle cases are resolved by the
// cell's mean value.
void CellSegments(const Corner (&c)[4], double threshold, std::vector<ContourSegment>& out) {
  int index = 0;
  for (int k = 0; k < 4; ++k)
    if (c[k].value <= threshold) index |= 1 << k;
  if (index == 0 || index == 15) return;
  auto edgePoint = [&](int edge) {
    const Corner& a = c[edge];
    const Corner& b = c[(edge + 1) % 4];
    const double t = Crossing(a.value, b.value, threshold);
    return std::pair<double, double>{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
  };
  auto add = [&](int e1, int e2) {
    const auto [x1, y1] = edgePoint(e1);
    const auto [x2, y2] = edgePoint(e2);
    out.push_back({x1, y1, x2, y2});
  };
  // Edge k joins corner k and corner k+1; an edge is crossed when its two
  // corners lie on different sides.
  std::vector<int> crossed;
  for (int e = 0; e < 4; ++e)
    if (((index >> e) & 1) != ((index >> ((e + 1) % 4)) & 1)) crossed.push_back(e);
  if (crossed.size() == 2) {
    add(crossed[0], crossed[1]);
    return;
  }
  // Saddle: two opposite corners inside. Join the edges around the inside
  // corners when the centre is inside too, else around the outside ones.
  const double centre = (c[0].value + c[1].value + c[2].value + c[3].value) / 4;
  const bool centreInside = centre <= threshold;
  const bool firstInside = (index & 1) != 0;
  if (firstInside != centreInside) {
    add(3, 0);  // around corner 0
    add(1, 2);  // around corner 2
  } else {
    add(0, 1);  // around corner 1
    add(2, 3);  // around corner 3
  }
}

}  // namespace

ConfidenceRegion FindConfidenceRegion(const MapResult& map, int lineCount, double level) {
  if (!(level > 0 && level < 1))
    throw Error(Format("The confidence level must lie between 0 and 1, not %g.", level));
  if (lineCount <= kConfidenceParameters)
    throw Error(Format("A confidence region needs at least %d lines; the measurement has %d.",
                       kConfidenceParameters + 1, lineCount));
  ConfidenceRegion region;
  region.level = level;
  region.threshold = Threshold(map.minimum, lineCount, level);

  const ResidualGrid& grid = map.grid;
  const MapRange& r = map.range;
  auto x = [&](size_t column) { return r.x0 + static_cast<double>(column) * r.dx; };
  auto y = [&](size_t row) { return r.y0 + static_cast<double>(row) * r.dy; };
  bool any = false;
  auto cover = [&](double px, double py) {
    if (!any) {
      region.minLog10N1 = region.maxLog10N1 = px;
      region.minSecond = region.maxSecond = py;
      any = true;
      return;
    }
    region.minLog10N1 = std::min(region.minLog10N1, px);
    region.maxLog10N1 = std::max(region.maxLog10N1, px);
    region.minSecond = std::min(region.minSecond, py);
    region.maxSecond = std::max(region.maxSecond, py);
  };
  for (size_t i = 0; i < grid.size(); ++i) {
    for (size_t j = 0; j < grid[i].size(); ++j) {
      if (grid[i][j] > region.threshold) continue;
      cover(x(j), y(i));
      if (i == 0 || j == 0 || i + 1 == grid.size() || j + 1 == grid[i].size())
        region.touchesEdge = true;
    }
  }
  for (size_t i = 0; i + 1 < grid.size(); ++i) {
    for (size_t j = 0; j + 1 < grid[i].size(); ++j) {
      const Corner cell[4] = {{x(j), y(i), grid[i][j]},
                              {x(j + 1), y(i), grid[i][j + 1]},
                              {x(j + 1), y(i + 1), grid[i + 1][j + 1]},
                              {x(j), y(i + 1), grid[i + 1][j]}};
      CellSegments(cell, region.threshold, region.contour);
    }
  }
  for (const ContourSegment& s : region.contour) {
    cover(s.x1, s.y1);
    cover(s.x2, s.y2);
  }
  return region;
}

std::string ConfidenceText(const ConfidenceRegion& region, Distribution distribution) {
  const bool firstLevels = distribution == Distribution::FirstLevels;
  std::string line = Format(
      "%g %% confidence region: n_1 %.3e .. %.3e m-3, %s %.4g .. %.4g", region.level * 100,
      std::pow(10.0, region.minLog10N1), std::pow(10.0, region.maxLog10N1),
      firstLevels ? "1s2/4 (1e-3)" : "T_exc/K", region.minSecond, region.maxSecond);
  if (region.touchesEdge) line += " (the region reaches the grid's edge: these are bounds)";
  return line;
}

}  // namespace lumora
