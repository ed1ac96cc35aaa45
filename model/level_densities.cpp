#include "model/level_densities.h"

#include <cmath>

#include "model/self_absorption.h"

namespace lumora {

namespace {

std::vector<double> Log10Densities(EbfModel& model, const ModelParameters& p) {
  model.ComputeUncached(p);
  std::vector<double> densities;
  for (const TLevelRecord& level : model.Table().levels)
    densities.push_back(level.Density > 0 ? std::log10(level.Density) : 0);
  return densities;
}

}  // namespace

std::vector<double> Log10LevelDensityUncertainties(const LineTable& table, const FitResult& fit) {
  std::vector<double> uncertainties(table.levels.size(), 0.0);
  const int fitted = fit.parameterCount;
  if (fit.errors.size() < fitted || fit.covariance.rows() < fitted || !(fit.covariance(0, 0) > 0))
    return uncertainties;
  // The covariance as the standard errors state it (scaled by the residuals'
  // variance when the fit is unweighted).
  const long double scale = fit.errors[0] * fit.errors[0] / fit.covariance(0, 0);
  LineTable copy = table;
  EbfModel model(copy);
  const ModelInput inputs[] = {&ModelParameters::log10N1, &ModelParameters::second};
  // d log10 N_i / d parameter_j by central differences.
  std::vector<std::vector<double>> slopes(fitted);
  for (int j = 0; j < fitted; ++j) {
    const ModelInput input = inputs[j];
    const long double step = std::max<long double>(1e-6L, std::fabs(fit.fitted.*input) * 1e-5L);
    ModelParameters up = fit.fitted, down = fit.fitted;
    up.*input += step;
    down.*input -= step;
    const std::vector<double> above = Log10Densities(model, up);
    const std::vector<double> below = Log10Densities(model, down);
    for (size_t i = 0; i < above.size(); ++i)
      slopes[j].push_back(static_cast<double>((above[i] - below[i]) / (2 * step)));
  }
  const std::vector<double> atOptimum = Log10Densities(model, fit.fitted);
  for (size_t i = 0; i < uncertainties.size(); ++i) {
    if (atOptimum[i] == 0) continue;
    long double variance = 0;
    for (int a = 0; a < fitted; ++a)
      for (int b = 0; b < fitted; ++b)
        variance += slopes[a][i] * slopes[b][i] * fit.covariance(a, b) * scale;
    uncertainties[i] = static_cast<double>(std::sqrt(std::max<long double>(variance, 0)));
  }
  return uncertainties;
}

}  // namespace lumora
