// How well a fit fixes the densities of the absorbing levels: the standard
// uncertainty of log10 of each level's density, carried from the fitted
// parameters' covariance to the level by first-order propagation.
#pragma once

#include <vector>

#include "model/element_data.h"
#include "model/fit.h"

namespace lumora {

// One entry per level of `table` (0 for a level the distribution leaves
// empty); `table` holds the lines and levels the fit ran on and stays as it
// is. The covariance is the one the fit's standard errors come from.
std::vector<double> Log10LevelDensityUncertainties(const LineTable& table, const FitResult& fit);

}  // namespace lumora
