// The uncertainty options of lumora-cli fit and map: Monte Carlo refits
// after a fit, the confidence region after a map.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frontend/uncertainty_requests.h"
#include "model/confidence_region.h"
#include "model/session.h"

namespace lumora::cli {

struct UncertaintyOptions {
  // The intensities' uncertainties that weight the fit or map: --noise REL,
  // --poisson or --sigma-column.
  IntensityUncertainty intensities;
  MonteCarloSettings monteCarlo;  // runs 0: no refits; the seed drawn when not given
  std::optional<double> confidence;
  std::optional<double> profile;  // fit --profile LEVEL
};

// Takes --noise REL, --poisson, --sigma-column (fit and map), --monte-carlo
// N, --aki-accuracy, --seed S (fit) and --confidence LEVEL (map) out of
// args; UsageError for a bad value or a combination that means nothing.
UncertaintyOptions TakeUncertaintyOptions(std::vector<std::string>& args, bool fit);

struct MonteCarloOutcome {
  MonteCarloRequest request;
  MonteCarloResult result;
};

// The refits of a fit that ended normally, on at most `threads` threads.
MonteCarloOutcome RunMonteCarloFor(const Session& session, const FitRequest& request,
                                   const FitResult& fit, const UncertaintyOptions& options,
                                   int threads);

}  // namespace lumora::cli
