#include "frontend/uncertainty_requests.h"

#include <charconv>
#include <random>

namespace lumora {

std::optional<uint64_t> ParseSeed(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  uint64_t seed = 0;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), seed);
  if (text.empty() || failure != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return seed;
}

uint64_t DrawSeed() {
  std::random_device device;
  return (uint64_t{device()} << 32) | device();
}

MonteCarloRequest MonteCarloRequestFor(const FitRequest& fit, const MonteCarloSettings& settings) {
  MonteCarloRequest request;
  request.fit = fit;
  request.runs = settings.runs;
  request.intensityNoise = settings.noise;
  request.akiAccuracy = settings.akiAccuracy;
  request.seed = settings.seed;
  CheckMonteCarloRequest(request);
  return request;
}

}  // namespace lumora
