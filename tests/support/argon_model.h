// The model inputs of the bundled argon samples as the settings give them:
// n_1 1E16 m^-3, T_exc 1000 K, Tn 300 K, a path of 1 m, argon's mass, four
// levels of a Boltzmann distribution.
#pragma once

#include "model/self_absorption.h"

namespace lumora::testing {

inline ModelParameters ArgonModel() {
  ModelParameters p;
  p.log10N1 = 16;
  p.second = 1000;
  p.gasTemperature = 300;
  p.path = 1;
  p.mass = 39.948L * kAtomicMassUnit;
  p.levelCount = 4;
  return p;
}

}  // namespace lumora::testing
