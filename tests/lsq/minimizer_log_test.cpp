#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <latch>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "fit_harness.h"
#include "lsq/iteration_log.h"
#include "lsq/levenberg_marquardt.h"

namespace lumora {
namespace {

using testing::CrLfLines;
using testing::DecayDerivatives;
using testing::DecayModel;
using testing::Fit;
using testing::LineDerivatives;
using testing::LineModel;
using testing::ReadFile;
using testing::TempFolder;

const std::string kRule(84, '=');
const std::string kTableRule(84, '-');

// The names the fit program gives the first two parameters.
const ParameterNames kNames = {"log10(n_1)", "Te"};

// y = 1.1, 2.9, 5.2, 6.8 at x = 0..3: least squares gives 1.09 + 1.94 x,
// sum 0.082, covariance [[0.7, -0.3], [-0.3, 0.2]].
Fit FourPointLine() {
  Fit fit;
  const long double ys[] = {1.1L, 2.9L, 5.2L, 6.8L};
  for (int k = 0; k < 4; ++k) fit.Point(k, ys[k]);
  fit.n = 2;
  fit.par[1] = 1;
  return fit;
}

std::string ReportError(IterationLog& log, const Fit& fit, const ParameterNames& names = kNames) {
  try {
    WriteMinimizerReport(log, fit.result.stopCode, fit.m, fit.result.sum, fit.Fitted(),
                         fit.result.covariance, names);
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

TEST(MinimizerLog, FullRunLineByLine) {
  TempFolder tmp;
  const std::string path = tmp.File("lumora.txt");
  Fit fit = FourPointLine();
  fit.options.iterationLimit = 2;
  FileLog log(path);
  WriteLogOpening(log);
  fit.Run(LineModel, LineDerivatives, &log, kNames);
  EXPECT_EQ(ReportError(log, fit), "");
  EXPECT_NO_THROW(log.Close());

  const std::string text = ReadFile(path);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  const std::vector<std::string> expected = {
      kRule,
      "iter  log10(n_1)          Te             sumr",
      kTableRule,
      "  0  0.000E+0000  1.000E+0000  2.950000E+0001",
      "  1  1.090E+0000  1.940E+0000  8.200000E-0002",
      "  2  1.090E+0000  1.940E+0000  8.200000E-0002",
      "",
      "Minimization report : given number of iteration was achieved",
      "",
      "Results :",
      "Parameter            Value               Error",
      "  log10(n_1)      1.090E+000      1.694E-001",
      "  Te              1.940E+000      9.055E-002",
      "",
      "Correlation coefficients :",
      "        1     2",
      " 1   1.00",
      " 2  -0.80  1.00",
      "",
  };
  EXPECT_EQ(CrLfLines(text), expected);
}

// A log kept in memory holds the text the file would.
TEST(MinimizerLog, TextLogHoldsTheFilesText) {
  TempFolder tmp;
  const std::string path = tmp.File("lumora.txt");
  FileLog file(path);
  TextLog text;
  for (IterationLog* log : {static_cast<IterationLog*>(&file), static_cast<IterationLog*>(&text)}) {
    Fit fit = FourPointLine();
    fit.options.iterationLimit = 2;
    WriteLogOpening(*log);
    WriteIterationTable(*log, {}, kNames);  // an empty trace writes no table
    fit.Run(LineModel, LineDerivatives, log, kNames);
    EXPECT_EQ(ReportError(*log, fit), "");
  }
  file.Close();
  EXPECT_EQ(text.Text(), ReadFile(path));
}

TEST(MinimizerLog, ThrowingCallbackLeavesLogComplete) {
  TempFolder tmp;
  const std::string path = tmp.File("lumora.txt");
  Fit fit = FourPointLine();
  int calls = 0;
  auto model = [&](const ParameterValues& p, long double x, long double& value) {
    if (++calls == 6) throw std::runtime_error("model failed");
    return LineModel(p, x, value);
  };
  FileLog log(path);
  WriteLogOpening(log);
  EXPECT_THROW(fit.Run(model, LineDerivatives, &log, kNames), std::runtime_error);
  EXPECT_EQ(ReportError(log, fit), "no minimization was started");
  EXPECT_NO_THROW(log.Close());

  const std::vector<std::string> expected = {
      kRule,      "iter  log10(n_1)          Te             sumr",
      kTableRule, "  0  0.000E+0000  1.000E+0000  2.950000E+0001",
      "",         "Minimization report : no minimization was started",
  };
  const std::string text = ReadFile(path);
  EXPECT_EQ(CrLfLines(text), expected);
  EXPECT_NE(text.substr(text.size() - 2), "\r\n") << "the file ends right after the reason";
}

struct FailedRun {
  StopCode code;
  std::string message;
};

class FailedRunReports : public ::testing::TestWithParam<FailedRun> {};

TEST_P(FailedRunReports, ReportRaisesTheReason) {
  TempFolder tmp;
  const std::string path = tmp.File("lumora.txt");
  Fit fit = FourPointLine();
  fit.result.stopCode = GetParam().code;
  FileLog log(path);
  WriteLogOpening(log);
  EXPECT_EQ(ReportError(log, fit), GetParam().message);
  EXPECT_NO_THROW(log.Close());
  const std::vector<std::string> expected = {kRule, "",
                                             "Minimization report : " + GetParam().message};
  EXPECT_EQ(CrLfLines(ReadFile(path)), expected);
}

INSTANTIATE_TEST_SUITE_P(Codes, FailedRunReports,
                         ::testing::Values(FailedRun{StopCode::NotStarted,
                                                     "no minimization was started"},
                                           FailedRun{StopCode::FalseResidual, "residuum is false"},
                                           FailedRun{StopCode::FalseHessian, "hessian is false"}));

TEST(MinimizerLog, RefusedRunWritesNoTable) {
  TempFolder tmp;
  const std::string path = tmp.File("lumora.txt");
  Fit fit = FourPointLine();
  fit.n = 0;
  FileLog log(path);
  WriteLogOpening(log);
  EXPECT_THROW(fit.Run(LineModel, LineDerivatives, &log, kNames), Error);
  EXPECT_EQ(ReportError(log, fit), "no minimization was started");
  log.Close();
  const std::vector<std::string> expected = {kRule, "",
                                             "Minimization report : no minimization was started"};
  EXPECT_EQ(CrLfLines(ReadFile(path)), expected);
}

// Reports of crafted results, for the cases where errors or correlations
// have no value. The third parameter has no name and prints as "b3".
struct ReportCase {
  std::string name;
  int m, n;
  std::vector<long double> cov;   // row by row, n x n
  std::vector<std::string> tail;  // the lines from "Results :" on
};

class ReportLayout : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ReportLayout, ResultsAndCorrelations) {
  const ReportCase& c = GetParam();
  TempFolder tmp;
  const std::string path = tmp.File("lumora.txt");
  ParameterValues par(c.n);
  for (int i = 0; i < c.n; ++i) par[i] = 1000 * (i + 1);
  ParameterMatrix cov(c.n, c.n);
  for (int i = 0; i < c.n; ++i)
    for (int j = 0; j < c.n; ++j) cov(i, j) = c.cov.at(static_cast<size_t>(i * c.n + j));

  FileLog log(path);  // no opening rule
  WriteMinimizerReport(log, StopCode::ParametersUnchanged, c.m, 8, par, cov, kNames);
  log.Close();

  std::vector<std::string> expected = {"", "Minimization report : parameters are not changing", ""};
  expected.insert(expected.end(), c.tail.begin(), c.tail.end());
  EXPECT_EQ(CrLfLines(ReadFile(path)), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReportLayout,
    ::testing::Values(ReportCase{"TwoPointsHaveNoErrorsOrCorrelations",
                                 2,
                                 2,
                                 {4, 1, 1, 9},
                                 {"Results :", "Parameter            Value               Error",
                                  "  log10(n_1)      1.000E+003      0.000E+000",
                                  "  Te              2.000E+003      0.000E+000", "", ""}},
                      // S / (M - N) = 8 / 2 = 4: errors 2 sqrt(Cov(i,i)).
                      ReportCase{"ThreeParametersWithAZeroVariance",
                                 5,
                                 3,
                                 {4, 1, 0, 1, 9, 0, 0, 0, 0},
                                 {"Results :", "Parameter            Value               Error",
                                  "  log10(n_1)      1.000E+003      4.000E+000",
                                  "  Te              2.000E+003      6.000E+000",
                                  "  b3              3.000E+003      0.000E+000", "",
                                  "Correlation coefficients :", "        1     2     3",
                                  " 1   1.00", " 2   0.17  1.00", " 3    n/a   n/a   n/a", ""}},
                      ReportCase{"NoDegreesOfFreedom",
                                 3,
                                 3,
                                 {1, 0, 0, 0, 1, 0, 0, 0, 1},
                                 {"Results :", "Parameter            Value               Error",
                                  "  log10(n_1)      1.000E+003       undefined",
                                  "  Te              2.000E+003       undefined",
                                  "  b3              3.000E+003       undefined", "",
                                  "Correlation coefficients :", "        1     2     3",
                                  " 1   1.00", " 2   0.00  1.00", " 3   0.00  0.00  1.00", ""}}),
    [](const auto& info) { return info.param.name; });

TEST(MinimizerLog, StopCodeTexts) {
  struct Row {
    int code;
    const char* report;
    const char* result;
  };
  const Row rows[] = {
      {-1, "no minimization was started", "not started"},
      {0, "given sum of squeres was achieved", "sum reached"},
      {1, "given maximum lambda was achieved", "lambda reached"},
      {2, "given number of iteration was achieved", "itercount reached"},
      {3, "residuum is false", "false residuum"},
      {4, "hessian is false", "false hessian"},
      {5, "parameters are not changing", "OK"},
      {7, "return code :  7", ""},
      {-12, "return code :-12", ""},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(StopCodeReportText(static_cast<StopCode>(r.code)), r.report) << r.code;
    EXPECT_EQ(StopCodeResultText(static_cast<StopCode>(r.code)), r.result) << r.code;
  }
}

// The table header and the results print the names the caller passes, and
// "b<i>" for a parameter beyond them.
struct NamesCase {
  std::string name;
  ParameterNames names;
  std::string header;
  std::vector<std::string> resultNames;  // the first 13 characters of each results line
};

class PrintedNames : public ::testing::TestWithParam<NamesCase> {};

TEST_P(PrintedNames, HeaderAndResults) {
  const NamesCase& c = GetParam();
  TempFolder tmp;
  const std::string path = tmp.File("lumora.txt");
  Fit fit = FourPointLine();
  fit.n = 3;
  fit.options.iterationLimit = 1;
  FileLog log(path);
  fit.Run(LineModel, LineDerivatives, &log, c.names);
  EXPECT_EQ(ReportError(log, fit, c.names), "");
  log.Close();

  const std::vector<std::string> lines = CrLfLines(ReadFile(path));
  ASSERT_GE(lines.size(), 12u);
  EXPECT_EQ(lines[0], c.header);
  const size_t results = std::find(lines.begin(), lines.end(), "Results :") - lines.begin();
  ASSERT_LE(results + 2 + c.resultNames.size(), lines.size());
  for (size_t i = 0; i < c.resultNames.size(); ++i)
    EXPECT_EQ(lines[results + 2 + i].substr(0, 13), c.resultNames[i]) << "parameter " << i + 1;
}

INSTANTIATE_TEST_SUITE_P(
    Names, PrintedNames,
    ::testing::Values(NamesCase{"NoneGiven",
                                {},
                                "iter          b1          b2          b3             sumr",
                                {"  b1         ", "  b2         ", "  b3         "}},
                      NamesCase{"TwoOfThree",
                                {"offset", "gain"},
                                "iter      offset        gain          b3             sumr",
                                {"  offset     ", "  gain       ", "  b3         "}},
                      // Longer names widen their fields instead of being cut.
                      NamesCase{"LongerThanTheFields",
                                {"intercept", "gradient_of_b2", "c"},
                                "iter   interceptgradient_of_b2           c             sumr",
                                {"  intercept  ", "  gradient_of", "  c          "}}),
    [](const auto& info) { return info.param.name; });

TEST(MinimizerLog, OpenAndWriteFailures) {
  TempFolder tmp;
  EXPECT_THROW({ FileLog missing(tmp.File("missing/lumora.txt")); }, InOutError);

  // Without a log a run prints nothing and still runs.
  Fit fit = FourPointLine();
  fit.Run(LineModel, LineDerivatives, nullptr, kNames);
  EXPECT_GT(fit.funcCalls, 0);
  EXPECT_EQ(fit.result.stopCode, StopCode::ParametersUnchanged);

  // A closed log takes no report.
  FileLog log(tmp.File("lumora.txt"));
  log.Close();
  EXPECT_THROW(WriteMinimizerReport(log, StopCode::ParametersUnchanged, fit.m, 0, fit.Fitted(),
                                    fit.result.covariance, kNames),
               InOutError);
  // Nor a covariance of another order than the parameters'.
  TextLog text;
  EXPECT_THROW(WriteMinimizerReport(text, StopCode::ParametersUnchanged, fit.m, 0, fit.Fitted(),
                                    ParameterMatrix::Identity(3, 3), kNames),
               Error);
}

// A log is never written through a link: a named log refuses one in its
// place, and a log of its own gets a new name no other run has.
TEST(MinimizerLog, LogsNeverFollowALink) {
  TempFolder tmp;
  const std::string victim = tmp.File("victim.txt");
  testing::WriteFile(victim, "precious");
  std::filesystem::create_symlink(victim, tmp.File("lumora.txt"));
  EXPECT_THROW({ FileLog planted(tmp.File("lumora.txt")); }, InOutError);
  EXPECT_EQ(ReadFile(victim), "precious");

  const std::unique_ptr<FileLog> first = FileLog::CreateUnique(tmp.path());
  const std::unique_ptr<FileLog> second = FileLog::CreateUnique(tmp.path());
  EXPECT_NE(first->Path(), second->Path());
  for (const FileLog* log : {first.get(), second.get()}) {
    EXPECT_EQ(std::filesystem::path(log->Path()).parent_path(), tmp.path());
    EXPECT_EQ(std::filesystem::status(log->Path()).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  first->Line("first");
  second->Line("second");
  first->Close();
  second->Close();
  EXPECT_EQ(ReadFile(first->Path()), "first\r\n");
  EXPECT_EQ(ReadFile(second->Path()), "second\r\n");
  EXPECT_THROW(FileLog::CreateUnique(tmp.File("missing")), InOutError);
}

// The private folder: created for its owner alone; a link, a file, a folder
// of another user or one that others can write is refused.
TEST(MinimizerLog, PrivateFolderIsRefusedUnlessOnlyItsOwnerWrites) {
  namespace fs = std::filesystem;
  TempFolder tmp;
  fs::create_directories(tmp.File("open"));
  fs::permissions(tmp.File("open"), fs::perms::all);
  fs::create_directories(tmp.File("mine"));
  fs::permissions(tmp.File("mine"), fs::perms::owner_all);
  fs::create_directory_symlink(tmp.File("mine"), tmp.File("link"));
  testing::WriteFile(tmp.File("file"), "");
  struct Case {
    const char* folder;
    uid_t owner;
    const char* refusal;  // empty: accepted
  };
  const uid_t me = ::getuid();
  const Case cases[] = {
      {"new", me, ""},
      {"mine", me, ""},
      {"mine", me + 1, "belongs to another user"},
      {"open", me, "can be written by other users"},
      {"link", me, "is a link"},
      {"file", me, "is no folder"},
  };
  for (const Case& c : cases) {
    const std::string folder = tmp.File(c.folder);
    try {
      EnsurePrivateFolder(folder, c.owner);
      EXPECT_STREQ(c.refusal, "") << c.folder << " accepted";
      EXPECT_EQ(fs::symlink_status(folder).permissions(), fs::perms::owner_all) << c.folder;
    } catch (const InOutError& e) {
      EXPECT_EQ(e.what(), "The log folder \"" + folder + "\" " + c.refusal + "; it is not used.")
          << c.folder;
    }
  }
}

// XDG_RUNTIME_DIR when set, else lumora-<uid> in the temporary folder.
TEST(MinimizerLog, PrivateLogFolderFromTheEnvironment) {
  TempFolder runtime, temporary;
  testing::EnvGuard env;
  env.Set("XDG_RUNTIME_DIR", runtime.path());
  EXPECT_EQ(PrivateLogFolder(), runtime.path());
  env.Unset("XDG_RUNTIME_DIR");
  env.Set("TMPDIR", temporary.path() + "/");
  EXPECT_EQ(PrivateLogFolder(), temporary.File("lumora-" + std::to_string(::getuid())));
}

// A device that takes no data: a write the buffer cannot hold fails at once,
// a small one when the log is closed.
TEST(MinimizerLog, FullDeviceFailsNamingTheFile) {
  const std::string message = "Cannot write file \"/dev/full\": No space left on device";
  FileLog large("/dev/full");
  try {
    large.Write(std::string(1 << 20, 'x'));
    ADD_FAILURE() << "a large write succeeded";
  } catch (const InOutError& e) {
    EXPECT_EQ(std::string(e.what()), message);
  }

  FileLog small("/dev/full");
  small.Line("iter");
  try {
    small.Close();
    ADD_FAILURE() << "closing succeeded";
  } catch (const InOutError& e) {
    EXPECT_EQ(std::string(e.what()), message);
  }
  EXPECT_THROW(small.Line(), InOutError) << "the log stays closed after a failed close";
}

TEST(MinimizerLog, ReopeningTruncates) {
  TempFolder tmp;
  const std::string path = tmp.File("lumora.txt");
  for (int run = 0; run < 2; ++run) {
    Fit fit = FourPointLine();
    fit.options.iterationLimit = 1;
    FileLog log(path);
    WriteLogOpening(log);
    fit.Run(LineModel, LineDerivatives, &log, kNames);
    WriteMinimizerReport(log, fit.result.stopCode, fit.m, fit.result.sum, fit.Fitted(),
                         fit.result.covariance, kNames);
  }
  const std::vector<std::string> lines = CrLfLines(ReadFile(path));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kRule), 1);
}

// Decay fits from a distant start, each with its opening, table and report,
// written one after the other into the log.
void WriteDecayFits(FileLog& log, int fits) {
  for (int run = 0; run < fits; ++run) {
    Fit fit;
    for (int k = 0; k < 10; ++k) fit.Point(k, 3 * std::exp(-0.5L * k));
    fit.n = 2;
    fit.par[0] = 1;
    fit.par[1] = 0.1L;
    WriteLogOpening(log);
    fit.Run(DecayModel, DecayDerivatives, &log, kNames);
    WriteMinimizerReport(log, fit.result.stopCode, fit.m, fit.result.sum, fit.Fitted(),
                         fit.result.covariance, kNames);
  }
  log.Close();
}

// Runs share nothing: two threads writing their own logs at once each get
// the log one thread alone writes. Both logs are open before either thread
// writes.
TEST(MinimizerLog, RunsOnTwoThreadsKeepTheirOwnLogs) {
  constexpr int kFits = 50;
  TempFolder tmp;
  FileLog single(tmp.File("alone.txt"));
  WriteDecayFits(single, kFits);
  const std::string alone = ReadFile(tmp.File("alone.txt"));
  ASSERT_EQ(std::count(alone.begin(), alone.end(), '='), 84 * kFits);

  std::latch start(2);
  auto writer = [&](const std::string& name) {
    FileLog log(tmp.File(name));
    start.arrive_and_wait();
    WriteDecayFits(log, kFits);
  };
  std::thread first(writer, "first.txt");
  std::thread second(writer, "second.txt");
  first.join();
  second.join();
  EXPECT_EQ(ReadFile(tmp.File("first.txt")), alone);
  EXPECT_EQ(ReadFile(tmp.File("second.txt")), alone);
}

}  // namespace
}  // namespace lumora
