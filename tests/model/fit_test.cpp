#include "model/fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/format.h"
#include "fit_fixture.h"
#include "lsq/levenberg_marquardt.h"

namespace lumora::fittest {
namespace {

const std::string kRuleEquals(84, '=');
const std::string kRuleDashes(84, '-');

// Multiplies every measured value by 1 +- 1 %, alternating, so that the fit
// has a nonzero sum and meaningful errors.
void Perturb(LineTable& table) {
  for (size_t k = 0; k < table.lines.size(); ++k) table.lines[k].G_m *= (k % 2 ? 1.01 : 0.99);
}

using FitDensityOnly = FitTest;
using FitRefuses = FitTest;
using FitLog = FitTest;
using FitResultsLine = FitTest;

struct RecoveryCase {
  const char* name;
  Distribution distribution;
  long double trueSecond;
  long double startLog10N1;
  long double startSecond;
  int n;
  int unweightedLine;  // -1: none
};

class FitRecovery : public ::testing::TestWithParam<RecoveryCase>, public FitWorld {};

TEST_P(FitRecovery, FindsTheParametersOfASyntheticMeasurement) {
  const RecoveryCase& c = GetParam();
  TempDir dir;
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(kTrueLog10N1, c.trueSecond, c.distribution));
  if (c.unweightedLine >= 0) table.lines[c.unweightedLine].G_m = 0;

  const ModelParameters start = BaseParameters(c.startLog10N1, c.startSecond, c.distribution);
  const FitResult fit = Fit(start, 50, c.n, "synthetic.txt", dir.File("lumora.txt"));

  EXPECT_NEAR(static_cast<double>(fit.fitted.log10N1), static_cast<double>(kTrueLog10N1), 1e-6);
  if (c.n == 2) {
    EXPECT_NEAR(static_cast<double>(fit.fitted.second / c.trueSecond), 1.0, 1e-5);
  } else {
    EXPECT_EQ(fit.fitted.second, start.second);
  }
  EXPECT_TRUE(fit.stopCode == StopCode::SumReached || fit.stopCode == StopCode::ParametersUnchanged)
      << static_cast<int>(fit.stopCode);
  EXPECT_LE(fit.sum, 1e-15L);
  EXPECT_EQ(fit.errors.size(), c.n);
  EXPECT_EQ(fit.covariance.rows(), c.n);
  // The fixed inputs come back as they went in.
  EXPECT_EQ(fit.fitted.gasTemperature, start.gasTemperature);
  EXPECT_EQ(fit.fitted.path, start.path);
  EXPECT_EQ(fit.fitted.mass, start.mass);
  EXPECT_EQ(fit.fitted.levelCount, start.levelCount);
  EXPECT_EQ(fit.fitted.distribution, start.distribution);

