// The results of fit and map as JSON objects, one per measurement file, for
// scripts that read `lumora-cli fit --json` as JSON Lines. The numbers are
// the doubles the results line rounds, in full precision.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "model/fit.h"
#include "model/residual_map.h"

namespace lumora::cli {

// `levels` are the table's levels as the fit left them.
nlohmann::json FitJson(const std::string& file, const FitResult& fit,
                       const std::vector<TLevelRecord>& levels);
// `levels` are the table's levels as the map left them (at its minimum).
nlohmann::json MapJson(const std::string& file, const MapRequest& request, const MapResult& map,
                       const std::vector<TLevelRecord>& levels);
nlohmann::json ErrorJson(const std::string& file, const std::string& error);

}  // namespace lumora::cli
