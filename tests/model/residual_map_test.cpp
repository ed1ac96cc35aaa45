#include "model/residual_map.h"
#include "model/results_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/format.h"
#include "fit_fixture.h"

namespace lumora::fittest {
namespace {

constexpr const char* kWarning = "Sum was not divided by DoF (not enough lines)!";

// A map over the grid as a command runs it, keeping the grid in ResidualMap.
class MapWorld : public FitWorld {
 protected:
  MapResult RunMap(int nDens, int nTemp, double fromLog, double toLog, double fromT, double toT,
                   std::vector<std::string>* report, MapRange* rangeOut = nullptr,
                   const ModelParameters& base = BaseParameters(0, 0)) {
    MapRequest request;
    request.model = base;
    request.densityPoints = nDens;
    request.temperaturePoints = nTemp;
    request.log10FromDensity = fromLog;
    request.log10ToDensity = toLog;
    request.fromTemperature = fromT;
    request.toTemperature = toT;
    request.dataFileName = "synthetic.txt";
    request.threads = threads;
    request.progress = progress;
    model.ClearCache();
    MapResult result = MapResiduals(model, request, resultsLineCount);
    ResidualMap = result.grid;
    if (rangeOut) *rangeOut = result.range;
    if (report) report->insert(report->end(), result.report.begin(), result.report.end());
    return result;
  }

