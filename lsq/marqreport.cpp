#include <cmath>
#include <string>

#include "base/format.h"
#include "lsq/marq3w.h"
#include "lsq/marqlog.h"
#include "lsq/marqprint.h"

namespace lumora {

namespace {

constexpr int kMaxParameters = 8;

long double CovAt(int n, const TMarqArray& cov, int i, int j) { return cov[(i - 1) * n + j]; }

bool IsFailureCode(int stopCode) {
  return stopCode == kNotStarted || stopCode == kFalseResiduum || stopCode == kFalseHessian;
}

void WriteResults(int m, int n, long double sum, const vector& par, const TMarqArray& cov) {
  marqlog::Line("Results :");
  marqlog::Line("Parameter            Value               Error");
  for (int i = 1; i <= n; ++i) {
    marqlog::Line(Format("  %-10s %15.4e ", ParameterName(i), par[i]) +
                  MarqErrorField(m, n, sum, cov, i));
  }
}

void WriteCorrelations(int n, const TMarqArray& cov) {
  marqlog::Line("Correlation coefficients :");
  std::string indices = "   ";
  for (int i = 1; i <= n; ++i) indices += Format("%6d", i);
  marqlog::Line(indices);
  for (int i = 1; i <= n; ++i) {
    std::string row = Format("%2d ", i);
    for (int j = 1; j <= i; ++j) row += MarqCorrelationField(n, cov, i, j);
    marqlog::Line(row);
  }
}

}  // namespace

std::string ParameterName(int index) {
  if (index == 1) return "log10(n_1)";
  if (index == 2) return "Te";
  return Format("b%d", index);
}

std::string StopCodeReportText(int stopCode) {
  switch (stopCode) {
    case kNotStarted: return "no minimization was started";
    case kSumReached: return "given sum of squeres was achieved";
    case kLambdaReached: return "given maximum lambda was achieved";
    case kIterCountReached: return "given number of iteration was achieved";
    case kFalseResiduum: return "residuum is false";
    case kFalseHessian: return "hessian is false";
    case kParametersUnchanged: return "parameters are not changing";
    default: return "return code :" + Format("%3d", stopCode);
  }
}

std::string StopCodeResultText(int stopCode) {
  switch (stopCode) {
    case kNotStarted: return "not started";
    case kSumReached: return "sum reached";
    case kLambdaReached: return "lambda reached";
    case kIterCountReached: return "itercount reached";
    case kFalseResiduum: return "false residuum";
    case kFalseHessian: return "false hessian";
    case kParametersUnchanged: return "OK";
    default: return "";
  }
}

std::string MarqTableHeader(int n) {
  std::string line = "iter";
  for (int i = 1; i <= n; ++i) line += Format("%12s", ParameterName(i));
  return line + Format("%17s", "sumr");
}

std::string MarqTableRow(int iteration, const vector& par, int n, long double sum) {
  std::string line = Format("%3d", iteration);
  for (int i = 1; i <= n; ++i) {
    line += ' ';
    line += ExpField(par[i], 12);
  }
  line += ' ';
  return line + ExpField(sum, 15);
}

std::string MarqErrorField(int m, int n, long double sum, const TMarqArray& cov, int i) {
  if (m <= 2) return Format("%15.4e", 0.0L);
  if (m <= n) return Format("%15s", "undefined");
  const long double variance = sum / (m - n) * CovAt(n, cov, i, i);
  if (!(variance >= 0) || std::isinf(variance)) return Format("%15s", "undefined");
  return Format("%15.4e", std::sqrt(variance));
}

std::string MarqCorrelationField(int n, const TMarqArray& cov, int i, int j) {
  const long double product = CovAt(n, cov, i, i) * CovAt(n, cov, j, j);
  if (!(product > 0) || std::isinf(product)) return "   n/a";
  const long double r = CovAt(n, cov, i, j) / std::sqrt(product);
  if (!std::isfinite(r)) return "   n/a";
  return Format("%6.2f", r);
}

void MarqReport(int stopCode, int m, int n, long double sum, const vector& par,
                const TMarqArray& cov) {
  const std::string reason = StopCodeReportText(stopCode);
  try {
    marqlog::Line();
    marqlog::Write("Minimization report : " + reason);
    if (IsFailureCode(stopCode)) {
      marqlog::Close();
      throw Error(reason);
    }
    if (n < 1 || n > kMaxParameters)
      throw Error(Format("Cannot report %d parameters: the minimiser fits 1 to %d", n,
                         kMaxParameters));
    marqlog::Line();
    marqlog::Line();
    WriteResults(m, n, sum, par, cov);
    marqlog::Line();
    if (m > 2) WriteCorrelations(n, cov);
    marqlog::Line();
    marqlog::Close();
  } catch (...) {
    // The log is never left open, whatever went wrong while writing it.
    if (marqlog::IsOpen()) {
      try {
        marqlog::Close();
      } catch (const Error&) {
        // The first failure is the one worth reporting.
      }
    }
    throw;
  }
}

}  // namespace lumora
