// The fit driver: fits log10 n_1 and optionally b2 of the model to the
// measured branching fractions of LineArray, writes the fit log and reports
// one results line (or the whole log).
#pragma once

#include <string>
#include <vector>

#include "lsq/marqdef.h"

namespace lumora {

inline constexpr const char* kFitLogFileName = "lumora.txt";
// The minimiser's data arrays hold this many points.
inline constexpr int kMaxFitLines = 100;

enum ReportKind : int { kReportFinalResults = 0, kReportFitIteration = 1 };

struct FitOutcome {
  vector parameters;  // fitted vector; b11 the sum of squares, b12 the stop code
  vector errors;      // errors of the fitted parameters (0 with 2 lines or fewer)
};

// Runs one fit on the driver's own copy of par (n = 1: b1 only, n = 2: b1
// and b2). A nonzero noiseLevel perturbs the measured values with
// GaussNoise. Every line's G_f gets the model value at the fitted vector.
// reportLines, when given, receive the results line (kind 0) or the fit log
// (kind 1). More than kMaxFitLines lines, or none, are refused before the
// log is touched.
FitOutcome FitDriver(vector par, int iterLimit, int n, double noiseLevel,
                     const std::string& dataFileName, const std::string& logFileName,
                     std::vector<std::string>* reportLines, int reportKind);

// mean + sigma * (sum of 12 uniform numbers in [0, 1) - 6).
long double GaussNoise(long double mean, long double sigma);

}  // namespace lumora
