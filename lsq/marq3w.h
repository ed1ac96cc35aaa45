// Levenberg-Marquardt minimiser (Marquardt's scaled form) for up to 8
// parameters and 100 weighted data points, with its iteration log.
#pragma once

#include <string>

#include "lsq/marqdef.h"

namespace lumora {

// Fills settings entries 1..6 (LambdaStart, LambdaMax, LambdaDown, LambdaUp,
// DiagonalWeight, SumTarget) and a default iteration limit of 50.
void MarqDefaults(MarqSettings& settings, int& iterLimit);

// Creates or truncates the log; with mode below 3 writes a line of 84 "=".
void MarqOpenLog(const std::string& fileName, int mode);

// Runs the minimiser. Refuses n outside 1..8 and m outside 1..100 with an
// Error before the run starts, and print level 1 without an open log with an
// InOutError. stopCode is -1 from the start until the run ends normally.
void Marquardt(const MarqSettings& settings, int iterLimit, int printLevel, int m,
               const TMarqArray& x, const TMarqArray& y, const TMarqArray& w, int n,
               vector& par, long double& sum, TMarqArray& cov, TMarqArray& ycalc,
               int& stopCode, const TMarqFunc& func, const TMarqDeriv& deriv);

// Appends the report to the log and closes it; for codes -1, 3 and 4 then
// raises an Error whose message is the code's report text. Errors of a
// parameter without degrees of freedom (M <= N, M > 2) print as "undefined",
// correlations with a zero variance as "n/a". Raises InOutError when no log
// is open.
void MarqReport(int stopCode, int m, int n, long double sum, const vector& par,
                const TMarqArray& cov);

// "given sum of squeres was achieved", ... ; "return code :" + "%3d" otherwise.
std::string StopCodeReportText(int stopCode);
// The results-line text after "fit:" ("sum reached", "OK", ...); empty for
// codes without one.
std::string StopCodeResultText(int stopCode);

// Parameter name in printed output: "log10(n_1)", "Te", "b3", ...
std::string ParameterName(int index);

}  // namespace lumora
