#include "model/level_densities.h"

#include <cmath>

#include "model/fit.h"
#include "model/fraction_slopes.h"

namespace lumora {

namespace {

// The standard uncertainty of a jet's value: sqrt(g' C g) over its slopes.
long double Propagated(const ModelJet<long double>& value, const ParameterMatrix& covariance) {
  long double variance = 0;
  const int n = static_cast<int>(covariance.rows());
  for (int a = 0; a < n; ++a)
    for (int b = 0; b < n; ++b) variance += value.v[a] * value.v[b] * covariance(a, b);
  return std::sqrt(std::max<long double>(variance, 0));
}

}  // namespace

DensityUncertainties PropagateToDensities(const std::vector<TLevelRecord>& levels,
                                          const ModelParameters& at,
                                          const ParameterMatrix& covariance, int covered) {
  CheckDistribution(at.distribution);
  if (at.levelCount < 0) throw RangeError();
  if (at.distribution == Distribution::FirstLevels && levels.size() < 4) throw RangeError();
  std::vector<LevelTerms<long double>> terms;
  for (const TLevelRecord& level : levels)
    terms.push_back({static_cast<long double>(level.g) / levels[0].g,
                     (static_cast<long double>(level.Energy) - levels[0].Energy) *
                         kElementaryCharge / kBoltzmann});
  std::vector<ModelJet<long double>> densities;
  LevelDensities(terms, at.distribution, at.levelCount, ModelJet<long double>(at.log10N1, 0),
                 ModelJet<long double>(at.second, 1), densities);
  DensityUncertainties u;
  ModelJet<long double> total(0.0L);
  for (size_t k = 0; k < densities.size(); ++k) {
    u.densities.push_back(densities[k].a);
    u.levels.push_back(Propagated(densities[k], covariance));
    if (static_cast<int>(k) < covered) total += densities[k];
  }
  u.total = Propagated(total, covariance);
  return u;
}

ParameterMatrix StatedCovariance(const FitResult& fit) {
  const int n = std::min<int>(fit.parameterCount, static_cast<int>(fit.covariance.rows()));
  ParameterMatrix stated = ParameterMatrix::Zero(n, n);
  if (fit.errors.size() < n) return stated;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const long double ci = fit.covariance(i, i), cj = fit.covariance(j, j);
      const long double correlation =
          i == j ? 1 : (ci > 0 && cj > 0 ? fit.covariance(i, j) / std::sqrt(ci * cj) : 0);
      stated(i, j) = correlation * fit.errors[i] * fit.errors[j];
    }
  return stated;
}

std::vector<double> Log10LevelDensityUncertainties(const LineTable& table, const FitResult& fit) {
  std::vector<double> uncertainties(table.levels.size(), 0.0);
  if (fit.covariance.rows() < fit.parameterCount || table.levels.empty()) return uncertainties;
  const DensityUncertainties u = PropagateToDensities(
      table.levels, fit.fitted, StatedCovariance(fit), static_cast<int>(table.levels.size()));
  // u(log10 N) = u(N) / (N ln 10).
  for (size_t i = 0; i < uncertainties.size(); ++i)
    if (u.densities[i] > 0)
      uncertainties[i] = static_cast<double>(u.levels[i] / (u.densities[i] * std::log(10.0L)));
  return uncertainties;
}

}  // namespace lumora
