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

#include "lsq/marqdef.h"
#include "model/atomicdata.h"
#include "model/ebfmodel.h"
#include "model/residualmap.h"
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

// Levels 0..3 absorb; 4..6 are upper levels only.
inline void LoadSmallElement(const std::vector<LineSpec>& lines) {
  LevelArray = {MakeLevel(11.50, 5), MakeLevel(11.60, 3), MakeLevel(11.70, 1),
                MakeLevel(11.80, 3), MakeLevel(13.00, 3), MakeLevel(13.10, 5),
                MakeLevel(13.30, 1)};
  LineArray.clear();
  for (const LineSpec& spec : lines) {
    TLineRecord line;
    line.AR.WaveLength = spec.wavelength;
    line.AR.Aki = spec.aki;
    line.AR.gk = static_cast<int32_t>(LevelArray[spec.upper].g);
    line.AR.gi = static_cast<int32_t>(LevelArray[spec.lower].g);
    line.AR.Ek_eV = LevelArray[spec.upper].Energy;
    line.AR.Ei_eV = LevelArray[spec.lower].Energy;
    line.UpperState = spec.upper;
    line.LowerState = spec.lower;
    line.Int = 1;
    LineArray.push_back(line);
  }
  ClearPrecalc();
}

inline std::vector<LineSpec> EightLines() {
  return {{800.0, 3e7, 4, 0}, {810.0, 2e7, 4, 1}, {820.0, 1e7, 4, 2}, {760.0, 2.5e7, 5, 0},
          {770.0, 1e7, 5, 1}, {780.0, 0.5e7, 5, 3}, {700.0, 4e7, 6, 1}, {710.0, 1e7, 6, 3}};
}

// The vector a command would build: Tn 300 K, path 1 m, argon's mass, four
// levels, "Boltzmann", 50 iterations.
inline vector BaseVector(long double log10N1, long double temperature, int distribution = 0) {
  vector b;
  b[1] = log10N1;
  b[2] = temperature;
  b[3] = 300;
  b[4] = 1;
  b[5] = kMassAmu * kAtomicMassUnit;
  b[6] = 4;
  b[7] = distribution;
  b[8] = 50;
  return b;
}

// Sets every line's G_m to the model's value at b.
inline void MeasureFromModel(const vector& b) {
  ClearPrecalc();
  for (size_t k = 0; k < LineArray.size(); ++k)
    LineArray[k].G_m = static_cast<double>(EvaluateModel(b, static_cast<long double>(k)));
  ClearPrecalc();
}

using testing::ReadFile;
using testing::SplitCrLf;
using TempDir = testing::TempFolder;

inline std::vector<std::string> SplitBlanks(const std::string& text) {
  std::vector<std::string> words;
  size_t start = 0;
  while (start < text.size()) {
    while (start < text.size() && text[start] == ' ') ++start;
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) words.push_back(text.substr(start, end - start));
    start = end;
  }
  return words;
}

}  // namespace lumora::fittest
