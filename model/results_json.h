// The results of the commands as JSON objects, one per measurement file, for
// scripts that read `lumora-cli fit --json` as JSON Lines. The numbers are
// the doubles the results line rounds, in full precision. One key scheme
// for every command: "log10_n1" and "u_log10_n1" for n_1, "second" for the
// model's second parameter with its name and unit.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "model/confidence_region.h"
#include "model/fit.h"
#include "model/monte_carlo.h"
#include "model/profile.h"
#include "model/residual_map.h"

namespace lumora {

// `levels` are the table's levels as the fit left them.
nlohmann::json FitJson(const std::string& file, const FitResult& fit,
                       const std::vector<TLevelRecord>& levels);
// `levels` are the table's levels as the map left them (at its minimum).
nlohmann::json MapJson(const std::string& file, const MapRequest& request, const MapResult& map,
                       const std::vector<TLevelRecord>& levels);
nlohmann::json ErrorJson(const std::string& file, const std::string& error);
// {"runs", "failed", "seed", "log10_n1": {...}, "n1": {...}, "second": {...}}
// with mean, std, p2_5, p50 and p97_5 of each; "second" when it was fitted;
// "lower_edge_refits" and "thin_lines_refits" when refits ended at the
// lower edge of n_1 or no better than lines without self-absorption, and
// "n1_upper_limit" when they bound n_1 from above only.
nlohmann::json MonteCarloJson(const MonteCarloResult& result);
// The level, the ranges the region covers and whether it reaches the edge.
nlohmann::json ProfileJson(const ProfileInterval& interval);
nlohmann::json ConfidenceJson(const ConfidenceRegion& region);

// The second parameter's name and unit in JSON: "T_exc_K" in K under a
// Boltzmann distribution, "n1s_ratio" in 1e-3 under "1s levels".
struct SecondParameterName {
  const char* name;
  const char* unit;
};
SecondParameterName SecondParameterJsonName(Distribution distribution);

}  // namespace lumora
