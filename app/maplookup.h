// The value the map plot shows at a plot position: the residual sum of the
// grid point nearest to it, or -1 off the grid.
#pragma once

#include <optional>
#include <vector>

#include "model/residual_map.h"

namespace lumora {

struct GridCell {
  int row = 0;     // temperature point
  int column = 0;  // density point
};

// The grid point nearest to (x, y) for ranges running either way along
// either axis; nothing off the grid or when a step is zero. Ties between two
// grid points go to the even one.
std::optional<GridCell> NearestGridCell(const MapRange& range,
                                        const std::vector<std::vector<double>>& grid, double x,
                                        double y);

// x is log10 n_1, y the temperature. -1 when a step is zero, both steps are
// negative or the position lies outside the grid.
double MapValueAt(const MapRange& range, const std::vector<std::vector<double>>& grid, double x,
                  double y);

}  // namespace lumora
