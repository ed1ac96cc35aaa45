#include "model/confidence_region.h"

#include <algorithm>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>
#include <cmath>

#include "base/errors.h"
#include "base/format.h"

namespace lumora {

namespace {

// Past this, a region is too small for any grid: it is only described.
constexpr int kMaxRefineFactor = 1000;
constexpr int kEllipseSegments = 72;

// The sum at the region's edge: a chi-square rises by its quantile at P
// degrees of freedom; a plain sum grows by the F test's factor.
double Threshold(double minimum, int lineCount, double level, bool weighted) {
  const int p = kConfidenceParameters;
  if (weighted)
    return minimum + boost::math::quantile(boost::math::chi_squared_distribution<double>(p), level);
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
    throw Error(
        Format("The confidence level must lie between 0 and 1, not %s.", MessageNumber(level)));
  if (lineCount <= kConfidenceParameters)
    throw Error(Format("A confidence region needs at least %d lines; the measurement has %d.",
                       kConfidenceParameters + 1, lineCount));
  ConfidenceRegion region;
  region.level = level;
  region.weighted = map.Weighted();
  region.minimum = map.minimum;
  region.threshold = Threshold(map.minimum, lineCount, level, region.weighted);

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

namespace {

// The extent of the cells under the threshold along one axis, widened by a
// whole step on either side: the region's edge lies somewhere between the
// last point under the threshold and the first above it, so that is what
// the grid can vouch for; and how many distinct cells lie under it there.
struct AxisCover {
  double low = 0, high = 0;
  int cells = 0;
};

// The range along an axis from the covariance ellipse: the optimum plus or
// minus the half-width of the region's projection, sqrt(dS Cov(i,i)).
void EllipseRange(double centre, double halfWidth, double& low, double& high) {
  low = centre - halfWidth;
  high = centre + halfWidth;
}

// The ellipse dp' Cov^-1 dp = excess around the optimum as a closed line:
// dp = L (cos t, sin t) with L L' = excess Cov; nothing when the covariance
// is not positive.
std::vector<ContourSegment> EllipseContour(const RegionOptimum& optimum, double excess) {
  const double c00 = static_cast<double>(optimum.covariance(0, 0)) * excess;
  const double c01 = static_cast<double>(optimum.covariance(0, 1)) * excess;
  const double c11 = static_cast<double>(optimum.covariance(1, 1)) * excess;
  if (!(c00 > 0)) return {};
  const double a = std::sqrt(c00), b = c01 / a, rest = c11 - b * b;
  if (!(rest >= 0)) return {};
  const double c = std::sqrt(rest);
  auto point = [&](int k) {
    const double t = 2 * 3.14159265358979323846 * k / kEllipseSegments;
    return std::pair<double, double>{optimum.log10N1 + a * std::cos(t),
                                     optimum.second + b * std::cos(t) + c * std::sin(t)};
  };
  std::vector<ContourSegment> segments;
  for (int k = 0; k < kEllipseSegments; ++k) {
    const auto [x1, y1] = point(k);
    const auto [x2, y2] = point(k + 1);
    segments.push_back({x1, y1, x2, y2});
  }
  return segments;
}

// The parts of the segments inside the grid's rectangle (Liang-Barsky).
std::vector<ContourSegment> ClippedToTheGrid(const std::vector<ContourSegment>& segments,
                                             const MapRange& r) {
  const double xLow = std::min(r.x0, r.x1), xHigh = std::max(r.x0, r.x1);
  const double yLow = std::min(r.y0, r.y1), yHigh = std::max(r.y0, r.y1);
  std::vector<ContourSegment> inside;
  for (const ContourSegment& s : segments) {
    const double dx = s.x2 - s.x1, dy = s.y2 - s.y1;
    double t0 = 0, t1 = 1;
    bool visible = true;
    auto clip = [&](double p, double q) {
      if (p == 0) {
        visible = visible && q >= 0;
        return;
      }
      const double t = q / p;
      if (p < 0)
        t0 = std::max(t0, t);
      else
        t1 = std::min(t1, t);
    };
    clip(-dx, s.x1 - xLow);
    clip(dx, xHigh - s.x1);
    clip(-dy, s.y1 - yLow);
    clip(dy, yHigh - s.y1);
    if (!visible || t0 > t1) continue;
    inside.push_back({s.x1 + t0 * dx, s.y1 + t0 * dy, s.x1 + t1 * dx, s.y1 + t1 * dy});
  }
  return inside;
}

// The factor that makes three cells of the grid span the region; past
// kMaxRefineFactor, one more than it.
int RefineFactor(double step, double width) {
  const double factor = width > 0 ? std::ceil(3 * std::fabs(step) / width) : HUGE_VAL;
  return static_cast<int>(std::clamp(factor, 2.0, kMaxRefineFactor + 1.0));
}

}  // namespace

ConfidenceRegion FindConfidenceRegion(const MapResult& map, int lineCount, double level,
                                      const RegionOptimum& optimum) {
  MapResult anchored = map;
  anchored.minimum = std::min(map.minimum, optimum.mapSum);
  ConfidenceRegion region = FindConfidenceRegion(anchored, lineCount, level);
  region.anchored = true;
  region.fitLog10N1 = optimum.log10N1;
  region.fitSecond = optimum.second;

  const ResidualGrid& grid = map.grid;
  const MapRange& r = map.range;
  std::vector<bool> columns(grid.empty() ? 0 : grid[0].size(), false), rows(grid.size(), false);
  for (size_t i = 0; i < grid.size(); ++i)
    for (size_t j = 0; j < grid[i].size(); ++j)
      if (grid[i][j] <= region.threshold) columns[j] = rows[i] = true;
  auto cover = [](const std::vector<bool>& under, double origin, double step, double fit) {
    AxisCover c;
    bool any = false;
    for (size_t k = 0; k < under.size(); ++k) {
      if (!under[k]) continue;
      const double v = origin + static_cast<double>(k) * step;
      const double a = std::min(v - step, v + step), b = std::max(v - step, v + step);
      c.low = any ? std::min(c.low, a) : a;
      c.high = any ? std::max(c.high, b) : b;
      any = true;
      ++c.cells;
    }
    if (!any) c.low = c.high = fit;
    c.low = std::min(c.low, fit);
    c.high = std::max(c.high, fit);
    return c;
  };
  const AxisCover n1 = cover(columns, r.x0, r.dx, optimum.log10N1);
  const AxisCover second = cover(rows, r.y0, r.dy, optimum.second);

  // The region's sum excess at the threshold, in the map's units.
  const double excess = std::max(0.0, region.threshold - anchored.minimum);
  const bool withCovariance = optimum.covariance.rows() == 2 && optimum.covariance.cols() == 2;
  // One axis's range: the grid's, or where the grid does not resolve the
  // region, the ellipse's projection (the optimum plus or minus
  // sqrt(dS Cov(i,i))) with the factor that would resolve it.
  auto range = [&](int axis, const AxisCover& cover, double centre, double step, double& low,
                   double& high, int& refine) {
    low = cover.low;
    high = cover.high;
    if (cover.cells >= 3 || !withCovariance) return;
    const double variance = static_cast<double>(optimum.covariance(axis, axis));
    const double h = variance > 0 ? std::sqrt(excess * variance) : 0.0;
    EllipseRange(centre, h, low, high);
    refine = RefineFactor(step, 2 * h);
  };
  range(0, n1, optimum.log10N1, r.dx, region.minLog10N1, region.maxLog10N1, region.refineN1);
  range(1, second, optimum.second, r.dy, region.minSecond, region.maxSecond, region.refineSecond);
  // A grid that does not resolve the region cannot draw it: the contour is
  // then the ellipse its ranges come from.
  if (region.refineN1 > 0 || region.refineSecond > 0)
    region.contour = ClippedToTheGrid(EllipseContour(optimum, excess), r);
  return region;
}

std::string ConfidenceText(const ConfidenceRegion& region, Distribution distribution) {
  const bool firstLevels = distribution == Distribution::FirstLevels;
  std::string line =
      Format("%g %% confidence region: n_1 %.3e .. %.3e m-3, %s %.4g .. %.4g", region.level * 100,
             std::pow(10.0, region.minLog10N1), std::pow(10.0, region.maxLog10N1),
             firstLevels ? "1s2/4 (1e-3)" : "T_exc/K", region.minSecond, region.maxSecond);
  if (region.touchesEdge) line += " (the region reaches the grid's edge: these are bounds)";
  auto coarse = [&](const char* axis, int factor) {
    if (factor > kMaxRefineFactor)
      line += Format(
          " (the region is smaller than a thousandth of a grid cell along %s: this "
          "range is the fit's)",
          axis);
    else if (factor > 0)
      line += Format(
          " (the grid is too coarse for the region along %s: this range is the fit's; "
          "refine the grid about %d times to see it)",
          axis, factor);
  };
  coarse("n_1", region.refineN1);
  coarse(firstLevels ? "1s2/4" : "T_exc", region.refineSecond);
  if (region.weighted)
    line += Format(
        " (chi-square threshold %.4g: the least chi-square %.4g plus %.4g, its %g %% "
        "quantile with 2 degrees of freedom)",
        region.threshold, region.minimum, region.threshold - region.minimum, region.level * 100);
  return line;
}

}  // namespace lumora
