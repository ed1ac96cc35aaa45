// Checks of a command's inputs before it runs: a value the model cannot
// use is refused with a message naming the window's field and the value,
// rather than ending in a fit that never moves.
#pragma once

#include <vector>

#include "model/self_absorption.h"

namespace lumora {

// The range of n_1 the model takes (m-3). Below it no line absorbs at any
// path the model takes and above it every line is saturated: either way the
// branching fractions no longer depend on n_1.
inline constexpr long double kMinLog10Density = 0;
inline constexpr long double kMaxLog10Density = 30;
// The longest absorption path the model takes (m).
inline constexpr long double kMaxPath = 1000;

// The window's captions, which the messages name.
inline constexpr const char* kDensityCaption = "Density n_1 (m-3)";
inline constexpr const char* kPathCaption = "Abs. path (m)";
inline constexpr const char* kGasTemperatureCaption = "Gas Tn (K)";
inline constexpr const char* kCountCaption = "Count";
inline constexpr const char* kMassCaption = "Atomic mass (kg)";

// Path, gas temperature, mass and level count of the model.
void CheckModelInputs(const ModelParameters& model);
// log10 n_1 inside the range above.
void CheckLog10Density(long double log10N1, const char* caption);
// A value above 0: where a fit starts the second parameter (the
// minimiser's step is relative to it, so it cannot start from 0).
void CheckAboveZero(long double value, const char* caption);
// The second parameter at a map's grid points: an excitation temperature
// above 0 under "Boltzmann", a relative density of 0 or more under
// "1s levels" (0 leaves the levels 1s2 and 1s4 empty, which the model takes).
void CheckSecondParameter(long double second, Distribution distribution, const char* caption);
// The caption of the second parameter's fit field under the distribution.
const char* SecondParameterCaption(Distribution distribution);

// A fit or a map needs a line with a measured intensity above 0.
void CheckMeasuredIntensities(const std::vector<TLineRecord>& lines);

}  // namespace lumora