  ResidualGrid ResidualMap;
  int threads = 0;
  MapProgress progress;
};

class MapTest : public ::testing::Test, public MapWorld {};
using ResidualMapTest = MapTest;

TEST_F(ResidualMapTest, MinimumLiesAtTheGridPointNearestTheTruth) {
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
  std::vector<std::string> report;
  MapRange range;
  // Densities 1e15 .. 1e18 in steps of 0.06, temperatures 1000 .. 2000 in
  // steps of 40: nearest point 16.32 (index 22), 1520 (index 13).
  const MapResult map = RunMap(50, 25, 15, 18, 1000, 2000, &report, &range);
  const ModelParameters& b = map.atMinimum;

  double x = 15, t = 1000;
  for (int j = 0; j < 22; ++j) x += range.dx;
  for (int i = 0; i < 13; ++i) t += range.dy;
  EXPECT_EQ(b.log10N1, x);
  EXPECT_EQ(b.second, t);
  EXPECT_DOUBLE_EQ(range.dx, 0.06);
  EXPECT_DOUBLE_EQ(range.dy, 40);
  EXPECT_EQ(range.x0, 15);
  EXPECT_EQ(range.x1, 18);
  EXPECT_EQ(range.y0, 1000);
  EXPECT_EQ(range.y1, 2000);

  double lowest = 1e300, highest = -1e300;
  for (const auto& row : ResidualMap)
    for (double v : row) lowest = std::min(lowest, v), highest = std::max(highest, v);
  EXPECT_EQ(map.minimum, lowest);
  EXPECT_EQ(map.maximum, highest);
  EXPECT_EQ(ResidualMap[13][22], lowest);

  // The lines and levels are left at the minimum.
  ModelParameters best = BaseParameters(0, 0);
  best.log10N1 = b.log10N1;
  best.second = b.second;
  EXPECT_EQ(table.levels[0].Density, static_cast<double>(std::pow(10.0L, b.log10N1)));
  model.ClearCache();
  for (size_t k = 0; k < table.lines.size(); ++k)
    EXPECT_EQ(table.lines[k].G_f, static_cast<double>(model.Evaluate(best, k)));
  model.ClearCache();

  ASSERT_EQ(report.size(), 2u);
  EXPECT_EQ(report[0].rfind("n_tot/m-3 ±u(n_tot)    n_1/m-3", 0), 0u) << report[0];
  const std::vector<std::string> words = SplitBlanks(report[1]);
  ASSERT_EQ(words.size(), 15u) << report[1];
  EXPECT_EQ(words[2], Format("%.3e", std::pow(10.0L, b.log10N1)));
  EXPECT_EQ(words[10], "1520");
  EXPECT_EQ(words[11], "0");
  EXPECT_EQ(words[12], Format("%.5e", lowest));
  EXPECT_EQ(words[14], "map");
  for (int k = 0; k < 5; ++k) EXPECT_EQ(words[1 + 2 * k], "0.00E+000") << k;
}

TEST_F(ResidualMapTest, EvaluatesDecadesWithoutTheLimit) {
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
  MapRange range;
  RunMap(3, 1, 15, 18, 1500, 1600, nullptr, &range);
  EXPECT_EQ(range.dx, 1);
  ASSERT_EQ(ResidualMap.size(), 1u);
  ASSERT_EQ(ResidualMap[0].size(), 3u);
  for (int j = 0; j < 3; ++j) {
    const ModelParameters at = BaseParameters(15 + j, 1500);
    EXPECT_EQ(ResidualMap[0][j], static_cast<double>(GridPointRSS(model, at, 2))) << j;
  }
}

// The grid's sums come from the double-precision model; each must match
// the extended model's residual sum at its point. Fractions within 1e-12
// move the root of the sum by less than the lines' count times that.
TEST_F(ResidualMapTest, CellsAgreeWithTheExtendedModel) {
  LoadSmallElement(EightLines());
  for (const Distribution distribution : {Distribution::Boltzmann, Distribution::FirstLevels}) {
    const long double second = distribution == Distribution::Boltzmann ? 1500 : 150;
    MeasureFromModel(BaseParameters(kTrueLog10N1, second, distribution));
    for (size_t k = 0; k < table.lines.size(); ++k) table.lines[k].G_m *= k % 2 ? 1.01 : 0.99;
    MapRange range;
    const ModelParameters base = BaseParameters(0, 0, distribution);
    RunMap(30, 6, 12, 20, static_cast<double>(second / 3), static_cast<double>(second * 3), nullptr,
           &range, base);
    double t = range.y0;
    for (size_t i = 0; i < ResidualMap.size(); ++i, t += range.dy) {
      double x = range.x0;
      for (size_t j = 0; j < ResidualMap[i].size(); ++j, x += range.dx) {
        ModelParameters at = base;
        at.log10N1 = x;
        at.second = t;
        model.ClearCache();
        long double sum = 0;
        for (size_t k = 0; k < table.lines.size(); ++k) {
          const long double diff = model.Evaluate(at, static_cast<int>(k)) - table.lines[k].G_m;
          sum += diff * diff;
        }
        sum /= static_cast<long double>(table.lines.size() - 2);
        EXPECT_NEAR(std::sqrt(ResidualMap[i][j]), std::sqrt(static_cast<double>(sum)), 1e-11)
            << static_cast<int>(distribution) << " " << x << " " << t;
      }
    }
    model.ClearCache();
  }
}

struct DivisionCase {
  const char* name;
  size_t lines;
  bool warned;
};

class ResidualMapDivision : public ::testing::TestWithParam<DivisionCase>, public MapWorld {};

// With M lines the sums are divided by M - 2 when that is positive; with
// two lines they stay plain sums and the report says so.
TEST_P(ResidualMapDivision, DividesByTheDegreesOfFreedom) {
  const DivisionCase& c = GetParam();
  std::vector<LineSpec> lines = EightLines();
  lines.resize(c.lines);
  LoadSmallElement(lines);
  MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
  for (auto& line : table.lines) line.G_m += 0.01;
  resultsLineCount = 1;
  std::vector<std::string> report;
  RunMap(2, 2, 15, 17, 1000, 2000, &report);

  const ModelParameters b = BaseParameters(15, 1000);
  model.ClearCache();
  const std::vector<double> fractions = model.FractionValues(b);
  long double plain = 0;
  for (size_t k = 0; k < table.lines.size(); ++k) {
    const double gf = fractions[k];
    plain += (static_cast<long double>(gf) - table.lines[k].G_m) *
             (static_cast<long double>(gf) - table.lines[k].G_m);
  }
  model.ClearCache();
  const long double divisor = c.lines > 2 ? static_cast<long double>(c.lines - 2) : 1;
  EXPECT_EQ(ResidualMap[0][0], static_cast<double>(plain / divisor));

  ASSERT_EQ(report.size(), c.warned ? 2u : 1u);
  if (c.warned) {
    EXPECT_EQ(report[0], kWarning);
  }
  EXPECT_EQ(SplitBlanks(report.back()).back(), "map");
}

INSTANTIATE_TEST_SUITE_P(Lines, ResidualMapDivision,
                         ::testing::Values(DivisionCase{"Two", 2, true},
                                           DivisionCase{"Three", 3, false},
                                           DivisionCase{"Eight", 8, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResidualMapTest, TiesGoToTheFirstPointInScanOrder) {
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
  ModelParameters base = BaseParameters(0, 0);
  base.levelCount = 0;  // no absorbing level: every grid point gives the same sum
  const MapResult map = RunMap(4, 3, 15, 17, 1000, 2000, nullptr, nullptr, base);
  EXPECT_EQ(map.atMinimum.log10N1, 15);
  EXPECT_EQ(map.atMinimum.second, 1000);
  EXPECT_EQ(map.minimum, map.maximum);
}

TEST_F(ResidualMapTest, RefusesGridsWithoutPointsOrMinimum) {
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
  for (auto [nDens, nTemp] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{-1, -1}}) {
    try {
      RunMap(nDens, nTemp, 15, 17, 1000, 2000, nullptr);
      ADD_FAILURE() << nDens << " x " << nTemp << " accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("at least 1 point"), std::string::npos) << e.what();
    }
  }
  // Sums of squares of 1e22: no grid value below the starting minimum.
  for (auto& line : table.lines) line.G_m = 1e11;
  std::vector<std::string> report;
  EXPECT_THROW(RunMap(2, 2, 15, 17, 1000, 2000, &report), Error);
  EXPECT_TRUE(report.empty());
}

// Counts beyond the limits are refused before anything is allocated, by the
// map and by the zero grid a front end sizes alike; the largest grid is kept.
TEST_F(ResidualMapTest, RefusesGridsBeyondTheLimits) {
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
  struct Case {
    int nDens, nTemp;
    const char* error;
  };
  const Case cases[] = {
      {10001, 1,
       "A map takes at most 10000 points on each axis (density points 10001, "
       "temperature points 1)."},
      {1, 10001, "A map takes at most 10000 points on each axis"},
      {2147483647, 2, "A map takes at most 10000 points on each axis"},
      {10000, 1001,
       "A map takes at most 10000000 grid points; 10000 density points by 1001 "
       "temperature points are 10010000."},
  };
  for (const Case& c : cases) {
    for (const bool zeroGrid : {false, true}) {
      try {
        if (zeroGrid)
          ZeroGrid(c.nTemp, c.nDens);
        else
          RunMap(c.nDens, c.nTemp, 15, 17, 1000, 2000, nullptr);
        ADD_FAILURE() << c.nDens << " x " << c.nTemp << " accepted";
      } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()).rfind(c.error, 0), 0u) << e.what();
      }
    }
  }
  EXPECT_EQ(ZeroGrid(1000, 10000).size(), 1000u);
  EXPECT_EQ(ZeroGrid(-1, -1).size(), 0u);
}

