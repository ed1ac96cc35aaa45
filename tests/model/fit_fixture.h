// A small element held in memory (four absorbing levels, three upper levels,
// eight lines) and a synthetic measurement made from the model itself at
// known n_1 and T, so that fits and maps have an exact answer.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lsq/lsq_types.h"
#include "model/element_data.h"
#include "model/fit.h"
#include "model/residual_map.h"
#include "model/results_line.h"
#include "model/self_absorption.h"
#include "tests/support/testfiles.h"

namespace lumora::fittest {

inline constexpr long double kTrueLog10N1 = 16.3L;
inline constexpr long double kTrueTemperature = 1500.0L;
inline constexpr double kMassAmu = 39.948;

struct LineSpec {
  double wavelength;
  double aki;
  int upper;
  int lower;
};

inline TLevelRecord MakeLevel(double energy, double g) {
  TLevelRecord level;
  level.Energy = energy;
  level.g = g;
  return level;
}

inline std::vector<LineSpec> EightLines() {
  return {{800.0, 3e7, 4, 0}, {810.0, 2e7, 4, 1},   {820.0, 1e7, 4, 2}, {760.0, 2.5e7, 5, 0},
          {770.0, 1e7, 5, 1}, {780.0, 0.5e7, 5, 3}, {700.0, 4e7, 6, 1}, {710.0, 1e7, 6, 3}};
}

// The model inputs a command would build: Tn 300 K, path 1 m, argon's mass,
// four levels, "Boltzmann".
inline ModelParameters BaseParameters(long double log10N1, long double temperature,
                                      Distribution distribution = Distribution::Boltzmann) {
  ModelParameters p;
  p.log10N1 = log10N1;
  p.second = temperature;
  p.gasTemperature = 300;
  p.path = 1;
  p.mass = kMassAmu * kAtomicMassUnit;
  p.levelCount = 4;
  p.distribution = distribution;
  return p;
}

// A fresh line table with its model and results-line count for every test.
class FitWorld {
 protected:
  // Levels 0..3 absorb; 4..6 are upper levels only.
  void LoadSmallElement(const std::vector<LineSpec>& lines) {
    table.levels = {MakeLevel(11.50, 5), MakeLevel(11.60, 3), MakeLevel(11.70, 1),
                    MakeLevel(11.80, 3), MakeLevel(13.00, 3), MakeLevel(13.10, 5),
                    MakeLevel(13.30, 1)};
    table.lines.clear();
    for (const LineSpec& spec : lines) {
      TLineRecord line;
      line.AR.WaveLength = spec.wavelength;
      line.AR.Aki = spec.aki;
      line.AR.gk = static_cast<int32_t>(table.levels[spec.upper].g);
      line.AR.gi = static_cast<int32_t>(table.levels[spec.lower].g);
      line.AR.Ek_eV = table.levels[spec.upper].Energy;
      line.AR.Ei_eV = table.levels[spec.lower].Energy;
      line.UpperState = spec.upper;
      line.LowerState = spec.lower;
      line.Int = 1;
      table.lines.push_back(line);
    }
    model.ClearCache();
  }

  // Sets every line's G_m to the model's value at p.
  void MeasureFromModel(const ModelParameters& p) {
    model.ClearCache();
    for (size_t k = 0; k < table.lines.size(); ++k)
      table.lines[k].G_m = static_cast<double>(model.Evaluate(p, static_cast<int>(k)));
    model.ClearCache();
  }

  // One fit from `start` (n parameters), its report lines appended to
  // `report` when given.
  FitResult Fit(const ModelParameters& start, int iterationLimit, int n,
                const std::string& dataFileName, const std::string& logPath,
                std::vector<std::string>* report = nullptr,
                ReportKind kind = ReportKind::FinalResults) {
    FitRequest request;
    request.target.start = start;
    request.target.fitSecond = n == 2;
    request.solver.iterationLimit = iterationLimit;
    request.report.kind = kind;
    request.report.dataFileName = dataFileName;
    request.log.path = logPath;
    FitResult result = RunFit(model, request, resultsLineCount);
    if (report) report->insert(report->end(), result.report.begin(), result.report.end());
    return result;
  }

  LineTable table;
  EbfModel model{table};
  int resultsLineCount = 0;
};

class FitTest : public ::testing::Test, public FitWorld {};

using testing::ReadFile;
using testing::SplitBlanks;
using testing::SplitCrLf;
using TempDir = testing::TempFolder;


}  // namespace lumora::fittest
