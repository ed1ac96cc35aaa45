#include "model/results_line.h"

#include <cmath>

#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"
#include "lsq/levenberg_marquardt.h"
#include "model/self_absorption.h"

namespace lumora {

namespace {

// Number of levels the distribution covers, limited to the levels there are.
int CoveredLevels(const std::vector<TLevelRecord>& levels, long double b6) {
  if (b6 >= static_cast<long double>(levels.size())) return static_cast<int>(levels.size());
  return fp::TruncInt32(b6);
}

// |dn_k/db2| * Err[2]: the first-order effect of the error of b2 on the
// density of level k (1-based) under the distribution in use.
long double SecondParameterTerm(const std::vector<TLevelRecord>& levels,
                                const ParameterVector& b, const ParameterVector& errors, int k,
                                long double nk, long double n1) {
  switch (fp::TruncInt32(b[7])) {
    case 0: {
      const long double deltaE = levels[k - 1].Energy - levels[0].Energy;
      const long double term = fp::Div(kElementaryCharge * nk * deltaE * errors[2],
                                       kBoltzmann * b[2] * b[2]);
      return std::fabs(term);
    }
    case 1:
      return (k == 2 || k == 4) ? std::fabs(n1 * errors[2] / 1000) : 0;
    default:
      return 0;
  }
}

std::string ProcedureText(const ParameterVector& b, bool fit) {
  if (!fit) return "map";
  const int code = fp::TruncInt32(b[12]);
  const std::string text = StopCodeResultText(static_cast<StopCode>(code));
  if (!text.empty()) return "fit:" + text;
  return Format("%s %d", "fit:", code);
}

}  // namespace

ResultsFigures ComputeResultsFigures(const std::vector<TLevelRecord>& levels,
                                     const ParameterVector& b, const ParameterVector& errors,
                                     int n, bool fit) {
  ResultsFigures figures;
  const int count = CoveredLevels(levels, b[6]);
  std::vector<long double> u(count > 0 ? count + 1 : 1, 0.0L);
  const long double n1 = count > 0 ? levels[0].Density : 0;
  for (int k = 1; k <= count; ++k) {
    const long double nk = levels[k - 1].Density;
    if (fit) {
      if (k == 1) {
        u[1] = std::log(10.0L) * n1 * errors[1];
      } else if (n == 2) {
        const long double densityTerm = fp::Div(nk, n1) * u[1];
        const long double secondTerm = SecondParameterTerm(levels, b, errors, k, nk, n1);
        u[k] = fp::Sqrt(densityTerm * densityTerm + secondTerm * secondTerm);
      }
    }
    figures.total += nk;
    figures.densities.push_back(nk);
    figures.uncertainties.push_back(u[k]);
  }
  long double sumSquares = 0;
  for (int k = 1; k <= count; ++k) sumSquares += u[k] * u[k];
  figures.totalUncertainty = std::sqrt(sumSquares);
  figures.procedure = ProcedureText(b, fit);
  return figures;
}

void ResultsLine(const std::vector<TLevelRecord>& levels, const ParameterVector& b,
                 const ParameterVector& errors, int& resultsLineCount,
                 std::vector<std::string>* target, const std::string& dataFileName, int n,
                 bool fit) {
  if (!target) throw Error("Lines not assigned.");
  const ResultsFigures figures = ComputeResultsFigures(levels, b, errors, n, fit);
  std::string s1;
  std::string s2;
  for (size_t i = 0; i < figures.densities.size(); ++i) {
    const int k = static_cast<int>(i) + 1;
    s1 += Format(" %.3e %.3e", figures.densities[i], figures.uncertainties[i]);
    s2 += Format("   n_%d/m-3   ±u(n_%d)", k, k);
  }

  if (resultsLineCount == 0)
    target->push_back(Format(
        "n_tot/m-3 ±u(n_tot) %s   T/K  u(T)       RSS Filename  Procedure", s2));
  ++resultsLineCount;
  target->push_back(Format("%.3e %.3e %s %5.0f %5.0f %.5e %s  %s", figures.total,
                           figures.totalUncertainty, s1, b[2], errors[2], b[11], dataFileName,
                           figures.procedure));
}

}  // namespace lumora
