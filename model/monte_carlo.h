// Monte Carlo refits: how far n_1 (and the second parameter) move when the
// measured intensities carry noise and the transition probabilities carry
// the uncertainty their accuracy grade allows. Each refit perturbs a copy of
// the line table and starts where the unperturbed fit ended.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/fit.h"

namespace lumora {

inline constexpr int kMinMonteCarloRuns = 10;
inline constexpr int kMaxMonteCarloRuns = 100000;

// The relative standard deviation an accuracy grade of an Aki stands for
// (AAA 0.3 %, ..., E 50 %); nothing for a text that is no grade.
std::optional<double> AccuracyBound(std::string_view grade);

struct MonteCarloRequest {
  FitRequest fit;             // the settings of the unperturbed fit
  ModelParameters fitted;     // where the unperturbed fit ended
  int runs = 0;               // kMinMonteCarloRuns..kMaxMonteCarloRuns
  double intensityNoise = 0;  // each intensity times a log-normal factor of this relative spread
  bool akiAccuracy = false;   // each Aki times a log-normal factor of its grade
  uint64_t seed = 0;
  int threads = 0;  // 0: every core
  // Called after each refit (refits done, runs), one call at a time, from
  // whichever thread did the refit; an exception it raises stops the runs
  // and leaves RunMonteCarlo.
  std::function<void(int done, int runs)> progress;
};

struct SampleStatistics {
  double mean = 0;
  double std = 0;  // sample standard deviation
  double p2_5 = 0;
  double p50 = 0;
  double p97_5 = 0;
};

struct MonteCarloResult {
  int runs = 0;
  // Refits that raised an error (a parameter the perturbed lines no longer
  // tell, an end beyond the model's edge) or stopped by the lambda or the
  // iteration limit.
  int failed = 0;
  int iterationLimitFailures = 0;  // of them: stopped by the iteration limit
  int lowerEdgeFailures = 0;       // of them: ended below the model's lower edge of n_1
  int thinLinesFailures = 0;       // of them: no better than lines without self-absorption
  // When more than 5 % of the refits ended at the lower edge, the lines
  // bound n_1 from above only: the 95th percentile of n_1 over the refits
  // that succeeded, those that explained the lines no better than lines
  // without self-absorption (at their n_1) and those at the edge (counted
  // at the edge).
  std::optional<double> n1UpperLimit;
  uint64_t seed = 0;
  int linesWithoutGrade = 0;  // counted as E when the accuracy is used
  SampleStatistics log10N1;
  SampleStatistics n1;
  std::optional<SampleStatistics> second;  // when the second parameter is fitted
  std::vector<double> log10N1Samples;      // of the successful refits, in run order
  std::vector<double> secondSamples;       // the same refits' second parameter, when fitted
};

// The iteration limit to suggest when refits stopped at `limit`.
int SuggestedIterationLimit(int limit);

// Raises Error for a run count outside its range, a negative noise, or
// nothing to perturb.
void CheckMonteCarloRequest(const MonteCarloRequest& request);

// Refits copies of `table` (its lines with intensities and G_m as measured).
// The same request gives the same result whatever the number of threads.
MonteCarloResult RunMonteCarlo(const LineTable& table, const MonteCarloRequest& request);

// Mean, sample standard deviation, median and the 2.5 % and 97.5 %
// percentiles (linear between order statistics).
SampleStatistics Statistics(std::vector<double> values);

// The report lines that follow the fit's results line: the spread of the
// refits, or where the lines bound n_1 from above only, that bound instead.
std::vector<std::string> MonteCarloReport(const MonteCarloResult& result,
                                          const MonteCarloRequest& request);

}  // namespace lumora
