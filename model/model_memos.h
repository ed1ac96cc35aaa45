// The self-absorption model's memos: what a line's rate and a level's
// population take from inputs that do not change within a command. Each
// memo holds only while every one of its inputs has the same bits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "linedb/line_file.h"
#include "model/element_data.h"
#include "model/extended_bits.h"

namespace lumora {

// The factors of a level's Boltzmann population, g/g0 and exp(-dE/kT), kept
// while the level, the ground level and T_exc stay the same: a fit of n_1
// alone, and every row of a map, reuse them.
struct BoltzmannFactors {
  bool valid = false;
  double energy = 0, g = 0, groundEnergy = 0, groundG = 0;
  long double tExc = 0;
  long double ratio = 0, boltzmann = 0;

  bool Hold(const TLevelRecord& level, const TLevelRecord& ground, long double t) const {
    return valid && SameBits(tExc, t) && SameBits(energy, level.Energy) && SameBits(g, level.g) &&
           SameBits(groundEnergy, ground.Energy) && SameBits(groundG, ground.g);
  }
  // Raises the faults of the population formula, in its order.
  void Compute(const TLevelRecord& level, const TLevelRecord& ground, long double t);
};

// 10^b1 as fp::Pow10 gives it, remembered by the bits of b1: a map asks for
// the same densities in every row, and a two-parameter fit for the same
// density with a shifted b2.
class Pow10Memo {
 public:
  long double Get(long double exponent);

 private:
  struct Entry {
    bool set = false;
    long double exponent = 0, value = 0;
  };
  static constexpr size_t kSlots = 512;
  static size_t Slot(const long double& v);
  Entry entries_[kSlots];
};

// What a line's rate takes from the line's own data and the thermal speed,
// kept while they stay the same (a command does not change them between
// evaluations).
struct LineConstants {
  bool set = false;
  double waveLength = 0, aki = 0;
  int32_t gk = 0, gi = 0;
  bool faultless = false;  // the strength raised no fault
  long double lambda = 0;  // wavelength in m
  long double strength = 0;
  long double doppler = 0;  // sqrt(pi) v lambda

  bool Hold(const TRecord& ar) const {
    return set && SameBits(waveLength, ar.WaveLength) && SameBits(aki, ar.Aki) && gk == ar.gk &&
           gi == ar.gi;
  }
  void Compute(const TRecord& ar, long double v);
};

// Absorption strength of a line, lambda^5 (gk/gi) / 8 pi h c x A, with
// lambda its wavelength in m.
long double LineStrength(const TRecord& ar, long double lambda);

}  // namespace lumora
