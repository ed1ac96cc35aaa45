// Texts of the minimiser's log: the iteration table and the figures of the
// report (parameter errors and correlation coefficients).
#pragma once

#include <string>

#include "lsq/marqdef.h"

namespace lumora {

// "iter", the parameter names in 12 characters, "sumr" in 17.
std::string MarqTableHeader(int n);
// Iteration number in 3, each parameter as " " + a 12-wide exponent field,
// the sum of squares as " " + a 15-wide exponent field.
std::string MarqTableRow(int iteration, const vector& par, int n, long double sum);

// The error column of parameter i, 15 wide: sqrt(S / (M - N) * Cov(i,i)) for
// M > 2, 0 for M <= 2, "undefined" when M <= N or the variance is negative.
std::string MarqErrorField(int m, int n, long double sum, const TMarqArray& cov, int i);
// Correlation coefficient r(i,j) as fixed 6.2, or "   n/a" when a variance
// is zero or negative and the coefficient has no value.
std::string MarqCorrelationField(int n, const TMarqArray& cov, int i, int j);

}  // namespace lumora