// What a map leaves: its result and the caller's table.
struct MapOutcome {
  ResidualGrid grid;
  MapResult result;
  std::vector<std::string> report;
  std::vector<double> lineValues;  // every line's G_f
  std::vector<double> levelDensities;
  std::string fault;
};

class ParallelMapTest : public MapTest {
 protected:
  MapOutcome Outcome(int nDens, int nTemp, double fromT, double toT, const ModelParameters& base) {
    MapOutcome o;
    resultsLineCount = 0;
    try {
      o.result = RunMap(nDens, nTemp, 15, 18, fromT, toT, &o.report, nullptr, base);
    } catch (const std::exception& e) {
      o.fault = e.what();
    }
    o.grid = ResidualMap;
    for (const auto& line : table.lines) o.lineValues.push_back(line.G_f);
    for (const auto& level : table.levels) o.levelDensities.push_back(level.Density);
    return o;
  }
};

// Rows on several threads give the one-thread map: grid, minimum and its
// point, the report and the caller's table, ties and faults included.
TEST_F(ParallelMapTest, GivesTheOneThreadMap) {
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
  ModelParameters noAbsorbingLevel = BaseParameters(0, 0);
  noAbsorbingLevel.levelCount = 0;  // every point gives the same sum
  struct Grid {
    const char* name;
    int nDens, nTemp;
    double fromT, toT;
    ModelParameters base;
  };
  const Grid grids[] = {
      {"truth inside", 37, 41, 1000, 2000, BaseParameters(0, 0)},
      {"one column", 1, 23, 1000, 2000, BaseParameters(0, 0)},
      {"all equal", 9, 17, 1000, 2000, noAbsorbingLevel},
      // T = 0 on the fourth row of eight fails there.
      {"fault on a row", 6, 8, -3000, 5000, BaseParameters(0, 0)},
  };
  for (const Grid& g : grids) {
    threads = 1;
    const MapOutcome serial = Outcome(g.nDens, g.nTemp, g.fromT, g.toT, g.base);
    EXPECT_EQ(serial.fault.empty(), std::string(g.name) != "fault on a row") << serial.fault;
    for (int count : {0, 2, 3, 8}) {
      threads = count;
      const MapOutcome parallel = Outcome(g.nDens, g.nTemp, g.fromT, g.toT, g.base);
      SCOPED_TRACE(std::string(g.name) + ", threads " + std::to_string(count));
      EXPECT_EQ(parallel.fault, serial.fault);
      if (!serial.fault.empty()) continue;
      EXPECT_EQ(parallel.grid, serial.grid);
      EXPECT_EQ(parallel.result.atMinimum.log10N1, serial.result.atMinimum.log10N1);
      EXPECT_EQ(parallel.result.atMinimum.second, serial.result.atMinimum.second);
      EXPECT_EQ(parallel.result.minimum, serial.result.minimum);
      EXPECT_EQ(parallel.result.maximum, serial.result.maximum);
      EXPECT_EQ(parallel.report, serial.report);
      EXPECT_EQ(parallel.lineValues, serial.lineValues);
      EXPECT_EQ(parallel.levelDensities, serial.levelDensities);
    }
  }
}

