// Sessions share nothing: two of them, each with its own element data,
// measurement and model, give on two threads at once exactly what they give
// one after the other.
#include "model/session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/format.h"
#include "model/results_line.h"
#include "tests/support/argon_model.h"
#include "tests/support/testfiles.h"

namespace lumora::test {
namespace {

using testing::ArgonModel;

const std::string kData = std::string(LUMORA_SOURCE_DIR) + "/data/";

struct Outcome {
  std::vector<std::string> report;
  ModelParameters parameters;
  long double sum = 0;
  ResidualGrid grid;
  std::vector<double> fractions;  // every line's G_f afterwards
};

// A session that reads one sample and then fits it or maps it.
class SampleRun {
 public:
  SampleRun(std::string sample, bool map, const std::string& logFolder)
      : sample_(std::move(sample)), map_(map), session_(SessionOptions{logFolder, [](auto&) {}}) {}

  Outcome operator()() {
    session_.ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
    session_.ReadMeasurement(kData + "measurements/" + sample_);
    session_.Recalculate();
    Outcome outcome;
    if (map_) {
      MapRequest request;
      request.model = ArgonModel();
      request.densityPoints = 40;
      request.temperaturePoints = 30;
      request.log10FromDensity = 15;
      request.log10ToDensity = 18;
      request.fromTemperature = 500;
      request.toTemperature = 5000;
      request.dataFileName = sample_;
      MapResult map = session_.Map(request);
      outcome.report = map.report;
      outcome.parameters = map.atMinimum;
      outcome.sum = map.minimum;
      outcome.grid = map.grid;
    } else {
      FitRequest request;
      request.target.start = ArgonModel();
      request.target.fitSecond = true;
      request.report.kind = ReportKind::FitIteration;
      request.report.dataFileName = sample_;
      FitResult fit = session_.Fit(request);
      outcome.report = fit.report;
      outcome.parameters = fit.fitted;
      outcome.sum = fit.sum;
    }
    for (const TLineRecord& line : session_.Table().lines) outcome.fractions.push_back(line.G_f);
    return outcome;
  }

