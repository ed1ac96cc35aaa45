#include <string>

#include "base/format.h"
#include "lsq/levenberg_marquardt.h"
#include "lsq/minimizer_log_text.h"

namespace lumora {

namespace {

bool IsFailure(StopCode code) {
  return code == StopCode::NotStarted || code == StopCode::FalseResidual ||
         code == StopCode::FalseHessian;
}

void WriteResults(IterationLog& log, int m, int n, long double sum, const ParameterVector& par,
                  const PointArray& covariance, const ParameterNames& names) {
  log.Line("Results :");
  log.Line("Parameter            Value               Error");
  for (int i = 1; i <= n; ++i) {
    log.Line(Format("  %-10s %15.4e ", ParameterLabel(names, i), par[i]) +
             ParameterErrorField(m, n, sum, covariance, i));
  }
}

void WriteCorrelations(IterationLog& log, int n, const PointArray& covariance) {
  log.Line("Correlation coefficients :");
  std::string indices = "   ";
  for (int i = 1; i <= n; ++i) indices += Format("%6d", i);
  log.Line(indices);
  for (int i = 1; i <= n; ++i) {
    std::string row = Format("%2d ", i);
    for (int j = 1; j <= i; ++j) row += CorrelationField(n, covariance, i, j);
    log.Line(row);
  }
}

}  // namespace

void WriteLogOpening(IterationLog& log) { log.Line(OpeningRule()); }

void WriteMinimizerReport(IterationLog& log, StopCode stopCode, int m, int n, long double sum,
                          const ParameterVector& par, const PointArray& covariance,
                          const ParameterNames& names) {
  const std::string reason = StopCodeReportText(stopCode);
  log.Line();
  log.Write("Minimization report : " + reason);
  if (IsFailure(stopCode)) throw Error(reason);
  if (n < 1 || n > kMaxMinimizerParameters)
    throw Error(Format("Cannot report %d parameters: the minimiser fits 1 to %d", n,
                       kMaxMinimizerParameters));
  log.Line();
  log.Line();
  WriteResults(log, m, n, sum, par, covariance, names);
  log.Line();
  if (m > 2) WriteCorrelations(log, n, covariance);
  log.Line();
}

}  // namespace lumora