TEST_F(ParallelMapTest, ReportsEveryRowOnceInOrder) {
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
  std::vector<std::pair<int, int>> calls;
  progress = [&calls](int done, int rows) { calls.emplace_back(done, rows); };
  threads = 3;
  Outcome(11, 29, 1000, 2000, BaseParameters(0, 0));
  ASSERT_EQ(calls.size(), 29u);
  for (size_t i = 0; i < calls.size(); ++i)
    EXPECT_EQ(calls[i], std::make_pair(static_cast<int>(i) + 1, 29)) << i;
}

class ResultsLineTest : public ::testing::Test {
 protected:
  // The results line of `input` over the test's levels.
  void ResultsLine(const ResultsInput& input, std::vector<std::string>* target,
                   const std::string& file) {
    lumora::ResultsLine(table.levels, input, resultsLineCount, target, file);
  }
  LineTable table;
  int resultsLineCount = 0;

  void SetUp() override {
    table.levels = {MakeLevel(11.5, 5), MakeLevel(11.6, 3), MakeLevel(11.7, 1)};
    table.levels[0].Density = 1e16;
    table.levels[1].Density = 5e15;
    table.levels[2].Density = 2.5e14;
  }
  // A map's results (no stop code) or a fit's, at T = 1500 over `count` levels.
  static ResultsInput Input(int32_t count, long double rss, std::optional<StopCode> stop = {},
                            Distribution kind = Distribution::Boltzmann) {
    ResultsInput input;
    input.at.second = 1500;
    input.at.levelCount = count;
    input.at.distribution = kind;
    input.sum = rss;
    input.fitStop = stop;
    return input;
  }
};

