#include "model/baseline.h"

#include <algorithm>

namespace lumora {

namespace {

// The mean over +-half points, narrowed near the ends; a running sum keeps
// it linear in the points.
std::vector<double> MovingAverage(const std::vector<double>& y, int half) {
  const int n = static_cast<int>(y.size());
  std::vector<double> prefix(n + 1, 0.0);
  for (int i = 0; i < n; ++i) prefix[i + 1] = prefix[i] + y[i];
  std::vector<double> mean(n);
  for (int i = 0; i < n; ++i) {
    const int reach = std::min({half, i, n - 1 - i});
    mean[i] = (prefix[i + reach + 1] - prefix[i - reach]) / (2 * reach + 1);
  }
  return mean;
}

}  // namespace

std::vector<double> SnipBaseline(const std::vector<double>& y, int clipHalfWidth,
                                 int smoothHalfWidth) {
  const int n = static_cast<int>(y.size());
  std::vector<double> current = MovingAverage(y, std::max(smoothHalfWidth, 0));
  std::vector<double> next = current;
  const int widest = std::min(clipHalfWidth, (n - 1) / 2);
  for (int p = 1; p <= widest; ++p) {
    for (int i = p; i < n - p; ++i)
      next[i] = std::min(current[i], 0.5 * (current[i - p] + current[i + p]));
    std::copy(next.begin() + p, next.end() - p, current.begin() + p);
  }
  return current;
}

}  // namespace lumora
