// How well a fit fixes the densities of the absorbing levels: the standard
// uncertainties of each level's density and of their total, carried from
// the fitted parameters' covariance through the exact slopes of the
// densities by first-order propagation, the parameters' correlation and the
// levels' common dependence on them included.
#pragma once

#include <vector>

#include "lsq/lsq_types.h"
#include "model/element_data.h"
#include "model/model_parameters.h"

namespace lumora {

struct FitResult;

struct DensityUncertainties {
  std::vector<long double> densities;  // n_k as the distribution populates them
  std::vector<long double> levels;  // u(n_k), one per level; 0 for an empty level
  long double total = 0;            // u(n_tot), n_tot the sum of the first `covered` levels
};

// The uncertainties at `at` from `covariance`, over the fitted parameters
// (log10 n_1 first, then the second parameter when it was fitted) as the
// standard errors state it. Raises what the population raises.
DensityUncertainties PropagateToDensities(const std::vector<TLevelRecord>& levels,
                                          const ModelParameters& at,
                                          const ParameterMatrix& covariance, int covered);

// The covariance a fit's standard errors state: their squares on the
// diagonal, and the correlations of the fit's covariance between them.
ParameterMatrix StatedCovariance(const FitResult& fit);

// u(log10 N_k) of each level of `table` (0 for a level the distribution
// leaves empty), from the fit's stated covariance.
std::vector<double> Log10LevelDensityUncertainties(const LineTable& table, const FitResult& fit);

}  // namespace lumora