TEST_F(ResultsLineTest, MapLineAndHeaderOncePerElement) {
  std::vector<std::string> lines;
  ResultsLine(Input(2, 1.2345678e-3), &lines, "x.txt");
  ResultsLine(Input(2, 2e-4), &lines, "y.txt");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "n_tot/m-3 ±u(n_tot)    n_1/m-3   ±u(n_1)   n_2/m-3   ±u(n_2)   T/K  u(T)       RSS "
            "Filename  Procedure");
  EXPECT_EQ(lines[1],
            "1.50E+016 0.00E+000  1.00E+016 0.00E+000 5.00E+015 0.00E+000  1500     0 "
            "1.2346E-003 x.txt  map");
  EXPECT_EQ(lines[2].substr(lines[2].size() - 10), "y.txt  map");
  resultsLineCount = 0;  // the next element
  ResultsLine(Input(2, 2e-4), &lines, "z.txt");
  EXPECT_EQ(lines[3], lines[0]);
}

TEST_F(ResultsLineTest, LevelCountBelowOneAndAboveTheLevels) {
  std::vector<std::string> lines;
  ResultsLine(Input(0, 1e-3), &lines, "x.txt");
  EXPECT_EQ(lines[0], "n_tot/m-3 ±u(n_tot)    T/K  u(T)       RSS Filename  Procedure");
  EXPECT_EQ(lines[1], "0.00E+000 0.00E+000   1500     0 1.0000E-003 x.txt  map");
  ResultsLine(Input(1000000000, 1e-3), &lines, "x.txt");
  EXPECT_EQ(SplitBlanks(lines[2]).size(), 2 + 2 * 3 + 5u) << lines[2];
  EXPECT_EQ(lines[2].substr(0, 9), "1.53E+016");
}

TEST_F(ResultsLineTest, FitProcedureNamesTheStopCode) {
  const std::pair<int, std::string> cases[] = {
      {0, "fit:sum reached"},
      {1, "fit:lambda reached"},
      {2, "fit:itercount reached"},
      {5, "fit:OK"},
      {7, "fit: 7"},
  };
  for (const auto& [code, text] : cases) {
    std::vector<std::string> lines;
    ResultsLine(Input(1, 0, static_cast<StopCode>(code)), &lines, "x.txt");
    EXPECT_EQ(lines.back().substr(lines.back().size() - text.size() - 2), "  " + text) << code;
  }
}

// Under "1s levels" the second parameter moves levels 2 and 4 by n_1 / 1000
// per unit and leaves level 3 alone; levels 2 and 4 move together, so
// their total's uncertainty is the sum of theirs.
TEST_F(ResultsLineTest, FirstLevelsUncertaintyOfTheSecondParameter) {
  table.levels.push_back(MakeLevel(11.8, 3));
  table.levels[0].Density = 1e16;
  table.levels[1].Density = 3e15;
  table.levels[2].Density = 2e15;
  table.levels[3].Density = 3e15;
  ResultsInput input = Input(4, 0, StopCode::SumReached, Distribution::FirstLevels);
  input.at.log10N1 = 16;
  input.at.second = 300;
  input.secondError = 20;
  input.secondFitted = true;
  input.covariance = ParameterMatrix::Zero(2, 2);
  input.covariance(1, 1) = 20 * 20;
  std::vector<std::string> lines;
  ResultsLine(input, &lines, "x.txt");
  // The header names the ratio, not a temperature.
  EXPECT_NE(lines[0].find(" 1s2/4 u(1s)       RSS"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].find("T/K"), std::string::npos) << lines[0];
  const std::vector<std::string> words = SplitBlanks(lines[1]);
  EXPECT_EQ(words[3], "0.00E+000");
  EXPECT_EQ(words[5], "2.00E+014");
  EXPECT_EQ(words[7], "0.00E+000");
  EXPECT_EQ(words[9], "2.00E+014");
  EXPECT_EQ(words[1], "4.00E+014");
}

TEST_F(ResultsLineTest, AbsentTargetIsAnError) {
  try {
    ResultsLine(Input(2, 0), nullptr, "x.txt");
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Lines not assigned.");
  }
  EXPECT_EQ(resultsLineCount, 0);
}

}  // namespace
}  // namespace lumora::fittest
