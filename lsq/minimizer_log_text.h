// Texts of the minimiser's log: the rules, the iteration table, and the
// figures of the report (parameter errors and correlation coefficients).
#pragma once

#include <string>
#include <string_view>

#include "lsq/levenberg_marquardt.h"
#include "lsq/lsq_types.h"

namespace lumora {

// The line of 84 "=" that opens a log, and the 84 "-" under the table header.
std::string_view OpeningRule();
std::string_view TableRule();

// Name of parameter i (0-based) in printed output: names[i], or "b<i+1>"
// when the caller named fewer parameters.
std::string ParameterLabel(const ParameterNames& names, int i);

// "iter", the parameter names in 12 characters, "sumr" in 17.
std::string IterationTableHeader(const ParameterNames& names, int n);
// Iteration number in 3, each parameter as " " + a 12-wide exponent field,
// the sum of squares as " " + a 15-wide exponent field.
std::string IterationTableRow(int iteration, const ParameterValues& parameters, long double sum);

// The error column of parameter i (0-based), 15 wide: sqrt(S / (M - N) *
// Cov(i,i)) for M > 2, 0 for M <= 2, "undefined" when M <= N or the variance
// is negative; N is the covariance's order.
std::string ParameterErrorField(int m, long double sum, const ParameterMatrix& cov, int i);
// Correlation coefficient r(i,j) as fixed 6.2, or "   n/a" when a variance
// is zero or negative and the coefficient has no value.
std::string CorrelationField(const ParameterMatrix& cov, int i, int j);

}  // namespace lumora
