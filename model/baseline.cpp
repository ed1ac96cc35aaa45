#include "model/baseline.h"

#include <algorithm>

namespace lumora {

namespace {

// The mean over +-half points, narrowed near the ends; a running sum keeps
// it linear in the points.
std::vector<double> MovingAverage(const std::vector<double>& y, size_t half) {
  const size_t n = y.size();
  std::vector<double> prefix(n + 1, 0.0);
  for (size_t i = 0; i < n; ++i) prefix[i + 1] = prefix[i] + y[i];
  std::vector<double> mean(n);
  for (size_t i = 0; i < n; ++i) {
    const size_t reach = std::min({half, i, n - 1 - i});
    mean[i] = (prefix[i + reach + 1] - prefix[i - reach]) / static_cast<double>(2 * reach + 1);
  }
  return mean;
}

}  // namespace

std::vector<double> SnipBaseline(const std::vector<double>& y, size_t clipHalfWidth,
                                 size_t smoothHalfWidth) {
  const size_t n = y.size();
  if (n == 0) return {};
  std::vector<double> current = MovingAverage(y, smoothHalfWidth);
  std::vector<double> next = current;
  const size_t widest = std::min(clipHalfWidth, (n - 1) / 2);
  for (size_t p = 1; p <= widest; ++p) {
    for (size_t i = p; i < n - p; ++i)
      next[i] = std::min(current[i], 0.5 * (current[i - p] + current[i + p]));
    std::copy(next.begin() + p, next.end() - p, current.begin() + p);
  }
  return current;
}

}  // namespace lumora
