#include <cmath>

#include "base/checked.h"
#include "fixture.h"
#include "model/line_pair_analysis.h"
#include "model/table_text.h"

namespace lumora::test {
namespace {

// Two upper levels with three and two lines; the lower levels differ.
std::vector<LineSpec> AnalysisLines() {
  return {{255.1349, 1e7, 0, 2, 5, 3, 0},
          {474.5586, 3e7, 1, 2, 3, 3, 0},
          {600.0, 2e7, 1, 2, 3, 3, 0},
          {700.0, 2e7, 1, 3, 3, 1, 0},
          {720.0, 5e6, 0, 3, 5, 1, 0}};
}

ModelParameters Start(long double log10n1 = 16) {
  ModelParameters p;
  p.log10N1 = log10n1;
  p.second = 5000;
  p.gasTemperature = 300;
  p.path = 0.1;
  p.mass = 39.948L * 1.6605402e-27L;
  p.levelCount = 100000000;
  return p;
}

ModelParameters Final(long double factor) {
  ModelParameters p = Start();
  p.log10N1 += std::log10(factor);
  return p;
}

class AnalysisTest : public ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    LoadFixture(FixtureLevels(), AnalysisLines());
    ImportLinesForAnalysis(table, lineBase.get(), 0, 1000, 0, 100);
  }
  TAnalysisOutputArray output;
  TRCurve curve;
};

// Progress counts the curve and then each upper level, up to the total;
// an exception from it stops the analysis.
TEST_F(AnalysisTest, ReportsProgressStepByStepAndStopsWhenItRaises) {
  std::vector<std::pair<int, int>> steps;
  AnalyzeLines(model, Start(), Final(50), output, 255.1349, 474.5586, 50, curve,
               [&](int done, int total) { steps.emplace_back(done, total); });
  const int total = static_cast<int>(table.levels.size()) + 1;
  ASSERT_EQ(steps.size(), static_cast<size_t>(total));
  for (int k = 0; k < total; ++k) EXPECT_EQ(steps[k], std::make_pair(k + 1, total)) << k;

  struct Stop {};
  output.clear();
  EXPECT_THROW(AnalyzeLines(model, Start(), Final(50), output, 255.1349, 474.5586, 50, curve,
                            [](int done, int) {
                              if (done == 1) throw Stop{};
                            }),
               Stop);
  EXPECT_TRUE(output.empty());
}

TEST_F(AnalysisTest, RecordsComeByLevelThenByLines) {
  AnalyzeLines(model, Start(), Final(50), output, 255.1349, 474.5586, 50, curve);
  ASSERT_EQ(output.size(), 4u);  // 3 x 2 / 2 + 1
  const double firsts[][2] = {{255.1349, 474.5586}, {255.1349, 600}, {474.5586, 600}, {700, 720}};
  for (size_t r = 0; r < output.size(); ++r) {
    EXPECT_EQ(output[r].wli, firsts[r][0]) << r;
    EXPECT_EQ(output[r].wlj, firsts[r][1]) << r;
    EXPECT_GE(output[r].SR, 1) << r;
    EXPECT_GE(output[r].wlr, 1) << r;
    EXPECT_DOUBLE_EQ(output[r].SR, output[r].R >= 1 ? output[r].R : 1 / output[r].R) << r;
  }
  EXPECT_EQ(output[0].DC, 3);
  EXPECT_EQ(output[0].levindex, 2);
  EXPECT_EQ(output[0].E_u, 13.0);
  EXPECT_DOUBLE_EQ(output[0].wlr, 474.5586 / 255.1349);
  EXPECT_EQ(output[3].DC, 2);
  EXPECT_EQ(output[3].levindex, 3);
  // Some pair changes its ratio, so R below 1 occurs and SR inverts it.
  bool below = false;
  for (const TAnalysisRecord& r : output) below = below || r.R < 1;
  EXPECT_TRUE(below);
}

