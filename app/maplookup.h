// The value the map plot shows at a plot position: the residual sum of the
// grid point nearest to it, or -1 off the grid.
#pragma once

#include <vector>

#include "model/residual_map.h"

namespace lumora {

// x is log10 n_1, y the temperature. Ties between two grid points go to the
// even one. -1 when a step is zero, both steps are negative or the position
// lies outside the grid.
double MapValueAt(const MapRange& range, const std::vector<std::vector<double>>& grid,
                               double x, double y);

}  // namespace lumora
