#include <string>

#include "base/errors.h"
#include "base/format.h"
#include "lsq/levenberg_marquardt.h"
#include "lsq/minimizer_log_text.h"

namespace lumora {

namespace {

void WriteResults(IterationLog& log, int m, long double sum, const ParameterValues& parameters,
                  const ParameterMatrix& covariance, const ParameterNames& names) {
  log.Line("Results :");
  log.Line("Parameter            Value               Error");
  for (int i = 0; i < parameters.size(); ++i) {
    log.Line(Format("  %-10s %15.4e ", ParameterLabel(names, i), parameters[i]) +
             ParameterErrorField(m, sum, covariance, i));
  }
}

void WriteCorrelations(IterationLog& log, const ParameterMatrix& covariance) {
  const int n = static_cast<int>(covariance.rows());
  log.Line("Correlation coefficients :");
  std::string indices = "   ";
  for (int i = 1; i <= n; ++i) indices += Format("%6d", i);
  log.Line(indices);
  for (int i = 0; i < n; ++i) {
    std::string row = Format("%2d ", i + 1);
    for (int j = 0; j <= i; ++j) row += CorrelationField(covariance, i, j);
    log.Line(row);
  }
}

}  // namespace

bool IsFailedRun(StopCode code) {
  return code == StopCode::NotStarted || code == StopCode::FalseResidual ||
         code == StopCode::FalseHessian;
}

void WriteLogOpening(IterationLog& log) { log.Line(OpeningRule()); }

void WriteIterationTable(IterationLog& log, const IterationTrace& trace,
                         const ParameterNames& names) {
  if (trace.empty()) return;
  log.Line(IterationTableHeader(names, static_cast<int>(trace.front().parameters.size())));
  log.Line(TableRule());
  for (const IterationRecord& record : trace)
    log.Line(IterationTableRow(record.iteration, record.parameters, record.sum));
}

std::string ConvergenceTestText(ConvergenceTest test) {
  switch (test) {
    case ConvergenceTest::SumReduction:
      return " (relative reduction of the sum below ftol)";
    case ConvergenceTest::Step:
      return " (relative step below xtol)";
    case ConvergenceTest::Gradient:
      return " (scaled gradient below gtol)";
    case ConvergenceTest::None:
    case ConvergenceTest::Unchanged:
      break;
  }
  return "";
}

void WriteMinimizerReport(IterationLog& log, StopCode stopCode, int m, long double sum,
                          const ParameterValues& parameters, const ParameterMatrix& covariance,
                          const ParameterNames& names, ConvergenceTest convergedBy) {
  const std::string reason = StopCodeReportText(stopCode);
  log.Line();
  log.Write("Minimization report : " + reason);
  if (IsFailedRun(stopCode)) throw Error(reason);
  if (stopCode == StopCode::ParametersUnchanged) log.Write(ConvergenceTestText(convergedBy));
  const int n = static_cast<int>(parameters.size());
  if (n < 1 || n > kMaxMinimizerParameters)
    throw Error(Format("Cannot report %d parameters: the minimiser fits 1 to %d", n,
                       kMaxMinimizerParameters));
  if (covariance.rows() != n || covariance.cols() != n)
    throw Error(Format("Cannot report %d parameters with a covariance of order %d", n,
                       static_cast<int>(covariance.rows())));
  log.Line();
  log.Line();
  WriteResults(log, m, sum, parameters, covariance, names);
  log.Line();
  if (m > 2) WriteCorrelations(log, covariance);
  log.Line();
}

}  // namespace lumora
