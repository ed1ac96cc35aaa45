// The results line that fits and maps append to the report: densities of
// the populated levels with their uncertainties, T, the sum and the
// procedure, after a header line before the first one.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "lsq/lsq_types.h"
#include "model/element_data.h"
#include "model/model_parameters.h"

namespace lumora {

struct FitResult;
struct MapResult;

// What a results line states: the model inputs its densities were computed
// at, the standard errors of the fitted parameters (none for a map), the
// sum, and for a fit how the minimiser stopped.
struct ResultsInput {
  ModelParameters at;
  long double log10N1Error = 0;
  long double secondError = 0;
  bool secondFitted = false;
  // Over the fitted parameters as their standard errors state it; empty for
  // a map, whose densities have no uncertainties.
  ParameterMatrix covariance;
  long double sum = 0;
  std::optional<StopCode> fitStop;  // none: a map
};
ResultsInput FitResultsInput(const FitResult& fit);

// What the results line's u(n_1) is, and what else the fit knows of it: for
// a weighted fit its chi-square and p-value, for an unweighted one the robust
// (sandwich) u(log10 n_1) beside the one from the residuals' scatter.
std::vector<std::string> FitUncertaintyLines(const FitResult& fit);
ResultsInput MapResultsInput(const MapResult& map);
// What a weighted map's sums are, with the chi-square test of its minimum;
// nothing for an unweighted map.
std::vector<std::string> MapUncertaintyLines(const MapResult& map);

// The figures a results line shows: the density of each covered level with
// its uncertainty, their total with its uncertainty, and the procedure
// ("map", or "fit:" and the stop code's text).
struct ResultsFigures {
  std::vector<long double> densities;      // n_1, n_2, ...
  std::vector<long double> uncertainties;  // u(n_1), u(n_2), ...
  long double total = 0;
  long double totalUncertainty = 0;
  std::string procedure;
};

// The figures of the model's levels as the model left them at input.at.
ResultsFigures ComputeResultsFigures(const std::vector<TLevelRecord>& levels,
                                     const ResultsInput& input);

// A results line and the header before it (empty when an earlier line of
// the element had it).
struct ResultsLineText {
  std::string header;
  std::string line;
};

// Adds the header (when resultsLineCount is 0) and one results line to
// target, counting it, and returns them; raises "Lines not assigned." when
// target is absent. The densities are those of `levels` as the model left
// them at input.at.
ResultsLineText ResultsLine(const std::vector<TLevelRecord>& levels, const ResultsInput& input,
                            int& resultsLineCount, std::vector<std::string>* target,
                            const std::string& dataFileName);

}  // namespace lumora
