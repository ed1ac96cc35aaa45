// The continuum under emission lines.
//
// The method is SNIP (statistics-sensitive non-linear iterative peak
// clipping; Ryan et al. 1988, Morháč et al. 1997). It was chosen over
// asymmetric least squares because its one parameter, the clipping half
// width, follows directly from the line width the integration already
// knows, while asymmetric least squares needs a smoothness and an asymmetry
// tuned per spectrum and a sparse solve; SNIP reproduces a straight or gently
// curved continuum exactly, is not pulled up by strong lines, and costs
// O(points x half width), bounded by clipping block means for wide half
// widths.
//
// Like every lower-envelope method it follows the bottom of the noise, and
// under a line, where fewer clipping widths reach the continuum, less deeply
// than beside it. The clipping therefore works on a moving average (the
// usual SNIP smoothing), which shrinks the noise and that difference; the
// integration then lifts the baseline by the median residual of nearby
// line-free points.
#pragma once

#include <cstddef>
#include <vector>

namespace lumora {

// Clipping half widths above this many points work on block means.
inline constexpr size_t kWidestClipPoints = 64;

// The SNIP baseline of y, smoothed over +-smoothHalfWidth points, with
// clipping half widths 1 .. clipHalfWidth points; the first and last
// points keep narrower windows. Wider than kWidestClipPoints the clipping
// runs on means of blocks of clipHalfWidth / kWidestClipPoints points,
// interpolated back: the cost stays linear in the points.
std::vector<double> SnipBaseline(const std::vector<double>& y, size_t clipHalfWidth,
                                 size_t smoothHalfWidth);

}  // namespace lumora
