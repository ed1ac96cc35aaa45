#include "model/confidence_region.h"

#include <gtest/gtest.h>

#include <boost/math/distributions/fisher_f.hpp>
#include <cmath>
#include <string>

#include "base/errors.h"
#include "fit_fixture.h"
#include "model/session.h"

namespace lumora::fittest {
namespace {

// A grid of (x - 2)^2 + (y - 2)^2 / 4 + 1 over x = 0..4, y = 0..4 (steps 0.5).
MapResult Bowl() {
  MapResult map;
  map.range = MapRange{0, 4, 0, 4, 0.5, 0.5};
  map.grid = ZeroGrid(9, 9);
  for (int i = 0; i < 9; ++i)
    for (int j = 0; j < 9; ++j) {
      const double x = j * 0.5, y = i * 0.5;
      map.grid[i][j] = (x - 2) * (x - 2) + (y - 2) * (y - 2) / 4 + 1;
    }
  map.minimum = 1;
  return map;
}

// The grid's value at a point of a cell edge, linear along the edge.
double EdgeValue(const MapResult& map, double x, double y) {
  const double fj = (x - map.range.x0) / map.range.dx, fi = (y - map.range.y0) / map.range.dy;
  const int j = static_cast<int>(std::floor(fj + 1e-9)),
            i = static_cast<int>(std::floor(fi + 1e-9));
  const double tx = fj - j, ty = fi - i;
  const auto& g = map.grid;
  if (tx < 1e-9) return g[i][j] + ty * (g[i + 1][j] - g[i][j]);
  return g[i][j] + tx * (g[i][j + 1] - g[i][j]);
}

TEST(ConfidenceRegion, ThresholdFromTheFQuantileAndTheContourOnIt) {
  const MapResult map = Bowl();
  const ConfidenceRegion region = FindConfidenceRegion(map, 12, 0.68);
  const boost::math::fisher_f_distribution<double> f(2, 10);
  EXPECT_DOUBLE_EQ(region.threshold, 1 * (1 + 2.0 / 10 * boost::math::quantile(f, 0.68)));
  ASSERT_FALSE(region.contour.empty());
  for (const ContourSegment& s : region.contour) {
    EXPECT_NEAR(EdgeValue(map, s.x1, s.y1), region.threshold, 1e-12);
    EXPECT_NEAR(EdgeValue(map, s.x2, s.y2), region.threshold, 1e-12);
  }
  // The ranges are the contour's extent, around the minimum at (2, 2).
  double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
  for (const ContourSegment& s : region.contour) {
    minX = std::min({minX, s.x1, s.x2});
    maxX = std::max({maxX, s.x1, s.x2});
    minY = std::min({minY, s.y1, s.y2});
    maxY = std::max({maxY, s.y1, s.y2});
  }
  EXPECT_EQ(region.minLog10N1, minX);
  EXPECT_EQ(region.maxLog10N1, maxX);
  EXPECT_EQ(region.minSecond, minY);
  EXPECT_EQ(region.maxSecond, maxY);
  EXPECT_LT(region.minLog10N1, 2);
  EXPECT_GT(region.maxLog10N1, 2);
  EXPECT_FALSE(region.touchesEdge);

  // A wider level reaches the grid's border: the ranges are only bounds.
  EXPECT_TRUE(FindConfidenceRegion(map, 3, 0.95).touchesEdge);
}

TEST(ConfidenceRegion, RefusesLevelsOutsideTheUnitIntervalAndTooFewLines) {
  const MapResult map = Bowl();
  for (double level : {0.0, 1.0, -0.5, 1.5, std::nan("")})
    EXPECT_THROW(FindConfidenceRegion(map, 10, level), Error) << level;
  try {
    FindConfidenceRegion(map, 2, 0.95);
    ADD_FAILURE() << "two lines accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("at least 3 lines"), std::string::npos) << e.what();
  }
}

using ConfidenceOnAMap = FitTest;

// The region of a measurement's map holds the grid point nearest the truth.
TEST_F(ConfidenceOnAMap, HoldsTheTrueGridPoint) {
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
  MapRequest request;
  request.model = BaseParameters(0, 0);
  request.densityPoints = 50;
  request.temperaturePoints = 25;
  request.log10FromDensity = 15;
  request.log10ToDensity = 18;
  request.fromTemperature = 1000;
  request.toTemperature = 2000;
  const MapResult map = MapResiduals(model, request, resultsLineCount);
  const ConfidenceRegion region = FindConfidenceRegion(map, 8, 0.95);
  // Nearest grid point to 16.3, 1500: 16.32 (column 22), 1520 (row 13).
  EXPECT_LE(map.grid[13][22], region.threshold);
  EXPECT_LE(region.minLog10N1, 16.32);
  EXPECT_GE(region.maxLog10N1, 16.32 - 1e-9);
  EXPECT_LE(region.minSecond, 1520);
  EXPECT_GE(region.maxSecond, 1520);
}

// The bundled noisy sample mapped on grids from 5 to 300 points a side: the
// region always holds the fit's optimum; where the grid resolves it, its
// ranges agree with the covariance ellipse, an independent description of
// the same region; and a finer grid's range lies inside a coarser one's.
class ConfidenceOnTheSample : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string data = std::string(LUMORA_SOURCE_DIR) + "/data/";
    session.ChangeElement({data + "database", "Ar_I_levels.txt", "Ar, I"});
    session.ReadMeasurement(data + "measurements/argon_n4e16_noise.txt");
    session.Recalculate();
  }
  ConfidenceRegion Region(int points, double fromLog, double toLog, double fromT, double toT) {
    MapRequest request;
    request.model = BaseParameters(0, 0);
    request.densityPoints = points;
    request.temperaturePoints = points;
    request.log10FromDensity = fromLog;
    request.log10ToDensity = toLog;
    request.fromTemperature = fromT;
    request.toTemperature = toT;
    request.withReport = false;
    map = session.Map(request);
    return session.Confidence(map, 0.95);
  }
  testing::TempFolder logs;
  Session session{SessionOptions{logs.path(), [](auto&) {}}};
  MapResult map;
};

