#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "fit_harness.h"
#include "lsq/marq3w.h"
#include "lsq/marqlog.h"

namespace lumora {
namespace {

using testing::CrLfLines;
using testing::Fit;
using testing::LineDerivatives;
using testing::LineModel;
using testing::ReadFile;
using testing::TempFolder;

const std::string kRule(84, '=');
const std::string kTableRule(84, '-');

// y = 1.1, 2.9, 5.2, 6.8 at x = 0..3: least squares gives 1.09 + 1.94 x,
// sum 0.082, covariance [[0.7, -0.3], [-0.3, 0.2]].
Fit FourPointLine() {
  Fit fit;
  const long double ys[] = {1.1L, 2.9L, 5.2L, 6.8L};
  for (int k = 0; k < 4; ++k) fit.Point(k, ys[k]);
  fit.n = 2;
  fit.par[2] = 1;
  return fit;
}

std::string ReportError(const Fit& fit) {
  try {
    MarqReport(fit.code, fit.m, fit.n, fit.sum, fit.par, fit.cov);
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

TEST(MarqLog, FullRunLineByLine) {
  TempFolder tmp;
  const std::string path = tmp.File("lumora.txt");
  Fit fit = FourPointLine();
  fit.limit = 2;
  MarqOpenLog(path, 1);
  fit.Run(LineModel, LineDerivatives, 1);
  EXPECT_EQ(ReportError(fit), "");
  EXPECT_FALSE(marqlog::IsOpen());

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

TEST(MarqLog, ThrowingCallbackLeavesLogCompleteAndClosed) {
  TempFolder tmp;
  const std::string path = tmp.File("lumora.txt");
  Fit fit = FourPointLine();
  int calls = 0;
  auto model = [&](int n, const vector& b, bool& flag, long double x) {
    if (++calls == 6) throw std::runtime_error("model failed");
    return LineModel(n, b, flag, x);
  };
  MarqOpenLog(path, 1);
  EXPECT_THROW(fit.Run(model, LineDerivatives, 1), std::runtime_error);
  EXPECT_EQ(ReportError(fit), "no minimization was started");
  EXPECT_FALSE(marqlog::IsOpen());

  const std::vector<std::string> expected = {
      kRule,
      "iter  log10(n_1)          Te             sumr",
      kTableRule,
      "  0  0.000E+0000  1.000E+0000  2.950000E+0001",
      "",
      "Minimization report : no minimization was started",
  };
  const std::string text = ReadFile(path);
  EXPECT_EQ(CrLfLines(text), expected);
  EXPECT_NE(text.substr(text.size() - 2), "\r\n") << "the file ends right after the reason";
}

struct FailedRun {
  int code;
  std::string message;
};

class FailedRunReports : public ::testing::TestWithParam<FailedRun> {};

TEST_P(FailedRunReports, ReportRaisesTheReasonAfterClosing) {
  TempFolder tmp;
  const std::string path = tmp.File("lumora.txt");
  Fit fit = FourPointLine();
  fit.code = GetParam().code;
  MarqOpenLog(path, 1);
  EXPECT_EQ(ReportError(fit), GetParam().message);
  EXPECT_FALSE(marqlog::IsOpen());
  const std::vector<std::string> expected = {kRule, "",
                                             "Minimization report : " + GetParam().message};
  EXPECT_EQ(CrLfLines(ReadFile(path)), expected);
}

INSTANTIATE_TEST_SUITE_P(Codes, FailedRunReports,
                         ::testing::Values(FailedRun{kNotStarted, "no minimization was started"},
                                           FailedRun{kFalseResiduum, "residuum is false"},
                                           FailedRun{kFalseHessian, "hessian is false"}));

TEST(MarqLog, RefusedRunWritesNoTable) {
  TempFolder tmp;
  const std::string path = tmp.File("lumora.txt");
  Fit fit = FourPointLine();
  fit.n = 9;
  MarqOpenLog(path, 1);
  EXPECT_THROW(fit.Run(LineModel, LineDerivatives, 1), Error);
  EXPECT_EQ(ReportError(fit), "no minimization was started");
  const std::vector<std::string> expected = {kRule, "",
                                             "Minimization report : no minimization was started"};
  EXPECT_EQ(CrLfLines(ReadFile(path)), expected);
}

// Reports of crafted results, for the cases where errors or correlations
// have no value.
struct ReportCase {
  std::string name;
  int m, n;
  std::vector<long double> cov;  // row by row, n x n
  std::vector<std::string> tail;  // the lines from "Results :" on
};

class ReportLayout : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ReportLayout, ResultsAndCorrelations) {
  const ReportCase& c = GetParam();
  TempFolder tmp;
  const std::string path = tmp.File("lumora.txt");
  vector par;
  for (int i = 1; i <= c.n; ++i) par[i] = 1000 * i;
  TMarqArray cov;
  for (size_t k = 0; k < c.cov.size(); ++k) cov[static_cast<int>(k) + 1] = c.cov[k];

  MarqOpenLog(path, 3);  // mode 3: no rule at the top
  MarqReport(kParametersUnchanged, c.m, c.n, 8, par, cov);

  std::vector<std::string> expected = {"", "Minimization report : parameters are not changing",
                                       ""};
  expected.insert(expected.end(), c.tail.begin(), c.tail.end());
  EXPECT_EQ(CrLfLines(ReadFile(path)), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReportLayout,
    ::testing::Values(
        ReportCase{"TwoPointsHaveNoErrorsOrCorrelations",
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
                    "Correlation coefficients :", "        1     2     3", " 1   1.00",
                    " 2   0.17  1.00", " 3    n/a   n/a   n/a", ""}},
        ReportCase{"NoDegreesOfFreedom",
                   3,
                   3,
                   {1, 0, 0, 0, 1, 0, 0, 0, 1},
                   {"Results :", "Parameter            Value               Error",
                    "  log10(n_1)      1.000E+003       undefined",
                    "  Te              2.000E+003       undefined",
                    "  b3              3.000E+003       undefined", "",
                    "Correlation coefficients :", "        1     2     3", " 1   1.00",
                    " 2   0.00  1.00", " 3   0.00  0.00  1.00", ""}}),
    [](const auto& info) { return info.param.name; });

TEST(MarqLog, StopCodeTexts) {
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
    EXPECT_EQ(StopCodeReportText(r.code), r.report) << r.code;
    EXPECT_EQ(StopCodeResultText(r.code), r.result) << r.code;
  }
  EXPECT_EQ(ParameterName(1), "log10(n_1)");
  EXPECT_EQ(ParameterName(2), "Te");
  EXPECT_EQ(ParameterName(8), "b8");
}

TEST(MarqLog, OpenAndWriteFailures) {
  TempFolder tmp;
  EXPECT_THROW(MarqOpenLog(tmp.File("missing/lumora.txt"), 1), InOutError);
  EXPECT_FALSE(marqlog::IsOpen());

  // A table needs an open log; the run is refused before any model call.
  Fit fit = FourPointLine();
  EXPECT_THROW(fit.Run(LineModel, LineDerivatives, 1), InOutError);
  EXPECT_EQ(fit.funcCalls, 0);
  EXPECT_THROW(MarqReport(kParametersUnchanged, fit.m, fit.n, 0, fit.par, fit.cov), InOutError);
}

TEST(MarqLog, ReopeningTruncates) {
  TempFolder tmp;
  const std::string path = tmp.File("lumora.txt");
  for (int run = 0; run < 2; ++run) {
    Fit fit = FourPointLine();
    fit.limit = 1;
    MarqOpenLog(path, 1);
    fit.Run(LineModel, LineDerivatives, 1);
    MarqReport(fit.code, fit.m, fit.n, fit.sum, fit.par, fit.cov);
  }
  const std::vector<std::string> lines = CrLfLines(ReadFile(path));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kRule), 1);
}

}  // namespace
}  // namespace lumora
