#include "app/readouts.h"

#include <cmath>

namespace lumora {

namespace {

// Under "1s levels" the second parameter is n(1s2) / n_1 = n(1s4) / n_1 in
// thousandths.
constexpr double kPerMille = 1000;

}  // namespace

QString DensityText(double log10Density, const QString& name) {
  return QString("%1 %2 m^-3 (log %3)")
      .arg(name)
      .arg(std::pow(10.0, log10Density), 0, 'e', 3)
      .arg(log10Density, 0, 'f', 3);
}

QString SecondParameterText(Distribution distribution, double value) {
  if (distribution == Distribution::FirstLevels)
    return QString("n(1s2,4)/n_1 %1").arg(value / kPerMille, 0, 'f', 3);
  return QString("T_exc %1 K").arg(value, 0, 'f', 0);
}

QString SecondParameterAxis(Distribution distribution) {
  return distribution == Distribution::FirstLevels ? "1s2/4 density n(1s2,4)/n_1 (1/1000)"
                                                   : "Temperature T_exc (K)";
}

QString MapSecondAxisTitle(Distribution distribution) {
  return distribution == Distribution::FirstLevels ? "n(1s2,4)/n_1 [1/1000]" : "Temperature [K]";
}

QString DensityChartReadout(double energy, double log10Density) {
  return QString("energy %1 eV  -  %2")
      .arg(energy, 0, 'f', 3)
      .arg(DensityText(log10Density, "n"));
}

QString AnalysisChartReadout(double r, double wavelength, const QString& nearestPair) {
  QString text = QString("R %1  -  lower wavelength %2 nm").arg(r, 0, 'f', 4).arg(wavelength, 0,
                                                                                  'f', 3);
  if (!nearestPair.isEmpty()) text += "  -  pair " + nearestPair + " nm";
  return text;
}

QString MapReadout(Distribution distribution, double log10Density, double second) {
  return DensityText(log10Density) + "  -  " + SecondParameterText(distribution, second);
}

QString RefitFailureNote(const MonteCarloResult& result, int iterationLimit) {
  const int shown = result.runs - result.failed;
  QString note = QString("%1 of %2 refits shown").arg(shown).arg(result.runs);
  if (result.failed == 0) return note;
  note += QString("; %1 failed").arg(result.failed);
  if (result.iterationLimitFailures > 0)
    note += QString("\n%1 stopped at the iteration limit of %2: raise \"Max iteration number\" "
                    "to %3")
                .arg(result.iterationLimitFailures)
                .arg(iterationLimit)
                .arg(SuggestedIterationLimit(iterationLimit));
  return note;
}

}  // namespace lumora