  // Every line, the unweighted one included, carries the fitted fraction.
  model.ClearCache();
  for (size_t k = 0; k < table.lines.size(); ++k)
    EXPECT_EQ(table.lines[k].G_f, static_cast<double>(model.Evaluate(fit.fitted, k))) << k;
  if (c.unweightedLine >= 0) {
    EXPECT_GT(table.lines[c.unweightedLine].G_f, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fits, FitRecovery,
    ::testing::Values(RecoveryCase{"BoltzmannTwoParameters", Distribution::Boltzmann,
                                   kTrueTemperature, 15.8L, 1200, 2, -1},
                      RecoveryCase{"BoltzmannDensityOnly", Distribution::Boltzmann,
                                   kTrueTemperature, 15.5L, kTrueTemperature, 1, -1},
                      RecoveryCase{"FirstLevels", Distribution::FirstLevels, 300, 16.0L, 200, 2,
                                   -1},
                      RecoveryCase{"LineWithoutWeight", Distribution::Boltzmann, kTrueTemperature,
                                   15.8L, 1200, 2, 4}),
    [](const auto& info) { return std::string(info.param.name); });

// The fractions and their slopes taken straight from the model's sweep, as a
// reference for the fit of log10 n_1 alone: the fit adds nothing to the
// minimiser's path.
class FullDerivativeFractions : public FittedModel {
 public:
  FullDerivativeFractions(EbfModel& model, const ModelParameters& fixed)
      : model_(model), fixed_(fixed) {}
  bool Value(const ParameterValues& p, int k, long double& value) override {
    value = model_.Sweep(At(p)).values[k];
    return true;
  }
  bool Gradient(const ParameterValues& p, int k, ParameterValues& g) override {
    g[0] = model_.Sweep(At(p)).byLog10N1[k];
    return true;
  }

 private:
  ModelParameters At(const ParameterValues& p) const {
    ModelParameters at = fixed_;
    at.log10N1 = p[0];
    return at;
  }
  EbfModel& model_;
  ModelParameters fixed_;
};

// A density-only fit follows exactly the path the minimiser takes with the
// model's own slopes.
TEST_F(FitDensityOnly, MatchesTheMinimiserWithTheModelsSlopes) {
  TempDir dir;
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
  Perturb(table);
  const ModelParameters start = BaseParameters(15.5L, 1300);
  const FitResult fit = Fit(start, 50, 1, "a.txt", dir.File("driver.txt"));

  FullDerivativeFractions reference(model, start);
  MinimizerProblem problem;
  problem.model = &reference;
  for (const TLineRecord& line : table.lines) {
    problem.observed.push_back(line.G_m);
    problem.weights.push_back(1);
  }
  ParameterValues par(1);
  par[0] = start.log10N1;
  model.ClearCache();
  IterationTrace trace;
  const MinimizerSummary summary = Minimize(MinimizerOptions{}, problem, par, &trace);
  {
    FileLog log(dir.File("reference.txt"));
    WriteLogOpening(log);
    WriteIterationTable(log, trace, FitParameterNames());
    WriteMinimizerReport(log, summary.stopCode, static_cast<int>(problem.observed.size()),
                         summary.sum, par, summary.covariance, FitParameterNames(),
                         summary.convergedBy);
    log.Close();
  }
  EXPECT_EQ(fit.fitted.log10N1, par[0]);
  EXPECT_EQ(fit.sum, summary.sum);
  EXPECT_EQ(fit.stopCode, summary.stopCode);
  ASSERT_EQ(fit.trace.size(), trace.size());
  for (size_t i = 0; i < trace.size(); ++i) EXPECT_EQ(fit.trace[i].sum, trace[i].sum) << i;
  EXPECT_EQ(ReadFile(dir.File("driver.txt")), ReadFile(dir.File("reference.txt")));
}

// Densities of the four absorbing levels after the model ran at b.
std::vector<long double> Densities(EbfModel& model, const ModelParameters& b) {
  const LineTable& table = model.Table();
  model.ClearCache();
  model.Evaluate(b, 0);
  model.ClearCache();
  std::vector<long double> n;
  for (int k = 0; k < 4; ++k) n.push_back(table.levels[k].Density);
  return n;
}

double Number(const std::string& text) { return std::stod(text); }

TEST_F(FitResultsLine, ShowsDensitiesTemperatureAndTheirUncertainties) {
  TempDir dir;
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
  Perturb(table);
  std::vector<std::string> report{"earlier text"};
  const FitResult fit = Fit(BaseParameters(15.8L, 1200), 50, 2, "synthetic.txt",
                            dir.File("lumora.txt"), &report, ReportKind::FinalResults);
  const ModelParameters& b = fit.fitted;
  const long double errN1 = fit.Log10N1Error(), errT = fit.SecondError();
  ASSERT_GT(errN1, 0);
  ASSERT_GT(errT, 0);

  ASSERT_EQ(report.size(), 3u);
  EXPECT_EQ(report[0], "earlier text");
  EXPECT_EQ(report[1],
            "n_tot/m-3 ±u(n_tot)    n_1/m-3   ±u(n_1)   n_2/m-3   ±u(n_2)   n_3/m-3   ±u(n_3)"
            "   n_4/m-3   ±u(n_4)   T/K  u(T)       RSS Filename  Procedure");
  const std::vector<std::string> words = SplitBlanks(report[2]);
  ASSERT_GE(words.size(), 15u) << report[2];

  // The densities at the fitted parameters, and their change with the
  // temperature by a central difference (independent of the slopes the
  // program takes); each density, and their total, carries the covariance
  // of log10 n_1 and T the errors and the fit's correlation state.
  const std::vector<long double> n = Densities(model, b);
  const long double h = 1e-3L * b.second;
  ModelParameters up = b, down = b;
  up.second += h;
  down.second -= h;
  const std::vector<long double> nUp = Densities(model, up), nDown = Densities(model, down);
  const long double correlation =
      fit.covariance(0, 1) / std::sqrt(fit.covariance(0, 0) * fit.covariance(1, 1));
  const auto propagated = [&](long double byLog10N1, long double byT) {
    return std::sqrt(std::pow(byLog10N1 * errN1, 2) + std::pow(byT * errT, 2) +
                     2 * correlation * byLog10N1 * errN1 * byT * errT);
  };
  long double nTot = 0, totalByLog10N1 = 0, totalByT = 0;
  for (int k = 0; k < 4; ++k) {
    const long double byLog10N1 = std::log(10.0L) * n[k];
    const long double byT = (nUp[k] - nDown[k]) / (2 * h);
    EXPECT_EQ(words[2 + 2 * k], Format("%.3e", n[k])) << k;
    EXPECT_NEAR(Number(words[3 + 2 * k]) / static_cast<double>(propagated(byLog10N1, byT)), 1.0,
                6e-3)
        << k;
    nTot += n[k];
    totalByLog10N1 += byLog10N1;
    totalByT += byT;
  }
  EXPECT_EQ(words[0], Format("%.3e", nTot));
  EXPECT_NEAR(Number(words[1]) / static_cast<double>(propagated(totalByLog10N1, totalByT)), 1.0,
              6e-3);
  EXPECT_EQ(words[10], Format("%.0f", b.second));
  EXPECT_EQ(words[11], Format("%.0f", errT));
  EXPECT_EQ(words[12], Format("%.5e", fit.sum));
  EXPECT_EQ(words[13], "synthetic.txt");
  const std::string procedure = "  fit:" + StopCodeResultText(fit.stopCode);
  EXPECT_EQ(report[2].substr(report[2].size() - procedure.size()), procedure);
}

// Each level is n_1 times a factor the fit does not change: every density,
// and their total, has n_1's relative uncertainty.
TEST_F(FitResultsLine, DensityOnlyFitGivesEveryLevelTheRelativeUncertaintyOfN1) {
  TempDir dir;
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
  Perturb(table);
  resultsLineCount = 1;  // header already written for this element
  std::vector<std::string> report;
  const FitResult fit = Fit(BaseParameters(15.8L, kTrueTemperature), 50, 1, "a.txt",
                            dir.File("lumora.txt"), &report, ReportKind::FinalResults);
  ASSERT_EQ(report.size(), 1u);
  const std::vector<std::string> words = SplitBlanks(report[0]);
  ASSERT_GE(words.size(), 15u);
  EXPECT_NE(words[3], "0.00E+000");
  const double relative = Number(words[3]) / Number(words[2]);
  for (int k = 1; k < 4; ++k)
    EXPECT_NEAR(Number(words[3 + 2 * k]) / Number(words[2 + 2 * k]) / relative, 1.0, 1e-2) << k;
  EXPECT_NEAR(Number(words[1]) / Number(words[0]) / relative, 1.0, 1e-2);
  EXPECT_EQ(words[10], "1500");
  EXPECT_EQ(words[11], "0");
  EXPECT_EQ(fit.SecondError(), 0);
}

TEST_F(FitLog, FollowsItsLayoutLineByLine) {
  TempDir dir;
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
  Perturb(table);
  const std::string logPath = dir.File("lumora.txt");
  {
    std::ofstream old(logPath);  // the log of an earlier fit, longer than this one
    for (int i = 0; i < 200; ++i) old << "old line " << i << "\r\n";
  }
  std::vector<std::string> report{"kept"};
  const FitResult fit = Fit(BaseParameters(15.8L, 1200), 50, 2, "synthetic.txt", logPath, &report,
                            ReportKind::FitIteration);
  const std::string text = ReadFile(logPath);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  const std::vector<std::string> lines = SplitCrLf(text);

  size_t i = 0;
  ASSERT_GT(lines.size(), 16u);
  EXPECT_EQ(lines[i++], kRuleEquals);
  EXPECT_EQ(lines[i++], "iter  log10(n_1)          Te             sumr");
  EXPECT_EQ(lines[i++], kRuleDashes);
  EXPECT_EQ(lines[i].substr(0, 29), "  0  1.580E+0001  1.200E+0003");
  const std::regex row(R"([ 0-9]{3}( [ -]\d\.\d{3}E[+-]\d{4}){2} [ -]\d\.\d{6}E[+-]\d{4})");
  int iteration = 0;
  for (; i < lines.size() && !lines[i].empty(); ++i, ++iteration) {
    EXPECT_TRUE(std::regex_match(lines[i], row)) << lines[i];
    EXPECT_EQ(lines[i].substr(0, 3), Format("%3d", iteration));
  }
  EXPECT_GE(iteration, 2);
  const int code = static_cast<int>(fit.stopCode);
  EXPECT_EQ(lines[i++], "");
  EXPECT_EQ(lines[i++], "Minimization report : " + StopCodeReportText(static_cast<StopCode>(code)) +
                           ConvergenceTestText(fit.convergedBy));
  EXPECT_EQ(lines[i++], "");
  EXPECT_EQ(lines[i++], "Results :");
  EXPECT_EQ(lines[i++], "Parameter            Value               Error");
  EXPECT_EQ(lines[i++],
            Format("  %-10s %15.4e %15.4e", "log10(n_1)", fit.fitted.log10N1, fit.Log10N1Error()));
  EXPECT_EQ(lines[i++],
            Format("  %-10s %15.4e %15.4e", "Te", fit.fitted.second, fit.SecondError()));
  EXPECT_EQ(lines[i++], "");
  EXPECT_EQ(lines[i++], "Correlation coefficients :");
  EXPECT_EQ(lines[i++], "        1     2");
  EXPECT_EQ(lines[i++], " 1   1.00");
  EXPECT_TRUE(std::regex_match(lines[i++], std::regex(R"( 2  [ -][ 01]\.\d\d  1\.00)")))
      << lines[i - 1];
  EXPECT_EQ(lines[i++], "");
  EXPECT_EQ(i, lines.size());

  // Report kind "fit iteration" appends the log itself.
  ASSERT_EQ(report.size(), 1 + lines.size());
  EXPECT_EQ(report[0], "kept");
  EXPECT_TRUE(std::equal(lines.begin(), lines.end(), report.begin() + 1));
}

// Two lines of one upper level give one independent fraction: fitted by one
// parameter they leave no degree of freedom, and the fit would match them
// whatever they are, with an error of 0. It is refused before its log is
// touched, weighted or not, and so is a second parameter on three lines.
TEST_F(FitRefuses, FitsWithoutADegreeOfFreedom) {
  struct Case {
    std::vector<LineSpec> lines;
    int parameters;
    bool weighted;
    std::string counts;
  };
  const std::vector<Case> cases = {
      {{{800.0, 3e7, 4, 0}, {810.0, 2e7, 4, 1}}, 1, false, "give 1 independent"},
      {{{800.0, 3e7, 4, 0}, {810.0, 2e7, 4, 1}}, 1, true, "give 1 independent"},
      {{{800.0, 3e7, 4, 0}, {810.0, 2e7, 4, 1}, {820.0, 1e7, 4, 2}}, 2, false,
       "give 2 independent"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    LoadSmallElement(c.lines);
    MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
    Perturb(table);
    const std::string logPath = dir.File("lumora.txt");
    {
      std::ofstream old(logPath);
      old << "kept\r\n";
    }
    try {
      FitRequest request;
      request.target.start = BaseParameters(15.8L, 1200);
      request.target.fitSecond = c.parameters == 2;
      if (c.weighted) request.uncertainty = {UncertaintySource::Relative, 0.02};
      request.log.path = logPath;
      RunFit(model, request, resultsLineCount);
      ADD_FAILURE() << c.counts << ": fitted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.counts), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("no degree of freedom"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadFile(logPath), "kept\r\n");
  }
}

TEST_F(FitRefuses, TooManyOrNoLinesBeforeTheLogIsTouched) {
  for (size_t count : {size_t{101}, size_t{0}}) {
    TempDir dir;
    std::vector<LineSpec> lines;
    for (size_t k = 0; k < count; ++k) lines.push_back(EightLines()[k % 8]);
    LoadSmallElement(lines);
    std::vector<std::string> report;
    try {
      Fit(BaseParameters(16, 1500), 50, 2, "many.txt", dir.File("lumora.txt"), &report);
      ADD_FAILURE() << count << " lines were accepted";
    } catch (const Error& e) {
      if (count > 0) {
        EXPECT_NE(std::string(e.what()).find("101"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("100"), std::string::npos) << e.what();
      }
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("lumora.txt")));
    EXPECT_TRUE(report.empty());
  }
}

TEST_F(FitRefuses, ALogThatCannotBeCreatedNamingIt) {
  TempDir dir;
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
  const std::string logPath = dir.File("missing-folder/lumora.txt");
  std::vector<std::string> report;
  try {
    Fit(BaseParameters(15.8L, 1200), 50, 2, "a.txt", logPath, &report);
    ADD_FAILURE() << "no error";
  } catch (const InOutError& e) {
    EXPECT_NE(std::string(e.what()).find(logPath), std::string::npos) << e.what();
  }
  EXPECT_TRUE(report.empty());
}

TEST_F(FitRefuses, AModelErrorAsARunThatNeverStarted) {
  TempDir dir;
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
  const std::string logPath = dir.File("lumora.txt");
  std::vector<std::string> report;
  try {
    Fit(BaseParameters(15.8L, 1200, static_cast<Distribution>(7)), 50, 2, "a.txt", logPath,
        &report);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "no minimization was started");
  }
  EXPECT_TRUE(report.empty());
  const std::vector<std::string> lines = SplitCrLf(ReadFile(logPath));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), kRuleEquals);
  EXPECT_EQ(lines.back(), "Minimization report : no minimization was started");
}

// The hook before each iteration sees them counted from 1, and an exception
// it raises ends the fit with that exception and the log closed.
TEST_F(FitTest, HookBeforeEachIterationCanStopTheFit) {
  struct Stop {};
  TempDir dir;
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(kTrueLog10N1, kTrueTemperature));
  FitRequest request;
  request.target.start = BaseParameters(15.8L, 1200);
  request.target.fitSecond = true;
  request.log.path = dir.File("lumora.txt");
  std::vector<int> seen;
  request.beforeIteration = [&](int iteration) {
    seen.push_back(iteration);
    if (iteration == 2) throw Stop{};
  };
  EXPECT_THROW(RunFit(model, request, resultsLineCount), Stop);
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
  const std::vector<std::string> lines = SplitCrLf(ReadFile(request.log.path));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Minimization report : no minimization was started");

