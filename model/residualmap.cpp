#include "model/residualmap.h"

#include <cmath>

#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"
#include "lsq/marq3w.h"
#include "model/atomicdata.h"
#include "model/ebfmodel.h"

namespace lumora {

std::vector<std::vector<double>> ResidualMap;
int ResultsLineCount = 0;

void ResetResultsLineCount() { ResultsLineCount = 0; }

void ResetResidualMap(int rows, int columns) {
  ResidualMap.assign(rows > 0 ? rows : 0, std::vector<double>(columns > 0 ? columns : 0, 0.0));
}

long double GridPointRSS(const vector& b, int p) {
  const int m = static_cast<int>(LineArray.size());
  long double sum = 0;
  // One look-up for all lines rather than one per line; a cached array
  // shorter than the lines fails where EvaluateModel would.
  const TPreCalcDataArray* data = m > 0 ? &EvaluateAllLines(b) : nullptr;
  for (int k = 0; k < m; ++k) {
    TLineRecord& line = LineArray[k];
    CheckIndex(k, data->size());
    line.G_f = (*data)[k];
    const long double diff = static_cast<long double>(line.G_f) - line.G_m;
    sum += diff * diff;
  }
  ClearPrecalc();
  if (m - p > 0) sum /= m - p;
  return sum;
}

namespace {

constexpr double kNoMinimum = 1e20;

void CheckPointCounts(int nDens, int nTemp) {
  if (nDens < 1 || nTemp < 1)
    throw Error(Format(
        "A map needs at least 1 point on each axis (density points %d, temperature points %d).",
        nDens, nTemp));
}

}  // namespace

void MapResiduals(int nDens, int nTemp, vector& b, double log10FirstDensity,
                  double log10DensityLimit, double firstTemperature, double temperatureLimit,
                  const std::string& dataFileName, MapRange& range,
                  std::vector<std::string>* reportLines, const MapProgress& progress) {
  CheckPointCounts(nDens, nTemp);
  const double stepD = (log10DensityLimit - log10FirstDensity) / nDens;
  const double stepT = (temperatureLimit - firstTemperature) / nTemp;
  range = MapRange{log10FirstDensity, log10DensityLimit, firstTemperature, temperatureLimit,
                   stepD, stepT};

  double min = kNoMinimum;
  double max = -kNoMinimum;
  double bestX = 0;
  double bestT = 0;
  bool found = false;
  double t = firstTemperature;
  for (int i = 0; i < nTemp; ++i) {
    CheckIndex(i, ResidualMap.size());
    std::vector<double>& row = ResidualMap[i];
    double x = log10FirstDensity;
    for (int j = 0; j < nDens; ++j) {
      CheckIndex(j, row.size());
      b[1] = x;
      b[2] = t;
      const double value = fp::ToDouble(GridPointRSS(b, 2));
      row[j] = value;
      if (value < min) {
        min = value;
        bestX = x;
        bestT = t;
        found = true;
      }
      if (value > max) max = value;
      x += stepD;
    }
    t += stepT;
    if (progress) progress(i + 1, nTemp);
  }
  if (!found)
    throw Error(Format("No residual sum of the map lies below %.3e: the map has no minimum.",
                       kNoMinimum));

  b[1] = bestX;
  b[2] = bestT;
  GridPointRSS(b, 2);
  b[11] = min;
  b[12] = max;

  if (!reportLines) return;
  if (static_cast<int>(LineArray.size()) - 2 <= 0)
    reportLines->push_back("Sum was not divided by DoF (not enough lines)!");
  std::vector<std::string> lines;
  ResultsLine(b, vector{}, &lines, dataFileName, 2, false);
  reportLines->insert(reportLines->end(), lines.begin(), lines.end());
}

namespace {

// Number of levels the distribution covers, limited to the levels there are.
int CoveredLevels(long double b6) {
  const long double levels = static_cast<long double>(LevelArray.size());
  if (b6 >= levels) return static_cast<int>(LevelArray.size());
  return fp::TruncInt32(b6);
}

// |dn_k/db2| * Err[2]: the first-order effect of the error of b2 on the
// density of level k (1-based) under the distribution in use.
long double SecondParameterTerm(const vector& b, const vector& errors, int k, long double nk,
                                long double n1) {
  switch (fp::TruncInt32(b[7])) {
    case 0: {
      const long double deltaE = LevelArray[k - 1].Energy - LevelArray[0].Energy;
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

std::string ProcedureText(const vector& b, bool fit) {
  if (!fit) return "map";
  const int code = fp::TruncInt32(b[12]);
  const std::string text = StopCodeResultText(code);
  if (!text.empty()) return "fit:" + text;
  return Format("%s %d", "fit:", code);
}

}  // namespace

void ResultsLine(const vector& b, const vector& errors, std::vector<std::string>* target,
                 const std::string& dataFileName, int n, bool fit) {
  if (!target) throw Error("Lines not assigned.");
  const int count = CoveredLevels(b[6]);
  std::vector<long double> u(count > 0 ? count + 1 : 1, 0.0L);
  long double nTot = 0;
  std::string s1;
  std::string s2;
  const long double n1 = count > 0 ? LevelArray[0].Density : 0;
  for (int k = 1; k <= count; ++k) {
    const long double nk = LevelArray[k - 1].Density;
    if (fit) {
      if (k == 1) {
        u[1] = std::log(10.0L) * n1 * errors[1];
      } else if (n == 2) {
        const long double densityTerm = fp::Div(nk, n1) * u[1];
        const long double secondTerm = SecondParameterTerm(b, errors, k, nk, n1);
        u[k] = fp::Sqrt(densityTerm * densityTerm + secondTerm * secondTerm);
      }
    }
    nTot += nk;
    s1 += Format(" %.3e %.3e", nk, u[k]);
    s2 += Format("   n_%d/m-3   ±u(n_%d)", k, k);
  }
  long double sumSquares = 0;
  for (int k = 1; k <= count; ++k) sumSquares += u[k] * u[k];
  const long double uTot = std::sqrt(sumSquares);

  if (ResultsLineCount == 0)
    target->push_back(Format(
        "n_tot/m-3 ±u(n_tot) %s   T/K  u(T)       RSS Filename  Procedure", s2));
  ++ResultsLineCount;
  target->push_back(Format("%.3e %.3e %s %5.0f %5.0f %.5e %s  %s", nTot, uTot, s1, b[2],
                           errors[2], b[11], dataFileName, ProcedureText(b, fit)));
}

}  // namespace lumora
