#include "model/results_line.h"

#include <cmath>

#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"
#include "lsq/levenberg_marquardt.h"
#include "model/fit.h"
#include "model/level_densities.h"
#include "model/residual_map.h"
#include "model/self_absorption.h"

namespace lumora {

namespace {

// Number of levels the distribution covers, limited to the levels there are.
int CoveredLevels(const std::vector<TLevelRecord>& levels, int32_t levelCount) {
  if (levelCount >= static_cast<long double>(levels.size())) return static_cast<int>(levels.size());
  return levelCount;
}

std::string ProcedureText(const ResultsInput& input) {
  if (!input.fitStop) return "map";
  const std::string text = StopCodeResultText(*input.fitStop);
  if (!text.empty()) return "fit:" + text;
  return Format("%s %d", "fit:", static_cast<int>(*input.fitStop));
}

}  // namespace

ResultsInput FitResultsInput(const FitResult& fit) {
  ResultsInput input;
  input.at = fit.fitted;
  input.log10N1Error = fit.Log10N1Error();
  input.secondError = fit.SecondError();
  input.secondFitted = fit.parameterCount == 2;
  input.covariance = StatedCovariance(fit);
  input.sum = fit.sum;
  input.fitStop = fit.stopCode;
  return input;
}

std::vector<std::string> FitUncertaintyLines(const FitResult& fit) {
  if (fit.weighted) {
    const GoodnessOfFit& g = fit.goodness;
    std::vector<std::string> lines{Format("chi2 = %.4g for %d degrees of freedom: chi2/dof = %.4g, p = %.3g; "
                   "u(log10 n_1) = %.4g from the intensities' uncertainties (not rescaled)",
                   static_cast<double>(g.chiSquare), g.degreesOfFreedom,
                   static_cast<double>(g.PerDegree()), g.pValue,
                   static_cast<double>(fit.Log10N1Error()))};
    if (g.pValue < 0.001)
      lines.push_back(Format("Warning: the lines scatter more than their uncertainties allow "
                             "(p = %.3g): u(log10 n_1) is too small, by about %.3g times.",
                             g.pValue, std::sqrt(static_cast<double>(g.PerDegree()))));
    return lines;
  }
  const long double robust = fit.RobustLog10N1Error();
  return {Format("u(log10 n_1) = %.4g from the residuals' scatter (unweighted fit); "
                 "robust (sandwich over the upper levels) %s",
                 static_cast<double>(fit.Log10N1Error()),
                 robust > 0 ? Format("%.4g", static_cast<double>(robust)) : std::string("n/a"))};
}

std::vector<std::string> MapUncertaintyLines(const MapResult& map) {
  if (!map.Weighted()) return {};
  const GoodnessOfFit& g = map.goodness;
  return {
      Format("chi2 = %.4g at the map's minimum for %d degrees of freedom: chi2/dof = %.4g, "
             "p = %.3g; each grid point holds the branching fractions' chi-square",
             static_cast<double>(g.chiSquare), g.degreesOfFreedom,
             static_cast<double>(g.PerDegree()), g.pValue)};
}

ResultsInput MapResultsInput(const MapResult& map) {
  ResultsInput input;
  input.at = map.atMinimum;
  input.sum = map.minimum;
  return input;
}

ResultsFigures ComputeResultsFigures(const std::vector<TLevelRecord>& levels,
                                     const ResultsInput& input) {
  ResultsFigures figures;
  const bool fit = input.fitStop.has_value();
  const int count = CoveredLevels(levels, input.at.levelCount);
  // Every density and their total carry the fitted parameters' covariance
  // through their slopes; a map's have none.
  DensityUncertainties u;
  if (fit && count > 0 && input.covariance.rows() > 0)
    u = PropagateToDensities(levels, input.at, input.covariance, count);
  for (int k = 1; k <= count; ++k) {
    const long double nk = levels[k - 1].Density;
    figures.total += nk;
    figures.densities.push_back(nk);
    figures.uncertainties.push_back(u.levels.empty() ? 0 : u.levels[k - 1]);
  }
  figures.totalUncertainty = u.total;
  figures.procedure = ProcedureText(input);
  return figures;
}

ResultsLineText ResultsLine(const std::vector<TLevelRecord>& levels, const ResultsInput& input,
                            int& resultsLineCount, std::vector<std::string>* target,
                            const std::string& dataFileName) {
  if (!target) throw Error("Lines not assigned.");
  const ResultsFigures figures = ComputeResultsFigures(levels, input);
  std::string s1;
  std::string s2;
  for (size_t i = 0; i < figures.densities.size(); ++i) {
    const int k = static_cast<int>(i) + 1;
    s1 += Format(" %.3e %.3e", figures.densities[i], figures.uncertainties[i]);
    s2 += Format("   n_%d/m-3   ±u(n_%d)", k, k);
  }

  ResultsLineText text;
  if (resultsLineCount == 0) {
    // Under "1s levels" the second column is the 1s2/4 density relative
    // to n_1 in thousandths, no temperature; the width stays.
    const char* second = input.at.distribution == Distribution::FirstLevels ? " 1s2/4 u(1s)"
                                                                            : "   T/K  u(T)";
    text.header = Format("n_tot/m-3 ±u(n_tot) %s%s       RSS Filename  Procedure", s2, second);
    target->push_back(text.header);
  }
  ++resultsLineCount;
  text.line = Format("%.3e %.3e %s %5.0f %5.0f %.5e %s  %s", figures.total,
                     figures.totalUncertainty, s1, input.at.second, input.secondError, input.sum,
                     dataFileName, figures.procedure);
  target->push_back(text.line);
  return text;
}

}  // namespace lumora
