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

// SNIP clipping with half widths 1 .. clipHalfWidth in place.
void Clip(std::vector<double>& current, size_t clipHalfWidth) {
  const size_t n = current.size();
  std::vector<double> next = current;
  const size_t widest = std::min(clipHalfWidth, (n - 1) / 2);
  for (size_t p = 1; p <= widest; ++p) {
    for (size_t i = p; i < n - p; ++i)
      next[i] = std::min(current[i], 0.5 * (current[i - p] + current[i + p]));
    std::copy(next.begin() + p, next.end() - p, current.begin() + p);
  }
}

// Block means of `factor` points and the positions of their centres.
struct Decimated {
  std::vector<double> value;
  std::vector<double> at;
};

Decimated BlockMeans(const std::vector<double>& y, size_t factor) {
  Decimated d;
  for (size_t start = 0; start < y.size(); start += factor) {
    const size_t end = std::min(y.size(), start + factor);
    double sum = 0;
    for (size_t i = start; i < end; ++i) sum += y[i];
    d.value.push_back(sum / static_cast<double>(end - start));
    d.at.push_back(0.5 * static_cast<double>(start + end - 1));
  }
  return d;
}

// The decimated curve at every point, linear between block centres and
// flat beyond the outer ones.
std::vector<double> Expand(const Decimated& d, size_t n) {
  std::vector<double> y(n);
  size_t j = 0;
  for (size_t i = 0; i < n; ++i) {
    const double x = static_cast<double>(i);
    while (j + 1 < d.at.size() && d.at[j + 1] <= x) ++j;
    if (j + 1 >= d.at.size() || x <= d.at[j]) {
      y[i] = d.value[j];
      continue;
    }
    const double t = (x - d.at[j]) / (d.at[j + 1] - d.at[j]);
    y[i] = d.value[j] + t * (d.value[j + 1] - d.value[j]);
  }
  return y;
}

}  // namespace

std::vector<double> SnipBaseline(const std::vector<double>& y, size_t clipHalfWidth,
                                 size_t smoothHalfWidth) {
  const size_t n = y.size();
  if (n == 0) return {};
  std::vector<double> current = MovingAverage(y, smoothHalfWidth);
  if (clipHalfWidth <= kWidestClipPoints) {
    Clip(current, clipHalfWidth);
    return current;
  }
  // Clipping costs the points times the half width: a wide half width
  // clips block means instead, so that the cost stays linear in the points.
  // The smoothing has already taken out what a block would average.
  const size_t factor = (clipHalfWidth + kWidestClipPoints - 1) / kWidestClipPoints;
  Decimated coarse = BlockMeans(current, factor);
  Clip(coarse.value, (clipHalfWidth + factor - 1) / factor);
  return Expand(coarse, n);
}

}  // namespace lumora