TEST_F(AnalysisTest, FieldsAfterTheAnalysis) {
  AnalyzeLines(model, Start(), Final(50), output, 1, 2, 50, curve);
  // G_m holds the model at A, G_f and the levels the model at B.
  std::vector<double> atB;
  for (const TLineRecord& l : table.lines) atB.push_back(l.G_f);
  const double densityB = table.levels[0].Density;
  std::vector<double> gm;
  for (const TLineRecord& l : table.lines) gm.push_back(l.G_m);
  model.ClearCache();
  model.Evaluate(Start(), 0);
  for (size_t j = 0; j < table.lines.size(); ++j) EXPECT_EQ(gm[j], table.lines[j].G_f) << j;
  model.ClearCache();
  model.Evaluate(Final(50), 0);
  for (size_t j = 0; j < table.lines.size(); ++j) EXPECT_EQ(atB[j], table.lines[j].G_f) << j;
  EXPECT_EQ(densityB, table.levels[0].Density);

  const TAnalysisRecord& r = output[0];
  EXPECT_EQ(r.Gi_A, gm[0]);
  EXPECT_EQ(r.Gj_B, atB[1]);
  EXPECT_DOUBLE_EQ(r.R, (r.Gi_B / r.Gj_B) / (r.Gi_A / r.Gj_A));
  const double weight = table.levels[2].Sum_f * table.levels[2].Density / table.levels[0].Density;
  EXPECT_DOUBLE_EQ(r.Ii_B, r.Gi_B * weight * 500 / r.wli);
  EXPECT_DOUBLE_EQ(r.Ij_B, r.Gj_B * weight * 500 / r.wlj);
  EXPECT_DOUBLE_EQ(r.I_B, std::sqrt(r.Ii_B * r.Ij_B));
  EXPECT_TRUE(curve.empty());  // neither wavelength present
}

TEST_F(AnalysisTest, UnitFactorLeavesEveryRatioAtOne) {
  AnalyzeLines(model, Start(), Final(1), output, 255.1349, 474.5586, 50, curve);
  ASSERT_FALSE(output.empty());
  for (const TAnalysisRecord& r : output) {
    EXPECT_EQ(r.R, 1);
    EXPECT_EQ(r.SR, 1);
  }
  ASSERT_EQ(curve.size(), 2u);
  for (size_t k = 0; k < curve[0].size(); ++k) {
    EXPECT_EQ(curve[0][k], 1e16);
    EXPECT_NEAR(curve[1][k], curve[1][0], 1e-15);
  }
}

TEST_F(AnalysisTest, CurveIsEvenlySpacedUpToTheFinalDensity) {
  AnalyzeLines(model, Start(), Final(50), output, 255.1349, 474.5586, 50, curve);
  ASSERT_EQ(curve.size(), 2u);
  ASSERT_EQ(curve[0].size(), 50u);
  EXPECT_EQ(curve[0][0], 1e16);
  EXPECT_NEAR(curve[0][49] / 5e17, 1, 1e-14);
  const double d = (curve[0][49] - curve[0][0]) / 49;
  for (int k = 1; k < 50; ++k) EXPECT_NEAR(curve[0][k] - curve[0][k - 1], d, d * 1e-9) << k;
  // The first point is the pair's ratio at A, the last the ratio at B.
  EXPECT_EQ(curve[1][0], output[0].Gi_A / output[0].Gj_A);
  EXPECT_NEAR(curve[1][49], output[0].Gi_B / output[0].Gj_B, 1e-12);
  // Line 474.5586 has the larger optical depth: the ratio grows.
  for (int k = 1; k < 50; ++k) EXPECT_GT(curve[1][k], curve[1][k - 1]) << k;
}

TEST_F(AnalysisTest, FixedWavelengthsMatchExactly) {
  AnalyzeLines(model, Start(), Final(50), output, 255.1348, 474.5586, 50, curve);
  EXPECT_TRUE(curve.empty());
  EXPECT_EQ(output.size(), 4u);
}

TEST_F(AnalysisTest, Failures) {
  // Fewer than two curve points with the pair present.
  EXPECT_THROW(AnalyzeLines(model, Start(), Final(50), output, 255.1349, 474.5586, 1, curve),
               Error);
  table.lines.clear();
  model.ClearCache();
  EXPECT_THROW(AnalyzeLines(model, Start(), Final(50), output, 255.1349, 474.5586, 50, curve),
               RangeError);
  // A line whose model fraction is 0 (Aki 0 beside a line with Aki) cannot form R.
  std::vector<LineSpec> lines = {{600, 2e7, 1, 2, 3, 3, 0}, {610, 0, 1, 2, 3, 3, 0}};
  LoadFixture(FixtureLevels(), lines);
  ImportLinesForAnalysis(table, lineBase.get(), 0, 1000, -1, 100);
  ASSERT_EQ(table.lines.size(), 2u);
  model.ClearCache();
  EXPECT_THROW(AnalyzeLines(model, Start(), Final(50), output, 1, 2, 50, curve), ZeroDivideError);
}

TEST_F(AnalysisTest, SimulationParameters) {
  struct Case {
    std::string text;
    bool ok;
  };
  const Case cases[] = {{"200, 950, 1e3, 100, 50", true},  {"200 950 1e3 100 50", true},
                        {"200,950,1e3,100,50,7", true},    {"200, 950, 1e3, 100", false},
                        {"200, 950, abc, 100, 50", false}, {"", false}};
  for (const Case& c : cases) {
    if (!c.ok) {
      EXPECT_THROW(ParseSimulationParameters(c.text), ConvertError) << c.text;
      continue;
    }
    const SimulationParameters p = ParseSimulationParameters(c.text);
    EXPECT_EQ(p.FromWL, 200);
    EXPECT_EQ(p.ToWL, 950);
    EXPECT_EQ(p.MinA, 1000);
    EXPECT_EQ(p.MaxE, 100);
    EXPECT_EQ(p.RangeFactor, 50);
  }
}

