// The results line that fits and maps append to the report: densities of
// the populated levels with their uncertainties, T, the sum and the
// procedure, after a header line before the first one.
#pragma once

#include <string>
#include <vector>

#include "lsq/lsq_types.h"
#include "model/element_data.h"

namespace lumora {

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

// The figures of the model's levels at b; n is the number of fitted
// parameters; fit is false for the map (no uncertainties).
ResultsFigures ComputeResultsFigures(const std::vector<TLevelRecord>& levels,
                                     const ParameterVector& b, const ParameterVector& errors,
                                     int n, bool fit);

// Adds the header (when resultsLineCount is 0) and one results line to
// target, counting it; raises "Lines not assigned." when target is absent.
// The densities are those of `levels` as the model left them at b; n is the
// number of fitted parameters; fit is false for the map.
void ResultsLine(const std::vector<TLevelRecord>& levels, const ParameterVector& b,
                 const ParameterVector& errors, int& resultsLineCount,
                 std::vector<std::string>* target, const std::string& dataFileName, int n,
                 bool fit);

}  // namespace lumora
