// The uncertainty commands' requests as both front ends take them: the
// Monte Carlo refits after a fit, with their seed, and the confidence
// region after a map.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "model/monte_carlo.h"

namespace lumora {

// A seed as a user types it: a whole number from 0 to 2^64 - 1 (a leading
// "+" allowed); nothing for any other text.
std::optional<uint64_t> ParseSeed(std::string_view text);
// A seed drawn from the system's random device, for a run the user did not
// seed; the report names it, so that the run can be repeated.
uint64_t DrawSeed();

// What a user chooses for the refits of a fit.
struct MonteCarloSettings {
  int runs = 0;
  double noise = 0;  // relative standard deviation of each intensity
  bool akiAccuracy = false;
  uint64_t seed = 0;
};

// The refits of the fit `fit` asks for, checked (Error for a run count out
// of range or a negative noise); where the fit ended is the session's part.
MonteCarloRequest MonteCarloRequestFor(const FitRequest& fit, const MonteCarloSettings& settings);

}  // namespace lumora
