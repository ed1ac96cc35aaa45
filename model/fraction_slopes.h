// The self-absorption model with its exact derivatives, for the fit: every
// line's branching fraction and its slopes with respect to the two inputs a
// fit frees, log10 n_1 and the second parameter (T_exc or the "1s levels"
// relative density), by forward-mode automatic differentiation (Ceres'
// Jet) through the model's chain: density -> optical depth -> escape factor
// -> rate -> fraction. One sweep over the lines gives the values and both
// slopes; double precision holds them to 1e-12 of the extended model.
#pragma once

#include <ceres/jet.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "base/errors.h"
#include "base/extended_exp.h"
#include "model/element_data.h"
#include "model/model_parameters.h"

namespace lumora {

// A value with its derivatives by log10 n_1 (v[0]) and the second parameter
// (v[1]).
template <typename Real>
using ModelJet = ceres::Jet<Real, 2>;

// e^x of a jet; in extended precision by the model's own exponential, which
// costs a fraction of expl.
inline double ExpOf(double x) { return std::exp(x); }
inline ModelJet<double> ExpOf(const ModelJet<double>& x) { return ceres::exp(x); }
inline ModelJet<long double> ExpOf(const ModelJet<long double>& x) {
  const long double e = ExtendedExp(x.a);
  return ModelJet<long double>(e, e * x.v);
}

// What a line contributes to the fractions besides its lower level's
// density: its optical depth per density on the model's path, its
// transition probability and the levels it joins.
template <typename Real>
struct LineTerms {
  Real depthPerDensity = 0;
  Real aki = 0;
  int32_t lower = -1, upper = -1;
};

// Ground-level-relative terms of a level's Boltzmann population: g_i / g_0
// and (E_i - E_0) e / k.
template <typename Real>
struct LevelTerms {
  Real weightRatio = 0;
  Real excitationOverK = 0;
};

// The densities of the absorbing levels at (log10 n_1, second) as the model
// populates them, `count` levels of `levels.size()`; the others are empty.
// Number is a ModelJet seeded by the caller (log10 n_1 as input 0, the
// second parameter as input 1) for values with slopes, or Real for values
// alone.
template <typename Real, typename Number>
void LevelDensities(const std::vector<LevelTerms<Real>>& levels, Distribution distribution,
                    int32_t count, const Number& log10N1, const Number& second,
                    std::vector<Number>& densities) {
  using std::abs;
  const Real ln10 = static_cast<Real>(2.302585092994045684017991454684364208L);
  densities.assign(levels.size(), Number(Real(0)));
  const Number n1 = ExpOf(log10N1 * ln10);
  const Number magnitude = abs(second);
  const int32_t populated = std::min<int32_t>(count, static_cast<int32_t>(levels.size()));
  if (distribution == Distribution::Boltzmann) {
    for (int32_t i = 0; i < populated; ++i)
      densities[i] = n1 * levels[i].weightRatio * ExpOf(-levels[i].excitationOverK / magnitude);
    return;
  }
  // "1s levels": the first four levels, whatever their energies and weights.
  const Number pair = magnitude / Real(1000) * n1;
  const Number firstFour[] = {n1, pair, n1 * Real(0.2L), pair};
  for (int32_t i = 0; i < std::min<int32_t>(populated, 4); ++i) densities[i] = firstFour[i];
}

// Every line's branching fraction from the levels' densities: a line's rate
// is its escape factor, (2 - e^(-tau/1000)) / (1 + tau), times its
// transition probability; its fraction the rate over the sum of its upper
// level's rates (-1, constant, where that sum is not above 0). False where
// an optical depth is not finite: the fractions then say nothing.
template <typename Real, typename Number>
bool BranchingFractions(const std::vector<Number>& densities,
                        const std::vector<LineTerms<Real>>& lines, size_t levelCount,
                        std::vector<Number>& upperSums, std::vector<Number>& fractions) {
  upperSums.assign(levelCount, Number(Real(0)));
  fractions.resize(lines.size());
  for (size_t j = 0; j < lines.size(); ++j) {
    const LineTerms<Real>& line = lines[j];
    const Number tau = densities[line.lower] * line.depthPerDensity;
    if (!ceres::isfinite(tau)) return false;
    const Number escape = (Real(2) - ExpOf(tau * Real(-0.001L))) / (Real(1) + tau);
    fractions[j] = escape * line.aki;
    upperSums[line.upper] += fractions[j];
  }
  for (size_t j = 0; j < lines.size(); ++j) {
    const Number& sum = upperSums[lines[j].upper];
    fractions[j] = sum > Real(0) ? fractions[j] / sum : Number(Real(-1));
  }
  return true;
}

// Every line's branching fraction and its slopes at one parameter set.
struct FractionSweep {
  std::vector<double> values;
  std::vector<double> byLog10N1, bySecond;

  double By(int input, size_t line) const { return input == 0 ? byLog10N1[line] : bySecond[line]; }
};

}  // namespace lumora