  seen.clear();
  request.beforeIteration = [&](int iteration) { seen.push_back(iteration); };
  const FitResult fit = RunFit(model, request, resultsLineCount);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), fit.iterations);
}

// Lines that cannot tell a fitted parameter end in an error naming it, before
// the log is touched, rather than in a results line at the start value.
struct UndeterminedCase {
  const char* name;
  std::vector<LineSpec> lines;
  int n;
  int32_t count;
  const char* error;
};

class FitUndetermined : public ::testing::TestWithParam<UndeterminedCase>, public FitWorld {};

TEST_P(FitUndetermined, ErrorNamesTheParameterAndWhy) {
  const UndeterminedCase& c = GetParam();
  TempDir dir;
  LoadSmallElement(c.lines);
  ModelParameters truth = BaseParameters(kTrueLog10N1, kTrueTemperature);
  truth.levelCount = c.count;
  MeasureFromModel(truth);
  ModelParameters start = BaseParameters(15.8L, 1200);
  start.levelCount = c.count;
  std::vector<std::string> report;
  try {
    Fit(start, 50, c.n, "a.txt", dir.File("lumora.txt"), &report);
    ADD_FAILURE() << "a results line for lines that cannot tell the parameter";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), c.error);
  }
  EXPECT_TRUE(report.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.File("lumora.txt")));
}

