#include "app/maplookup.h"

#include <cfenv>
#include <cmath>

namespace lumora {

namespace {

constexpr double kNoValue = -1;

// Nearest grid index, halves to even; false when the position is far
// outside any grid (or not a number).
bool NearestIndex(double offset, double step, long long& index) {
  const double steps = offset / step;
  if (!std::isfinite(steps) || std::fabs(steps) > 1e15) return false;
  const int previous = std::fegetround();
  std::fesetround(FE_TONEAREST);
  index = std::llrint(steps);
  std::fesetround(previous);
  return true;
}

}  // namespace

std::optional<GridCell> NearestGridCell(const MapRange& r,
                                        const std::vector<std::vector<double>>& grid, double x,
                                        double y) {
  if (r.dx == 0 || r.dy == 0) return std::nullopt;
  long long column = 0, row = 0;
  if (!NearestIndex(x - r.x0, r.dx, column) || !NearestIndex(y - r.y0, r.dy, row))
    return std::nullopt;
  if (row < 0 || column < 0 || grid.empty()) return std::nullopt;
  if (row > static_cast<long long>(grid.size()) - 1) return std::nullopt;
  if (column > static_cast<long long>(grid[row].size()) - 1) return std::nullopt;
  return GridCell{static_cast<int>(row), static_cast<int>(column)};
}

double MapValueAt(const MapRange& r, const std::vector<std::vector<double>>& grid, double x,
                  double y) {
  if (r.dx <= 0 && r.dy <= 0) return kNoValue;
  const std::optional<GridCell> cell = NearestGridCell(r, grid, x, y);
  return cell ? grid[cell->row][cell->column] : kNoValue;
}

}  // namespace lumora
