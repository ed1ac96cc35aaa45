// The window's texts of physical quantities: densities in m^-3 beside
// their logarithm, T_exc in K, the 1s2/4 density ratio by name, and the
// pointer read-outs of the charts built from them.
#pragma once

#include <QString>

#include "model/model_parameters.h"
#include "model/monte_carlo.h"

namespace lumora {

// "n_1 1.778e+16 m^-3 (log 16.250)"; name is the density's symbol.
QString DensityText(double log10Density, const QString& name = "n_1");
// "T_exc 1235 K", or under "1s levels" "n(1s2,4)/n_1 0.512" with the value
// given in thousandths.
QString SecondParameterText(Distribution distribution, double value);
// The second parameter as the map's fields and its plot's axis caption it.
QString SecondParameterAxis(Distribution distribution);
QString MapSecondAxisTitle(Distribution distribution);

// The status bar's pointer read-outs of the charts, in their own axes.
QString DensityChartReadout(double energy, double log10Density);
QString AnalysisChartReadout(double r, double wavelength, const QString& nearestPair);
QString MapReadout(Distribution distribution, double log10Density, double second);

// "480 of 500 refits shown; 20 failed", and for those stopped by the
// iteration limit the limit to raise.
QString RefitFailureNote(const MonteCarloResult& result, int iterationLimit);

}  // namespace lumora