constexpr const char* kNoN1 =
    "n_1 is not determined by these lines: no upper level has two lines that react to it";
INSTANTIATE_TEST_SUITE_P(
    Lines, FitUndetermined,
    ::testing::Values(
        // Two lines of two upper levels: each level's only line has fraction 1.
        UndeterminedCase{
            "TwoLevelsOneLineEach", {{800.0, 3e7, 4, 0}, {760.0, 2.5e7, 5, 0}}, 1, 4, kNoN1},
        UndeterminedCase{"EveryLevelOneLine",
                         {{800.0, 3e7, 4, 0}, {760.0, 2.5e7, 5, 1}, {700.0, 4e7, 6, 3}},
                         2,
                         4,
                         kNoN1},
        // One populated level: T_exc moves no population.
        UndeterminedCase{"TemperatureWithOneAbsorbingLevel", EightLines(), 2, 1,
                         "T_exc is not determined by these lines: no upper level has two lines "
                         "that react to it"}),
    [](const auto& info) { return std::string(info.param.name); });

// Fractions of optically thin lines with a little noise: the fit runs down
// towards no absorption and must not report a density.
TEST_F(FitTest, ThinLinesWithNoiseGiveNoDensity) {
  TempDir dir;
  LoadSmallElement(EightLines());
  MeasureFromModel(BaseParameters(0, kTrueTemperature));
  Perturb(table);
  try {
    Fit(BaseParameters(15.8L, kTrueTemperature), 200, 1, "thin.txt", dir.File("lumora.txt"));
    ADD_FAILURE() << "a density from thin lines";
  } catch (const Error& e) {
    const std::string what = e.what();
    EXPECT_TRUE(what.find("n_1 is not determined by these lines") != std::string::npos ||
                what.find("below the model's lower edge") != std::string::npos)
        << what;
  }
}

}  // namespace
}  // namespace lumora::fittest