TEST_F(AnalysisTest, CommandStepsAndTheirVectors) {
  LineAnalysisRequest request;
  request.limits = ParseSimulationParameters("0 1000 0 100 50");
  request.start = AnalysisStart(16, 5000, 300, 0.1L, 39.948);
  int shown = 0;
  size_t linesShown = 0;
  auto show = [&] {
    ++shown;
    linesShown = table.lines.size();
  };

  LineAnalysisResult r = RunLineAnalysis(model, lineBase.get(), request, show);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(linesShown, 5u);  // the simulated lines were in place when shown
  EXPECT_EQ(table.lines.size(), 5u);
  EXPECT_EQ(r.Output.size(), 4u);
  EXPECT_EQ(r.Curve.size(), 2u);
  EXPECT_EQ(model.Cache().Size(), 0u);
  EXPECT_EQ(r.final.log10N1, 16 + std::log10(50.0L));
  // Only log10 n_1 is raised.
  EXPECT_EQ(r.final.second, r.start.second);
  EXPECT_EQ(r.final.gasTemperature, r.start.gasTemperature);
  EXPECT_EQ(r.final.path, r.start.path);
  EXPECT_EQ(r.final.mass, r.start.mass);
  EXPECT_EQ(r.final.levelCount, r.start.levelCount);
  EXPECT_EQ(r.final.distribution, r.start.distribution);
  // N/N0 of the curve starts at 1 and ends at the range factor.
  ASSERT_EQ(r.RelativeDensity.size(), r.Curve[0].size());
  EXPECT_DOUBLE_EQ(r.RelativeDensity.front(), 1);
  EXPECT_NEAR(r.RelativeDensity.back(), 50, 1e-9);

  // A range without lines stops with a message rather than an index fault.
  request.limits = ParseSimulationParameters("300, 400, 0, 100, 50");
  try {
    RunLineAnalysis(model, lineBase.get(), request, show);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "No lines for the analysis between the given limits.");
  }
  EXPECT_EQ(model.Cache().Size(), 0u);
}

TEST_F(AnalysisTest, LineTableCells) {
  ComputeBranchingFractions(table);
  const std::vector<LineTableRow> rows = LineTableRows(table.lines, true);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0], LineTableHeader());
  const LineTableRow& r = rows[1];
  EXPECT_EQ(r[0], "255.1349");
  EXPECT_EQ(r[1], "39.1949513767031");  // Aki / wavelength / 1000, 15 digits
  EXPECT_EQ(r[2], "0.1667");
  EXPECT_EQ(r[3], "0.1667");
  EXPECT_EQ(r[4], "0.0000");
  EXPECT_EQ(r[5], "13.000000000");
  EXPECT_EQ(r[6], " 3p5 4p -  2[1/2]_1");
  EXPECT_EQ(r[7], "11.500000000");
  EXPECT_EQ(r[8], "3p5 4s  - 2[3/2]* _2");
  EXPECT_EQ(LineTableRows(table.lines, false)[1][2], "");

  const std::string text = LineTableText({rows[0], rows[1]});
  EXPECT_EQ(text.substr(0, 21), "\tWavelength\tIntensity");
  EXPECT_EQ(text.find("\r\n"), text.find("\tLower state") + 12);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(AnalysisTest, StateTextsNeedFourPieces) {
  struct Case {
    std::string confs, terms;
    double ji, jk;
    std::string upper, lower;
  };
  const Case cases[] = {
      {"a - b", "c - d", 1.5, 0.5, " b -  d_1", "a  - c _2"},
      {"a-b", "c-d", 0, 2, "b - d_2", "a - c_0"},
      {"3s2.3p5(2P*-)4s - 4p", "c - d", 1, 1, "", ""},  // five pieces
      {"a", "c - d", 1, 1, "", ""},
  };
  for (const Case& c : cases) {
    TRecord rec;
    rec.Confs = c.confs;
    rec.Terms = c.terms;
    rec.Ji = c.ji;
    rec.Jk = c.jk;
    std::string upper = "x", lower = "x";
    StateTexts(rec, upper, lower);
    EXPECT_EQ(upper, c.upper) << c.confs;
    EXPECT_EQ(lower, c.lower) << c.confs;
  }
}

}  // namespace
}  // namespace lumora::test