 private:
  std::string sample_;
  bool map_;
  Session session_;
};

void ExpectSame(const Outcome& a, const Outcome& b) {
  EXPECT_EQ(a.report, b.report);
  EXPECT_EQ(a.parameters.log10N1, b.parameters.log10N1);
  EXPECT_EQ(a.parameters.second, b.parameters.second);
  EXPECT_EQ(a.sum, b.sum);
  EXPECT_EQ(a.grid, b.grid);
  EXPECT_EQ(a.fractions, b.fractions);
}

TEST(Sessions, TwoOnTwoThreadsGiveTheirSerialResults) {
  testing::TempFolder logsA, logsB;
  const Outcome fitAlone = SampleRun("argon_n4e16_noise.txt", false, logsA.path())();
  const Outcome mapAlone = SampleRun("argon_n2e15.txt", true, logsB.path())();
  ASSERT_FALSE(fitAlone.report.empty());
  ASSERT_EQ(mapAlone.grid.size(), 30u);

  for (int round = 0; round < 3; ++round) {
    SampleRun fitRun("argon_n4e16_noise.txt", false, logsA.path());
    SampleRun mapRun("argon_n2e15.txt", true, logsB.path());
    Outcome fit, map;
    std::thread fitThread([&] { fit = fitRun(); });
    std::thread mapThread([&] { map = mapRun(); });
    fitThread.join();
    mapThread.join();
    ExpectSame(fit, fitAlone);
    ExpectSame(map, mapAlone);
  }
}

// Two sessions fitting at once in the user's log folder: each reads back
// its own whole log, which is gone when the fit is over, or, when kept,
// when the session ends.
TEST(Sessions, FitsAtOnceHaveTheirOwnLogs) {
  testing::TempFolder runtime;
  testing::EnvGuard env;
  env.Set("XDG_RUNTIME_DIR", runtime.path());
  const Outcome aloneA = SampleRun("argon_n4e16_noise.txt", false, "")();
  const Outcome aloneB = SampleRun("argon_n1.5e17_strong.txt", false, "")();
  ASSERT_NE(aloneA.report, aloneB.report);
  ASSERT_GT(aloneA.report.size(), 10u);
  EXPECT_TRUE(std::filesystem::is_empty(runtime.path()));

  for (int round = 0; round < 3; ++round) {
    SampleRun runA("argon_n4e16_noise.txt", false, "");
    SampleRun runB("argon_n1.5e17_strong.txt", false, "");
    Outcome a, b;
    std::thread threadA([&] { a = runA(); });
    std::thread threadB([&] { b = runB(); });
    threadA.join();
    threadB.join();
    EXPECT_EQ(a.report, aloneA.report);
    EXPECT_EQ(b.report, aloneB.report);
  }
  EXPECT_TRUE(std::filesystem::is_empty(runtime.path()));

  {
    Session session(SessionOptions{"", [](auto&) {}});
    session.ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
    session.ReadMeasurement(kData + "measurements/argon_n2e15.txt");
    session.Recalculate();
    FitRequest request;
    request.target.start = ArgonModel();
    request.log.keep = true;
    const std::string first = session.Fit(request).logPath;
    const std::string second = session.Fit(request).logPath;
    EXPECT_NE(first, second);
    EXPECT_FALSE(std::filesystem::exists(first));  // the next fit's log replaces it
    EXPECT_EQ(std::filesystem::path(second).parent_path(), runtime.path());
    testing::TempFolder target;
    session.SaveFitLog(target.File("copy.txt"));
    EXPECT_EQ(testing::ReadFile(target.File("copy.txt")), testing::ReadFile(second));
  }
  EXPECT_TRUE(std::filesystem::is_empty(runtime.path()));
}

TEST(Sessions, ResultsLinesCountPerSessionAndElement) {
  testing::TempFolder logs;
  Session a(SessionOptions{logs.path(), [](auto&) {}});
  Session b(SessionOptions{logs.path(), [](auto&) {}});
  for (Session* s : {&a, &b}) {
    s->ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
    s->ReadMeasurement(kData + "measurements/argon_n2e15.txt");
    s->Recalculate();
  }
  FitRequest request;
  request.target.start = ArgonModel();
  EXPECT_EQ(a.Fit(request).report.size(), 2u);  // header and line
  EXPECT_EQ(a.Fit(request).report.size(), 1u);
  EXPECT_EQ(b.Fit(request).report.size(), 2u);  // b has its own count
  a.ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
  EXPECT_EQ(a.ResultsLineCount(), 0);
}

// A line under other columns than the line before it comes with its own
// header: "1s levels" has no temperature column, fewer levels fewer columns.
TEST(Sessions, ResultsLinesUnderOtherColumnsGetTheirHeader) {
  testing::TempFolder logs;
  Session session(SessionOptions{logs.path(), [](auto&) {}});
  session.ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
  session.ReadMeasurement(kData + "measurements/argon_n2e15.txt");
  session.Recalculate();
  FitRequest boltzmann;
  boltzmann.target.start = ArgonModel();
  FitRequest firstLevels = boltzmann;
  firstLevels.target.start.distribution = Distribution::FirstLevels;
  firstLevels.target.start.second = 177;
  FitRequest twoLevels = boltzmann;
  twoLevels.target.start.levelCount = 2;
  struct Step {
    const FitRequest* request;
    const char* headerHas;  // none: no header
  };
  const Step steps[] = {{&boltzmann, "   T/K  u(T)"},
                        {&boltzmann, nullptr},
                        {&firstLevels, " 1s2/4 u(1s)"},
                        {&firstLevels, nullptr},
                        {&twoLevels, "   n_2/m-3   ±u(n_2)   T/K"},
                        {&boltzmann, "   n_4/m-3   ±u(n_4)   T/K"}};
  for (const Step& step : steps) {
    const std::vector<std::string> report = session.Fit(*step.request).report;
    ASSERT_EQ(report.size(), step.headerHas ? 2u : 1u) << (step.headerHas ? step.headerHas : "");
    if (step.headerHas) EXPECT_NE(report[0].find(step.headerHas), std::string::npos) << report[0];
  }
}

// Lines given as numbers take the same path as a measurement file's: the same
// table, the same fit. A wavelength the base lacks is refused whole.
TEST(Sessions, MeasuredLinesFromNumbersEqualTheFileImport) {
  testing::TempFolder logs;
  Session fromFile(SessionOptions{logs.path(), [](auto&) {}});
  Session fromNumbers(SessionOptions{logs.path(), [](auto&) {}});
  for (Session* s : {&fromFile, &fromNumbers})
    s->ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
  fromFile.ReadMeasurement(kData + "measurements/argon_n2e15.txt");
  std::vector<double> wavelengths, intensities;
  for (const TLineRecord& line : fromFile.Table().lines) {
    wavelengths.push_back(line.AR.WaveLength);
    intensities.push_back(line.Int);
  }
  fromNumbers.SetMeasuredLines(wavelengths, intensities);
  EXPECT_EQ(fromNumbers.TableRows(false), fromFile.TableRows(false));

  const std::vector<double> stray = {wavelengths[0], 801.479};
  try {
    fromNumbers.SetMeasuredLines(stray, {1, 2});
    ADD_FAILURE() << "a wavelength outside the base was taken";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(),
                 "Wavelength 801.479000 was not found. Import was stopped. Check used specie "
                 "or wavelength precision.");
  }
  EXPECT_EQ(fromNumbers.Table().lines.size(), wavelengths.size());
  EXPECT_THROW(fromNumbers.SetMeasuredLines({wavelengths[0]}, {}), RangeError);
}

// The figures are those the results line prints.
TEST(Sessions, ResultsFiguresAreTheResultsLineNumbers) {
  testing::TempFolder logs;
  Session session(SessionOptions{logs.path(), [](auto&) {}});
  session.ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
  session.ReadMeasurement(kData + "measurements/argon_n4e16_noise.txt");
  session.Recalculate();
  FitRequest request;
  request.target.start = ArgonModel();
  request.target.start.second = 1500;
  request.target.fitSecond = true;
  const FitResult fit = session.Fit(request);
  const ResultsFigures figures =
      ComputeResultsFigures(session.Table().levels, FitResultsInput(fit));
  ASSERT_EQ(figures.densities.size(), 4u);
  std::string printed = Format("%.3e %.3e ", figures.total, figures.totalUncertainty);
  for (size_t k = 0; k < 4; ++k)
    printed += Format(" %.3e %.3e", figures.densities[k], figures.uncertainties[k]);
  EXPECT_EQ(fit.report.at(1).rfind(printed, 0), 0u) << fit.report.at(1);
  EXPECT_GT(figures.uncertainties[1], 0);  // the temperature's share reaches n_2
  const std::string& line = fit.report.at(1);
  EXPECT_EQ(line.substr(line.size() - figures.procedure.size() - 2), "  " + figures.procedure);
}

}  // namespace
}  // namespace lumora::test