TEST_F(ConfidenceOnTheSample, HoldsTheOptimumOnEveryGrid) {
  std::vector<ConfidenceRegion> regions;
  for (int points : {5, 7, 10, 20, 50, 120, 300}) {
    const ConfidenceRegion r = Region(points, 15, 18, 500, 3000);
    SCOPED_TRACE(points);
    ASSERT_TRUE(r.anchored);
    EXPECT_LE(r.minLog10N1, r.fitLog10N1);
    EXPECT_GE(r.maxLog10N1, r.fitLog10N1);
    EXPECT_LE(r.minSecond, r.fitSecond);
    EXPECT_GE(r.maxSecond, r.fitSecond);
    EXPECT_LT(r.maxLog10N1 - r.minLog10N1, 0.1);  // a region, not the grid
    EXPECT_LE(r.threshold, Region(points, 15, 18, 500, 3000).threshold);
    regions.push_back(r);
  }
  // The optimum is where a plain fit of both parameters ends.
  FitRequest fit;
  fit.target.start = BaseParameters(16, 1200);
  fit.target.fitSecond = true;
  fit.solver.iterationLimit = 300;
  fit.report.enabled = false;
  const FitResult plain = session.Fit(fit);
  EXPECT_NEAR(regions.back().fitLog10N1, static_cast<double>(plain.fitted.log10N1), 1e-5);
}

TEST_F(ConfidenceOnTheSample, FineGridsAgreeWithTheEllipseAndNest) {
  // A window around the optimum (log10 n_1 16.615, T_exc 1019 K) that a
  // 300-point grid resolves into many cells along both axes.
  const ConfidenceRegion fine = Region(300, 16.57, 16.66, 990, 1050);
  ASSERT_EQ(fine.refineN1, 0);
  ASSERT_EQ(fine.refineSecond, 0);
  const ConfidenceRegion coarse = Region(40, 16.57, 16.66, 990, 1050);
  const ConfidenceRegion ellipse = Region(5, 16.57, 16.66, 990, 1050);
  ASSERT_GT(ellipse.refineN1, 0);
  // The grid's ranges are the points under the threshold widened by a cell:
  // within a few cells and the curvature of the sum of the ellipse's.
  const double cellN1 = 0.09 / 300, cellT = 60.0 / 300;
  EXPECT_NEAR(fine.minLog10N1, ellipse.minLog10N1,
              3 * cellN1 + 0.1 * (ellipse.maxLog10N1 - ellipse.minLog10N1));
  EXPECT_NEAR(fine.maxLog10N1, ellipse.maxLog10N1,
              3 * cellN1 + 0.1 * (ellipse.maxLog10N1 - ellipse.minLog10N1));
  EXPECT_NEAR(fine.minSecond, ellipse.minSecond,
              3 * cellT + 0.1 * (ellipse.maxSecond - ellipse.minSecond));
  EXPECT_NEAR(fine.maxSecond, ellipse.maxSecond,
              3 * cellT + 0.1 * (ellipse.maxSecond - ellipse.minSecond));
  if (coarse.refineN1 == 0 && coarse.refineSecond == 0) {
    EXPECT_LE(coarse.minLog10N1, fine.minLog10N1);
    EXPECT_GE(coarse.maxLog10N1, fine.maxLog10N1);
    EXPECT_LE(coarse.minSecond, fine.minSecond);
    EXPECT_GE(coarse.maxSecond, fine.maxSecond);
  }
  EXPECT_NE(ConfidenceText(ellipse, Distribution::Boltzmann).find("refine the grid about"),
            std::string::npos);
}

}  // namespace
}  // namespace lumora::fittest
