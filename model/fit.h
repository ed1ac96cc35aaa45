// The fit: log10 n_1 and optionally the second parameter of the model,
// fitted to the measured branching fractions of the model's line table, with
// the minimiser's log and the results line (or the whole log) as its report.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "lsq/levenberg_marquardt.h"
#include "model/self_absorption.h"

namespace lumora {

// The minimiser's data arrays hold this many points.
inline constexpr int kMaxFitLines = kMaxMinimizerPoints;

// What a fit adds to the report: its results line, or its whole log.
enum class ReportKind : int { FinalResults = 0, FitIteration = 1 };

struct FitRequest {
  ModelParameters start;
  bool fitSecond = false;  // also fit the second parameter
  int iterationLimit = 50;
  // Nonzero: the measured values are perturbed by GaussNoise(0, noiseLevel).
  double noiseLevel = 0;
  ReportKind report = ReportKind::FinalResults;
  bool withReport = true;  // false: no report at all
  std::string dataFileName;  // the measurement as the results line names it
  // The minimiser's log: a file the caller names, created anew; when empty,
  // a new file of this run alone in logFolder (empty: PrivateLogFolder()),
  // removed after the fit unless keepLog is set.
  std::string logPath;
  std::string logFolder;
  bool keepLog = false;
  bool writeLog = true;  // false: the run keeps no log at all
  // Called before each iteration of the minimiser; it may raise to stop the
  // fit, which then ends with that exception.
  std::function<void(int iteration)> beforeIteration;

  // Raises Error naming the field of the first input the model cannot use.
  void Validate() const;
};

struct FitResult {
  ModelParameters fitted;
  int parameterCount = 1;
  long double sum = 0;
  StopCode stopCode = StopCode::NotStarted;
  int iterations = 0;
  PointArray covariance;  // entry (i, j) at (i-1)*n + j
  // The fitted vector with b11 the sum and b12 the stop code, and the errors
  // of its fitted parameters (0 with 2 lines or fewer).
  ParameterVector parameters;
  ParameterVector errors;
  std::vector<std::string> report;
  std::string logPath;  // the log when it was kept or named by the caller
};

// The names the fit's log prints for its parameters.
ParameterNames FitParameterNames();

// Runs one fit. Every line's G_f gets the model value at the fitted vector.
// More than kMaxFitLines lines, or none, are refused before the log is
// touched. `noise` draws the perturbations when request.noiseLevel is set;
// `resultsLineCount` counts the results lines of the report.
FitResult RunFit(EbfModel& model, const FitRequest& request, int& resultsLineCount,
                 std::mt19937_64* noise = nullptr);

// mean + sigma * (sum of 12 uniform numbers in [0, 1) - 6).
long double GaussNoise(long double mean, long double sigma, std::mt19937_64& generator);

}  // namespace lumora
