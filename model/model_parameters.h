// The self-absorption model's inputs by name, and how it populates the
// absorbing levels.
#pragma once

#include <cstdint>

namespace lumora {

// How the absorbing levels are populated from n_1.
enum class Distribution : int {
  Boltzmann = 0,    // at the excitation temperature, over the first Count levels
  FirstLevels = 1,  // "1s levels": n_2 = n_4 from the second parameter, n_3 = 0.2 n_1
};

// The model's inputs by name.
struct ModelParameters {
  long double log10N1 = 0;
  long double second = 0;          // T_exc in K, or the "1s levels" relative density
  long double gasTemperature = 0;  // Tn in K
  long double path = 0;            // absorption path in m
  long double mass = 0;            // in kg
  int32_t levelCount = 0;          // levels the distribution populates
  Distribution distribution = Distribution::Boltzmann;
};

// Raises Error for a value that names no distribution.
void CheckDistribution(Distribution distribution);

// One of the model's real inputs, as a fit frees it or a scan steps it:
// &ModelParameters::log10N1, &ModelParameters::second.
using ModelInput = long double ModelParameters::*;

}  // namespace lumora
